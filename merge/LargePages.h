// Large arrays a merge fills once, entry by entry, or reaches into at random: asked of the system
// in large pages where it gives them (Linux's transparent huge pages, where they are allowed on
// request). Filled in pages of 4 KiB, such an array takes a fault from the system every 4 KiB,
// each costing about as much as filling the page; reached into at random, nearly every reach
// misses the processor's table of pages, and its walk through the system's tables costs more
// than the reach itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include <sys/mman.h>

namespace lumivex::merge {

constexpr size_t kLargePage = size_t(2) << 20;

// The whole 2 MiB stretches of the room `v` has reserved, asked for in large pages. Only room
// reserved and not yet written takes no memory; a large page takes 2 MiB once written to.
template <typename T>
void PreferLargePages(std::vector<T>& v) {
  const auto begin = reinterpret_cast<uintptr_t>(v.data());
  const uintptr_t end = begin + v.capacity() * sizeof(T);
  const uintptr_t from = (begin + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
  const uintptr_t to = end & ~uintptr_t(kLargePage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

// Zeroed room of its own for `bytes` bytes (a multiple of 2 MiB), aligned to 2 MiB and asked for
// in large pages. Throws std::bad_alloc where the system gives none.
class LargePages {
 public:
  LargePages() = default;
  explicit LargePages(size_t bytes) : size_(bytes) {
    // Mapped with a large page's room to spare, then cut to the aligned part.
    void* mapped = mmap(nullptr, bytes + kLargePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto at = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (at + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
    if (aligned > at) munmap(mapped, aligned - at);
    const uintptr_t after = at + bytes + kLargePage - (aligned + bytes);
    if (after > 0) munmap(reinterpret_cast<void*>(aligned + bytes), after);
    data_ = reinterpret_cast<void*>(aligned);
    madvise(data_, bytes, MADV_HUGEPAGE);
  }
  ~LargePages() {
    if (data_) munmap(data_, size_);
  }
  LargePages(LargePages&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  LargePages& operator=(LargePages&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }
  void* data() const { return data_; }

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace lumivex::merge
