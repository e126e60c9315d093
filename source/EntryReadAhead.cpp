#include "source/EntryReadAhead.h"

namespace lumivex::backend {

EntryReadAhead::~EntryReadAhead() {
  stop_.store(true);
  Signal(roomSignal_);  // a builder asleep for room wakes and finds it is to stop
  thread_.join();
}

std::unique_ptr<ContactEntry> EntryReadAhead::Take(int index) {
  const uint64_t next = taken_.load(std::memory_order_relaxed);
  if (index < first_ || static_cast<uint64_t>(index - first_) != next || next >= total_)
    return nullptr;
  if (built_.load(std::memory_order_acquire) == next) WaitForBuilt(next);
  Built built = std::move(slots_[next % kWindow]);
  taken_.store(next + 1, std::memory_order_seq_cst);
  // The builder, asleep for room, is woken when half the window is free.
  if (builderAsleep_.load(std::memory_order_seq_cst) &&
      built_.load(std::memory_order_relaxed) - (next + 1) <= kWindow / 2)
    Signal(roomSignal_);
  if (built.error) std::rethrow_exception(built.error);
  return std::move(built.entry);
}

void EntryReadAhead::Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

void EntryReadAhead::Signal(std::atomic<uint32_t>& signal) {
  signal.fetch_add(1, std::memory_order_seq_cst);
  signal.notify_one();
}

template <typename Ready>
void EntryReadAhead::Sleep(std::atomic<uint32_t>& signal, std::atomic<bool>& asleep, Ready ready) {
  for (;;) {
    const uint32_t seen = signal.load(std::memory_order_seq_cst);
    asleep.store(true, std::memory_order_seq_cst);
    if (ready()) break;
    signal.wait(seen, std::memory_order_seq_cst);
  }
  asleep.store(false, std::memory_order_relaxed);
}

void EntryReadAhead::WaitForBuilt(uint64_t next) {
  for (int spin = 0; spin < kSpins; ++spin) {
    if (built_.load(std::memory_order_acquire) != next) return;
    Relax();
  }
  Sleep(builtSignal_, callerAsleep_, [this, next] {
    const uint64_t built = built_.load(std::memory_order_seq_cst);
    return built - next >= kBatch || built == total_;
  });
}

void EntryReadAhead::Run() {
  for (uint64_t built = 0; built < total_; ++built) {
    graveyard_->Clear();
    Built entry;
    try {
      entry.entry = make_(first_ + static_cast<int>(built), graveyard_);
    } catch (...) {
      entry.error = std::current_exception();
    }
    // A full window: sleep until the caller has taken half of it (or is done).
    if (built - taken_.load(std::memory_order_acquire) >= kWindow)
      Sleep(roomSignal_, builderAsleep_, [this, built] {
        return stop_.load() || built - taken_.load(std::memory_order_seq_cst) <= kWindow / 2;
      });
    if (stop_.load()) break;
    slots_[built % kWindow] = std::move(entry);
    built_.store(built + 1, std::memory_order_seq_cst);
    if (callerAsleep_.load(std::memory_order_seq_cst) &&
        (built + 1 - taken_.load(std::memory_order_relaxed) >= kBatch || built + 1 == total_))
      Signal(builtSignal_);
  }
  graveyard_->Close();
}

}  // namespace lumivex::backend
