// Reading a mapped file that may shrink under the reader. A read-only mapping of a file that is
// truncated, or overwritten through a truncation (cp, a sync client, a mail client compacting
// its store), raises SIGBUS at the next touch of a page past the file's new end, which would end
// the process. While a MappingGuard lives, such a touch puts a page of zeros where the lost page
// was, marks the mapping lost and lets the read go on: the reader then finds zeros where it
// expected a structure, and asks Lost() to tell that from damage.
//
// The SIGBUS handler is the process's own from the first guard on; a SIGBUS outside every
// guarded mapping goes to the handler that was there before (by default, the end of the
// process).
#pragma once

#include <cstddef>

namespace lumivex::pst {

class MappingGuard {
 public:
  // Guards the mapping of `size` bytes at `data`. With more guards alive than the handler has
  // room for (64), the mapping is not guarded: Guarded() says so.
  MappingGuard(const void* data, size_t size);
  ~MappingGuard();
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;

  bool Guarded() const { return slot_ >= 0; }
  // Whether a read fell on a page that the file no longer holds (and read zeros).
  bool Lost() const;

 private:
  int slot_ = -1;
};

}  // namespace lumivex::pst
