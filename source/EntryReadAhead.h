// Reading the entries of a folder ahead of the caller, on a thread of their own (FileFolder.cpp
// starts it when entries are asked for in order), and what that thread needs of the entries it
// builds: where what they hold is freed (Graveyard), and how the caller reads them (ReadHints).
#pragma once

#include "source/MailStore.h"
#include "source/StoreFile.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lumivex::backend {

// What the entries built on a read-ahead thread held, freed on that thread: memory goes back
// to the allocator of the thread that took it, which costs a fraction of freeing it on another
// thread (whose frees would contend for the builder's arena). Once the thread has ended,
// remains are freed where they are buried.
class Graveyard {
 public:
  using Remains = std::unique_ptr<storefile::StoreItem>;

  // Never waits: while the read-ahead thread is clearing, `remains` is freed here instead.
  void Bury(Remains remains) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock() && open_) buried_.push_back(std::move(remains));
  }

  // Frees what was buried so far; on the read-ahead thread.
  void Clear() {
    std::vector<Remains> taken;
    {
      std::lock_guard lock(mutex_);
      taken.swap(buried_);
    }
  }

  // The read-ahead thread ends: what comes later is freed where it is buried.
  void Close() {
    {
      std::lock_guard lock(mutex_);
      open_ = false;
    }
    Clear();
  }

 private:
  std::mutex mutex_;
  bool open_ = true;
  std::vector<Remains> buried_;
};

// How the caller reads the entries of a folder, learnt from what it asks: the read-ahead thread
// does ahead what it can of that.
struct ReadHints {
  std::atomic<bool> whole = false;  // entries are read whole (ReadContact)
};

// Builds the entries of a folder, in order, on a thread of its own, a few dozen ahead of the
// caller: an export reads an entry's values and writes them while the next entries are read
// from the store, which on two processors takes about half the time of doing both in turn.
// Only for a file that lets two threads in at once (our reader).
//
// The two threads pass entries through a ring of slots and two counters, without a lock: a lock
// taken by both for every entry made them wait on each other thousands of times a run. A thread
// that finds nothing to do spins a moment, then sleeps until the other has a batch for it.
class EntryReadAhead {
 public:
  // Builds entry `index`. What the entry holds is freed in `graveyard` when the caller lets it
  // go.
  using Make =
      std::function<std::unique_ptr<ContactEntry>(int index, std::shared_ptr<Graveyard> graveyard)>;

  // Builds entries `first` up to (not including) `end` with `make`.
  EntryReadAhead(Make make, int first, int end)
      : make_(std::move(make)),
        first_(first),
        total_(static_cast<uint64_t>(end - first)),
        thread_([this] { Run(); }) {}

  ~EntryReadAhead();

  EntryReadAhead(const EntryReadAhead&) = delete;
  EntryReadAhead& operator=(const EntryReadAhead&) = delete;

  // The entry at `index` when it is the next one in line, waiting for it when it is not built
  // yet; null when it is not in line (the caller builds it itself). What building it threw is
  // thrown here.
  std::unique_ptr<ContactEntry> Take(int index);

 private:
  static constexpr uint64_t kWindow = 64;
  static constexpr uint64_t kBatch = 8;
  static constexpr int kSpins = 256;

  struct Built {
    std::unique_ptr<ContactEntry> entry;
    std::exception_ptr error;
  };

  static void Relax();

  // A sleeping thread is woken through a signal of its own, which moves only when it is to
  // wake: waiting on the counters themselves woke it at every entry.
  static void Signal(std::atomic<uint32_t>& signal);

  // Sleeps until `ready` holds; `asleep` tells the other thread to signal.
  template <typename Ready>
  static void Sleep(std::atomic<uint32_t>& signal, std::atomic<bool>& asleep, Ready ready);

  // The caller waits for entry `next`: a moment's spin (the builder is usually about to put it
  // in), then sleep until a batch is built or the last entry is.
  void WaitForBuilt(uint64_t next);

  void Run();

  Make make_;
  std::shared_ptr<Graveyard> graveyard_ = std::make_shared<Graveyard>();
  const int first_;
  const uint64_t total_;
  std::array<Built, kWindow> slots_;
  std::atomic<uint64_t> built_ = 0;  // entries put in the window, by the builder
  std::atomic<uint64_t> taken_ = 0;  // entries taken from it, by the caller
  std::atomic<uint32_t> builtSignal_ = 0;
  std::atomic<uint32_t> roomSignal_ = 0;
  std::atomic<bool> callerAsleep_ = false;
  std::atomic<bool> builderAsleep_ = false;
  std::atomic<bool> stop_ = false;
  std::thread thread_;  // last: it starts once the rest is set up
};

}  // namespace lumivex::backend
