// The match keys of a merge, gathered while the entries are read and given back one rule at a
// time in order of hash, then entry, so that the entries sharing a key follow one another. Up to
// a budget of keys is held in memory; past it the rule holding the most is sorted and written to
// a temporary file as a run, and a rule's runs are merged as they are read back. Memory stays
// bounded however many entries the stores hold; stores of a few hundred thousand entries do not
// need the file.
#pragma once

#include "merge/MergeRules.h"
#include "merge/MergeScratch.h"

#include <array>
#include <cstdint>
#include <vector>

namespace lumivex::merge {

// A match key of one entry; the hash in two halves keeps it at 12 bytes.
struct Keyed {
  uint32_t high;
  uint32_t low;
  uint32_t entry;
  uint64_t Hash() const { return uint64_t(high) << 32 | low; }
};

class SortedKeys {
 public:
  // A key's entry field holds its rule above the entry's number: the keys held are one array,
  // sorted by rule first when they are written or used. Entries are numbered below kEntries.
  static constexpr int kEntryBits = 29;
  static constexpr uint32_t kEntries = uint32_t(1) << kEntryBits;

  // `budget`: the keys held in memory at most.
  explicit SortedKeys(size_t budget);
  // Keeps a key. Throws StoreError when a run cannot be written.
  [[gnu::always_inline]] void Add(MatchRule rule, uint64_t hash, uint32_t entry) {
    Count(rule, hash);
    held_.push_back({uint32_t(hash >> 32), uint32_t(hash), uint32_t(rule) << kEntryBits | entry});
    if (held_.size() == budget_) Spill();
  }
  // Counts a key that is looked for without being kept: one that Add keeps once is then not
  // let go as met once. The key's slot is counted kWaiting keys later (Start counts the last
  // ones), its byte fetched meanwhile: counted at once, nearly every key waited for its byte to
  // come from memory, the slots being spread over the whole table.
  [[gnu::always_inline]] void Count(MatchRule rule, uint64_t hash) {
    if (seen_.empty()) seen_.resize(size_t(1) << (kSlotBits - 2));
    const auto slot = static_cast<uint32_t>(Slot(rule, hash));
    __builtin_prefetch(seen_.data() + (slot >> 2), 1);
    uint32_t& waiting = waiting_[waited_++ % kWaiting];
    if (waited_ > kWaiting) CountSlot(waiting);
    waiting = slot;
  }
  // Gives back the keys of `rule` from now on, from the first again where it was started
  // before. Keys held in memory whose hash no other key has (as far as the counts tell) are
  // left out: alone, they join nothing. No key may be added once a rule is started.
  void Start(MatchRule rule);
  // Lets every key go, once the last rule's are used.
  void Release();
  // The next key of the rule started, in order; false after its last. Throws StoreError when a
  // run cannot be read back.
  bool Next(Keyed& out) {
    if (!runs_.empty()) return NextMerged(out);
    if (next_ == end_) return false;
    out = *next_++;
    out.entry &= kEntries - 1;
    return true;
  }

 private:
  static constexpr size_t kRules = size_t(MatchRule::kList) + 1;
  // Keys of a run being read back: those at hand (a window read from the file, or the keys still
  // held), and where the rest lie in the file.
  struct Run {
    std::vector<Keyed> window;
    const Keyed* next = nullptr;
    const Keyed* end = nullptr;
    int64_t at = 0;     // in the file, of the keys after the window
    uint64_t left = 0;  // keys after the window
  };
  // Puts the keys held in order of rule; `start[r]` is where rule r's begin.
  void ByRule(std::array<size_t, kRules + 1>& start);
  void Spill();
  bool NextMerged(Keyed& out);
  bool Advance(Run& run);
  // Puts the heap's first key, just replaced, where it belongs.
  void SiftDown();

  // How often each slot of hashes was met, 0, 1 or more (2), four counts to a byte: 1 MiB, taken
  // with the first key.
  static constexpr unsigned kSlotBits = 22;
  static uint64_t Slot(MatchRule rule, uint64_t hash) {
    return (hash + uint64_t(rule) * 0x9e3779b97f4a7c15ull) >> (64 - kSlotBits);
  }
  // How often the slot was met: 0, 1, or 2 for more.
  unsigned CountOf(uint64_t slot) const { return (seen_[slot >> 2] >> ((slot & 3) * 2)) & 3; }
  void CountSlot(uint32_t slot) {
    if (CountOf(slot) < 2) seen_[slot >> 2] = uint8_t(seen_[slot >> 2] + (1u << ((slot & 3) * 2)));
  }
  // Counts the keys still waiting.
  void CountWaiting();
  bool MetOnce(MatchRule rule, uint64_t hash) const { return CountOf(Slot(rule, hash)) < 2; }
  std::vector<uint8_t> seen_;
  static constexpr uint64_t kWaiting = 16;
  std::array<uint32_t, kWaiting> waiting_{};  // the slots of the last keys met, not yet counted
  uint64_t waited_ = 0;                       // keys met since the waiting ones were last counted
  size_t budget_;
  std::vector<Keyed> held_;
  // The runs of each rule written so far: where in the file, and how many keys.
  std::array<std::vector<std::pair<int64_t, uint64_t>>, kRules> written_;
  MergeScratch file_;
  bool spread_ = false;                   // held_ put in order of rule since the last key came
  std::array<size_t, kRules + 1> rules_;  // where each rule's keys begin in held_, once spread
  // Of each rule started: its keys held, left out those met once and sorted, are the first
  // kept_ of its place in held_.
  std::array<size_t, kRules> kept_{};
  std::array<bool, kRules> sorted_{};
  const Keyed* next_ = nullptr;  // the keys of the rule started, when none are in the file
  const Keyed* end_ = nullptr;
  std::vector<Run> runs_;
  // The next key of each run not used up, and the run: a heap, the least key first.
  struct Head {
    Keyed key;
    uint32_t run;
  };
  std::vector<Head> heap_;
};

}  // namespace lumivex::merge
