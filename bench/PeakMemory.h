// The benchmarks' one measure of memory: the process's peak resident size so far.
#pragma once

#include <sys/resource.h>

namespace lumivex::bench {

// Peak resident memory of this process, in KiB.
inline long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace lumivex::bench
