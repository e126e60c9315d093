#include "merge/SortedKeys.h"

#include "merge/LargePages.h"

#include <algorithm>

namespace lumivex::merge {

namespace {

bool Before(const Keyed& x, const Keyed& y) {
  return x.Hash() != y.Hash() ? x.Hash() < y.Hash() : x.entry < y.entry;
}

// Spreads the keys in place over buckets, in order of bucket; `start[b]` is then where bucket b
// begins (start has one more element than there are buckets).
template <typename Bucket, size_t N>
void Spread(Keyed* begin, Keyed* end, Bucket bucket, std::array<size_t, N>& start) {
  constexpr size_t kBuckets = N - 1;
  start.fill(0);
  for (const Keyed* k = begin; k != end; ++k) ++start[bucket(*k) + 1];
  for (size_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
  std::array<size_t, kBuckets> next;
  std::copy(start.begin(), start.end() - 1, next.begin());
  for (size_t b = 0; b < kBuckets; ++b)
    while (next[b] < start[b + 1]) {
      // The key at next[b] goes to its bucket, the one there in its stead, until one of
      // bucket b comes back.
      Keyed k = begin[next[b]];
      for (size_t kb = bucket(k); kb != b; kb = bucket(k)) std::swap(k, begin[next[kb]++]);
      begin[next[b]++] = k;
    }
}

// Spread over 256 buckets by a byte of the hash (the first, then within each bucket the second),
// the few keys of each bucket then put in order by insertion: a third of the time of sorting each
// bucket of the first byte with std::sort.
void SortKeys(Keyed* begin, Keyed* end, int shift) {
  std::array<size_t, 257> start;
  Spread(
      begin, end, [shift](const Keyed& k) { return (k.high >> shift) & 0xFF; }, start);
  for (size_t b = 0; b < 256; ++b) {
    Keyed* const first = begin + start[b];
    Keyed* const last = begin + start[b + 1];
    if (last - first > 32) {
      // Many keys of one byte: spread again by the next, or (keys of one hash, as the
      // entries of a large group give) sorted as they are.
      if (shift == 24)
        SortKeys(first, last, 16);
      else
        std::sort(first, last, Before);
      continue;
    }
    for (Keyed* i = first; ++i < last;) {
      const Keyed k = *i;
      Keyed* j = i;
      for (; j != first && Before(k, j[-1]); --j) *j = j[-1];
      *j = k;
    }
  }
}

// Sorts keys by hash, then entry.
void SortKeys(Keyed* begin, Keyed* end) {
  SortKeys(begin, end, 24);
}

constexpr uint64_t kWindow = 4096;  // keys read back from a run at a time: 48 KiB

}  // namespace

SortedKeys::SortedKeys(size_t budget)
    : budget_(std::max<size_t>(budget, 1)), file_(QStringLiteral("lumivex-keys")) {
  held_.reserve(budget_);  // the pages not yet written take no memory
  PreferLargePages(held_);
}

void SortedKeys::ByRule(std::array<size_t, kRules + 1>& start) {
  Spread(
      held_.data(), held_.data() + held_.size(),
      [](const Keyed& k) { return size_t(k.entry >> kEntryBits); }, start);
}

void SortedKeys::Spill() {
  // One run for the keys held: each rule's in order, one after another.
  std::array<size_t, kRules + 1> start;
  ByRule(start);
  if (!file_.IsOpen()) file_.Open();
  const int64_t at = file_.Size();
  for (size_t r = 0; r < kRules; ++r) {
    if (start[r] == start[r + 1]) continue;
    SortKeys(held_.data() + start[r], held_.data() + start[r + 1]);
    written_[r].emplace_back(at + int64_t(start[r] * sizeof(Keyed)), start[r + 1] - start[r]);
  }
  file_.Append(reinterpret_cast<const char*>(held_.data()), int64_t(held_.size() * sizeof(Keyed)));
  held_.clear();  // keeps its room
}

void SortedKeys::CountWaiting() {
  for (uint64_t i = 0; i < std::min(waited_, kWaiting); ++i) CountSlot(waiting_[i]);
  waited_ = 0;
}

void SortedKeys::Start(MatchRule rule) {
  CountWaiting();
  runs_.clear();
  heap_.clear();
  if (!spread_) {
    ByRule(rules_);
    spread_ = true;
  }
  const size_t r = size_t(rule);
  Keyed* const first = held_.data() + rules_[r];
  Keyed* last = first + kept_[r];
  if (!sorted_[r]) {
    for (const Keyed* k = first; k != held_.data() + rules_[r + 1]; ++k)
      if (!MetOnce(rule, k->Hash())) *last++ = *k;
    SortKeys(first, last);
    kept_[r] = size_t(last - first);
    sorted_[r] = true;
  }
  next_ = first;
  end_ = last;
  if (written_[r].empty()) return;
  // Each run written, and the keys still held as one more; merged by a heap of their next keys.
  for (const auto& [at, count] : written_[r]) runs_.push_back({{}, nullptr, nullptr, at, count});
  runs_.push_back({{}, first, last, 0, 0});
  for (uint32_t i = 0; i < runs_.size(); ++i)
    if (Advance(runs_[i])) heap_.push_back({*runs_[i].next++, i});
  std::make_heap(heap_.begin(), heap_.end(),
                 [](const Head& a, const Head& b) { return Before(b.key, a.key); });
}

void SortedKeys::Release() {
  seen_ = {};
  held_ = {};
  runs_ = {};
  heap_ = {};
  next_ = end_ = nullptr;
}

void SortedKeys::SiftDown() {
  const Head top = heap_[0];
  const size_t n = heap_.size();
  size_t at = 0;
  for (size_t child = 1; child < n; child = 2 * at + 1) {
    if (child + 1 < n && Before(heap_[child + 1].key, heap_[child].key)) ++child;
    if (!Before(heap_[child].key, top.key)) break;
    heap_[at] = heap_[child];
    at = child;
  }
  heap_[at] = top;
}

// True while the run has a key at hand; its window read on from the file where it is used up.
bool SortedKeys::Advance(Run& run) {
  if (run.next != run.end) return true;
  if (run.left == 0) return false;
  const uint64_t n = std::min(run.left, kWindow);
  run.window.resize(n);
  file_.ReadAll(reinterpret_cast<char*>(run.window.data()), run.at, int64_t(n * sizeof(Keyed)));
  run.at += int64_t(n * sizeof(Keyed));
  run.left -= n;
  run.next = run.window.data();
  run.end = run.next + n;
  return true;
}

bool SortedKeys::NextMerged(Keyed& out) {
  if (heap_.empty()) return false;
  out = heap_[0].key;
  out.entry &= kEntries - 1;
  Run& run = runs_[heap_[0].run];
  if (Advance(run)) {
    heap_[0].key = *run.next++;
  } else {
    heap_[0] = heap_.back();
    heap_.pop_back();
    if (heap_.empty()) return true;
  }
  SiftDown();
  return true;
}

}  // namespace lumivex::merge
