// A benchmark asked for its usage ("--help" or "-h" among its arguments) prints it and runs
// nothing: most run for minutes, some for an hour, and read their arguments loosely.
#pragma once

#include <cstdio>
#include <cstring>

namespace lumivex::bench {

// Whether the usage was asked for; it is then printed (`usage`: the program's own line of it).
inline bool UsageAsked(int argc, char** argv, const char* usage) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("Usage: %s\n", usage);
      return true;
    }
  return false;
}

}  // namespace lumivex::bench
