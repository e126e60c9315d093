// Reading the entries of a folder ahead of the caller, on a thread of their own (FileFolder.cpp
// starts it when entries are asked for in order, and stops it when it does not pay), and what
// that thread needs of the entries it builds: where what they hold is freed (Graveyard), and how
// the caller reads them (ReadHints).
#pragma once

#include "source/MailStore.h"
#include "source/StoreFile.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lumivex::backend {

// The entries built on a read-ahead thread, whole (the entry, its item, its uid), freed on that
// thread once the caller lets them go: memory goes back to the allocator of the thread that took
// it, which costs a fraction of freeing it on another thread (whose frees contend for the
// builder's arena, each a wait for both threads; on a fast caller, such as a merge's first pass,
// a fifth of the processor time). Once the thread has ended, remains are freed where they are
// buried.
class Graveyard {
 public:
  // Anything built on the read-ahead thread, freed by its own deleter.
  using Remains = std::unique_ptr<void, void (*)(void*)>;

  // Never waits: while the read-ahead thread is clearing, `remains` is freed here instead.
  template <typename T>
  void Bury(std::unique_ptr<T> remains) {
    if (!remains) return;
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock() && open_)
      buried_.emplace_back(remains.release(), [](void* p) { delete static_cast<T*>(p); });
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

// Builds the entries of a folder, in order, on a thread of its own, a batch or two ahead of the
// caller: an export reads an entry's values and writes them while the next entries are read
// from the store, which on two free processors takes about half the time of doing both in turn.
// Only for a file that lets two threads in at once (our reader), and only where the process may
// run on more than one processor.
//
// Entries are handed over in batches: the builder fills a batch on its own and hands it over
// whole under a lock; the caller takes it whole and reads its entries without touching anything
// shared. A thread with nothing to do sleeps until a batch, or room for one, is there. Handing
// entries over one at a time (a ring of slots and two counters, a sleeping thread woken by its
// counter) took a system call every few entries, and on a busy machine, where the two threads
// seldom run at once, those hand-offs were a third of the export's time.
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

  // The entry at `index` when it is the next one in line, waiting for its batch when it is not
  // built yet; null when it is not in line (the caller builds it itself). What building it threw
  // is thrown here.
  std::unique_ptr<ContactEntry> Take(int index);

 private:
  // Batches grow from kFirstBatch entries (so that the caller soon has work) to kBatch; the
  // builder stays at most kBatchesAhead batches ahead.
  static constexpr uint64_t kFirstBatch = 8;
  static constexpr uint64_t kBatch = 128;
  static constexpr size_t kBatchesAhead = 2;

  struct Built {
    std::unique_ptr<ContactEntry> entry;
    std::exception_ptr error;
  };

  void Run();

  Make make_;
  std::shared_ptr<Graveyard> graveyard_ = std::make_shared<Graveyard>();
  const int first_;
  const uint64_t total_;
  // The caller's own: the batch it reads from, where in it, how many entries it has taken.
  std::vector<Built> batch_;
  size_t at_ = 0;
  uint64_t taken_ = 0;
  // Shared, under mutex_: built batches in order, and emptied ones for the builder to fill again.
  std::mutex mutex_;
  std::condition_variable ready_;  // a batch was handed over
  std::condition_variable room_;   // the caller took a batch, or the builder is to stop
  std::deque<std::vector<Built>> full_;
  std::vector<std::vector<Built>> spare_;
  std::atomic<bool> stop_ = false;
  std::thread thread_;  // last: it starts once the rest is set up
};

// Whether the process ran on more than one processor at a time between two calls: its processor
// time grew by a quarter more than the wall time. On a machine busy with other work the caller
// and the read-ahead thread seldom run at once; entries are then read faster in one thread than
// handed over between two (a quarter less processor time, and less wall time too).
class RanAtOnce {
 public:
  RanAtOnce() { Now(cpu_, wall_); }
  // Whether it did since the last call (or since it was made).
  bool Since();

 private:
  static void Now(double& cpu, double& wall);
  double cpu_ = 0;
  double wall_ = 0;
};

// Whether this process may run on more than one processor: with one (taskset -c 0, a container
// of one processor) a read-ahead thread only adds its hand-offs.
bool SeveralProcessors();

}  // namespace lumivex::backend
