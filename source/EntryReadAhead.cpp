#include "source/EntryReadAhead.h"

#include <sched.h>
#include <time.h>

#include <algorithm>

namespace lumivex::backend {

EntryReadAhead::~EntryReadAhead() {
  {
    std::lock_guard lock(mutex_);
    stop_.store(true);
  }
  room_.notify_one();
  thread_.join();
}

std::unique_ptr<ContactEntry> EntryReadAhead::Take(int index) {
  if (index < first_ || static_cast<uint64_t>(index - first_) != taken_ || taken_ >= total_)
    return nullptr;
  if (at_ == batch_.size()) {
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return !full_.empty(); });
      batch_.clear();
      spare_.push_back(std::move(batch_));
      batch_ = std::move(full_.front());
      full_.pop_front();
    }
    room_.notify_one();
    at_ = 0;
  }
  Built built = std::move(batch_[at_++]);
  ++taken_;
  if (built.error) std::rethrow_exception(built.error);
  return std::move(built.entry);
}

void EntryReadAhead::Run() {
  std::vector<Built> batch;
  uint64_t size = kFirstBatch;
  for (uint64_t built = 0; built < total_ && !stop_.load(std::memory_order_relaxed);) {
    graveyard_->Clear();
    batch.reserve(kBatch);
    for (const uint64_t end = std::min(total_, built + size); built < end; ++built) {
      Built& entry = batch.emplace_back();
      try {
        entry.entry = make_(first_ + static_cast<int>(built), graveyard_);
      } catch (...) {
        entry.error = std::current_exception();
      }
    }
    size = std::min(size * 2, kBatch);
    {
      std::unique_lock lock(mutex_);
      room_.wait(lock, [this] { return stop_.load() || full_.size() < kBatchesAhead; });
      if (stop_.load()) break;
      full_.push_back(std::move(batch));
      batch.clear();
      if (!spare_.empty()) {
        batch = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    ready_.notify_one();
  }
  batch.clear();
  graveyard_->Close();
}

bool RanAtOnce::Since() {
  double cpu = 0, wall = 0;
  Now(cpu, wall);
  const bool atOnce = cpu - cpu_ > 1.25 * (wall - wall_);
  cpu_ = cpu;
  wall_ = wall;
  return atOnce;
}

void RanAtOnce::Now(double& cpu, double& wall) {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  cpu = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  clock_gettime(CLOCK_MONOTONIC, &t);
  wall = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool SeveralProcessors() {
  static const bool several = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) > 1;
  }();
  return several;
}

}  // namespace lumivex::backend
