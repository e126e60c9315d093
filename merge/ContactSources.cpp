#include "merge/ContactSources.h"

#include "contact/CardUuid.h"
#include "contact/VCardWriter.h"
#include "merge/EntrySpool.h"
#include "merge/LargePages.h"
#include "merge/MergeRules.h"
#include "merge/SortedKeys.h"
#include "source/ContactFolders.h"
#include "source/StoreBackend.h"

#include <QDir>
#include <QFileInfo>

#include <QHash>
#include <QSet>

#include <algorithm>
#include <bit>
#include <climits>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace lumivex::merge {

namespace {

using contact::EntryProblem;
using contact::Origin;
using contact::SourcedContact;

// The uid of the card of an entry that copies of one store each got after they parted, under
// the entry id of one of the other copy: made from the store's uid and the time it was made.
QString PartedCopyUid(const contact::Contact& entry) {
  return contact::CardUuid(
      QStringLiteral("made %1 %2").arg(entry.created.toMSecsSinceEpoch()).arg(entry.uid));
}

// The entries of several stores as they are, but that an entry sharing its uid with one of a
// store read before, made at another time, has a card uid of its own (PartedCopyUid): two copies
// of a store each given a new contact after they parted number both alike, and an address book
// given both under one uid would keep one person of the two. Copies of one entry, made at the same
// time, keep their one uid. Each uid of the stores read before is known by a 64-bit hash of it and
// the time its first entry was made, in order of hash: 16 bytes an entry. In one store every uid
// is its own.
class PartedCopies : public contact::ContactStream {
 public:
  explicit PartedCopies(std::vector<StoreFolders> sources) : reader_(std::move(sources)) {}
  int Total() const override { return reader_.Total(); }
  const std::vector<EntryProblem>& Problems() const override { return reader_.Problems(); }
  QStringList NewUidStores() const override { return reader_.NewUidStores(); }
  bool Next(SourcedContact& out) override {
    if (!reader_.Next(out)) return false;
    contact::Contact& entry = out.contact;
    if (entry.uid.isEmpty() || !entry.created.isValid() || out.origins.size() != 1) return true;
    if (const QString& store = out.origins.front().store; store != store_) {
      // The uids of the store read up to now join those before it.
      store_ = store;
      std::sort(current_.begin(), current_.end());
      const auto middle = earlier_.insert(earlier_.end(), current_.begin(), current_.end());
      std::inplace_merge(earlier_.begin(), middle, earlier_.end());
      current_.clear();
    }
    const uint64_t hash = qHash(entry.uid, size_t(0x9e3779b9));
    const int64_t made = entry.created.toMSecsSinceEpoch();
    const auto first = std::lower_bound(earlier_.begin(), earlier_.end(),
                                        std::pair{hash, std::numeric_limits<int64_t>::min()});
    if (first == earlier_.end() || first->first != hash)
      current_.emplace_back(hash, made);
    else if (first->second != made)
      entry.uid = out.origins.front().ownUid = PartedCopyUid(entry);
    return true;
  }

 private:
  StoreContactStream reader_;
  QString store_;  // the store being read
  // Each uid's hash and when its first entry was made: of the stores read before, in order; of
  // the one being read, as they come.
  std::vector<std::pair<uint64_t, int64_t>> earlier_, current_;
};

// Which keys have been met, as a Bloom filter: a key met before is always told so, one never met
// nearly always told it was not (an entry's six keys or so 1 in 100 times or less at the size
// taken: 64 to 128 bits an entry, the lines a power of two, and at least 2 MiB from 1 MiB on).
// A key's three bits lie in one line of 64 bytes, fetched ahead (Fetch) while other work is done:
// the lines are spread over the whole filter, and one not in the cache took as long to come as
// the rest of the key's noting. A filter of 1 MiB or more lies in large pages (LargePages.h).
class MetKeys {
 public:
  MetKeys() = default;
  explicit MetKeys(int entries) {
    lineBits_ = std::bit_width(std::clamp<uint64_t>(uint64_t(std::max(entries, 0)) / 4, 64,
                                                    uint64_t(1) << 24)) -
                1;
    if ((size_t(64) << lineBits_) >= kLargePage / 2) {
      lineBits_ = std::max(lineBits_, std::countr_zero(kLargePage / 64));
      large_ = LargePages(size_t(64) << lineBits_);
      words_ = static_cast<uint64_t*>(large_.data());
    } else {
      // Lines of 64 bytes that are lines of the cache too: the room aligned to them.
      room_.assign((size_t(8) << lineBits_) + 8, 0);
      words_ = room_.data() + (-(reinterpret_cast<uintptr_t>(room_.data()) / 8) & 7);
    }
  }
  // Moved, not copied: words_ points into room_ or large_, whose storage a move keeps.
  MetKeys(const MetKeys&) = delete;
  MetKeys& operator=(const MetKeys&) = delete;
  MetKeys(MetKeys&&) = default;
  MetKeys& operator=(MetKeys&&) = default;
  // Fetches the line of `hash` of `rule` into the cache, for Note to find it there.
  void Fetch(MatchRule rule, uint64_t hash) const {
    __builtin_prefetch(words_ + Line(Mix(rule, hash)), 1);
  }
  // Notes `hash` of `rule`; true where it was met before (or, rarely, seems to have been).
  bool Note(MatchRule rule, uint64_t hash) {
    const uint64_t x = Mix(rule, hash);
    uint64_t* line = words_ + Line(x);
    bool met = true;
    for (int k = 0; k < 3; ++k) {
      const auto bit = unsigned(x >> (16 + 9 * k)) & 511;
      uint64_t& word = line[bit >> 6];
      const uint64_t one = uint64_t(1) << (bit & 63);
      met = met && (word & one) != 0;
      word |= one;
    }
    return met;
  }

 private:
  // The key with its rule mixed in: the keys are hashes already, well spread. The bits in the
  // line from its middle bits, the line from its high ones.
  static uint64_t Mix(MatchRule rule, uint64_t hash) {
    return (hash + static_cast<uint64_t>(rule) * 0x9E3779B97F4A7C15ull) * 0xff51afd7ed558ccdull;
  }
  size_t Line(uint64_t x) const { return size_t(x >> (64 - lineBits_)) * 8; }
  int lineBits_ = 0;
  std::vector<uint64_t> room_;
  LargePages large_;
  uint64_t* words_ = nullptr;  // in room_ or large_, at its first line of the cache
};

// The entries of one person as one contact. A first pass reads every entry once: its match keys
// are kept (SortedKeys: in memory up to a bound, then runs in a temporary file), its identity
// (the parts of its name and its birthday) in memory, and the entry itself goes to the spool (in
// memory up to a bound, then a temporary file; straight to the file for stores of many entries).
// The groups are then found by joining entries that share a key where their identities agree;
// the second pass takes each group's entries back from the spool, merges them and gives the
// contact out. Besides these bounded parts, memory holds 56 bytes an entry (its Entry and its
// place in the spool), 20 bytes a suggestion, the lists' members and the entries of one group.
//
// A consumer that writes contacts as bytes (WriteAhead) has most entries written as they are
// read, and the spool keeps those bytes instead: an entry none of whose keys an earlier entry
// had (a Bloom filter of the keys met tells, 8 bytes an entry while reading) most likely joins
// nobody, and is then given as written, never taken apart and put together again. Where a
// later entry joins it after all, it is read again from its store for its group. Its kEqual
// key is mostly one of likeness, made without reading its texts (Likeness).
class MergingStream : public MergedContacts {
 public:
  MergingStream(std::vector<StoreFolders> sources, QHash<QString, int> named,
                const MergeLimits& limits, bool accept)
      : severalStores_(sources.size() > 1),
        reader_(std::move(sources)),
        keys_(limits.keysInMemory),
        spool_(reader_.Total() > limits.manyEntries ? 0 : EntrySpool::kMemoryCap),
        accept_(accept),
        named_(std::move(named)) {}

  int Total() const override { return total_; }
  const std::vector<EntryProblem>& Problems() const override { return reader_.Problems(); }
  QStringList NewUidStores() const override { return reader_.NewUidStores(); }
  bool WriteAhead(contact::AheadWriter* writer) override {
    // Not where suggestions are accepted: they join entries of the same name and company, which
    // many stores hold a great many of, and the first of each would be read twice.
    if (grouped_ || accept_) return false;
    ahead_ = writer;
    return writer != nullptr;
  }
  int SuggestionCount() const override { return int(suggested_.size()); }
  void LeaveSuggestions() override {
    if (!grouped_) suggest_ = accept_;
  }
  int AcceptedCount() const override { return accepted_; }
  const std::vector<Suggestion>& Suggestions() const override {
    if (suggestions_.size() != suggested_.size()) DescribeSuggestions();
    return suggestions_;
  }

  bool Next(SourcedContact& out) override {
    if (!grouped_) Group();
    while (next_ < entries_.size()) {
      const uint32_t i = next_++;
      if (entries_[i].first) {
        Emit(i, out);
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Entry {
    int64_t modified = 0;  // ms since 1970, INT64_MIN when unknown
    // While the groups are found, the entry it was joined to (itself for a group's first);
    // then the group's next entry, kNone after the last.
    uint32_t link = 0;
    uint8_t rules = 0;                      // bit 1 << MatchRule of each join it took part in
    MatchRule joinedBy = MatchRule::kNone;  // the first (strongest) of those joins
    bool first : 1 = false;                 // the first entry of its group
    bool named : 1 = false;                 // the entry has a personal name (or is a list)
    // Its card takes a uid of its own (OwnUid): its uid is also that of an entry made at
    // another time, of a store named before it.
    bool sharedUid : 1 = false;
    // Kept as an AheadWriter wrote it, not whole: read again from its store where it joined
    // others after all, or for the suggestion it is one of.
    bool written : 1 = false;
    // The entry's own identity; of a group's first while the groups are found, the group's
    // (what its entries hold together).
    Identity identity;
    uint32_t made = 0;  // the time it was made, hashed, where it has a kSameEntry key
  };
  // Where entries came from: from entry `entry` on, folder `work` (StoreContactStream::MakeOrigin)
  // from `position` on, one after another. Mostly one a folder.
  struct Placed {
    uint32_t entry;
    int work;
    int position;
  };
  // A list: its entry, name and members (each the kEmail key of its address, else its name's
  // hash with the top bit set).
  struct List {
    uint32_t entry;
    uint32_t name;
    std::vector<uint64_t> members;
  };
  // A nameless entry that a key joins to the one named group holding it, once every named
  // entry is grouped.
  struct Pending {
    uint32_t nameless, named;
    MatchRule rule;
  };
  struct Suggested {
    uint32_t a, b;
    MatchRule rule;
    uint32_t firstA = 0, firstB = 0;  // the first entry of each one's group, once grouped
    bool joined = false;              // accepted and joined
  };

  const Placed& PlaceOf(uint32_t i) const {
    return *(std::upper_bound(placed_.begin(), placed_.end(), i,
                              [](uint32_t i, const Placed& p) { return i < p.entry; }) -
             1);
  }
  Origin OriginOf(uint32_t i, const QDateTime& modified) const {
    const Placed& p = PlaceOf(i);
    return reader_.MakeOrigin(p.work, p.position + int(i - p.entry), modified);
  }

  // Entry `i` whole into `out`: taken back from the spool, or read again from its store where
  // it was kept as written. `inOrder` and `held` as EntrySpool::Take takes them.
  void TakeEntry(uint32_t i, contact::Contact& out, bool inOrder = false,
                 QByteArray* held = nullptr) const {
    if (!entries_[i].written) {
      spool_.Take(i, out, inOrder, held);
      return;
    }
    const Placed& p = PlaceOf(i);
    reader_.ReadAgain(p.work, p.position + int(i - p.entry), out);
    if (held) *held = EntryContent(out);
  }
  // When entry `i` was last changed, as the merge keeps it.
  QDateTime ModifiedOf(uint32_t i) const {
    const int64_t modified = entries_[i].modified;
    return modified == INT64_MIN ? QDateTime() : QDateTime::fromMSecsSinceEpoch(modified, Qt::UTC);
  }
  Origin OriginOf(uint32_t i) const { return OriginOf(i, ModifiedOf(i)); }

  MergeRank RankOf(uint32_t i) const { return {entries_[i].named, entries_[i].modified}; }

  uint32_t Find(uint32_t i) {
    while (entries_[i].link != i) {
      entries_[i].link = entries_[entries_[i].link].link;
      i = entries_[i].link;
    }
    return i;
  }

  // Joins the groups of `a` and `b` by `rule`; the group's identity is what both held.
  void Join(uint32_t a, uint32_t b, MatchRule rule) {
    const uint32_t ra = Find(a), rb = Find(b);
    if (ra == rb) return;
    const uint32_t root = std::min(ra, rb), other = std::max(ra, rb);
    entries_[other].link = root;
    own_.try_emplace(root, entries_[root].identity);
    Absorb(entries_[root].identity, entries_[other].identity);
    const auto bit = static_cast<uint8_t>(1u << static_cast<unsigned>(rule));
    for (const uint32_t joined : {a, b}) {
      Entry& e = entries_[joined];
      e.rules |= bit;
      if (e.joinedBy == MatchRule::kNone) e.joinedBy = rule;
    }
  }
  bool Agree(uint32_t a, uint32_t b) {
    return Compatible(entries_[Find(a)].identity, entries_[Find(b)].identity);
  }
  // The entry's own identity, whether or not it holds its group's.
  const Identity& OwnIdentity(uint32_t i) const {
    const auto saved = own_.find(i);
    return saved != own_.end() ? saved->second : entries_[i].identity;
  }
  // Whether the groups of a suggestion still agree as it suggested them: in everything, or for
  // an address under another surname in everything but the surname.
  bool AgreeAsSuggested(const Suggested& s) {
    const Identity& a = entries_[Find(s.a)].identity;
    Identity b = entries_[Find(s.b)].identity;
    if (s.rule == MatchRule::kEmailOtherSurname && a.surname != 0) b.surname = a.surname;
    return Compatible(a, b);
  }

  // How much of a name a group's identity holds: parts written out, initials, a birthday.
  static int NameParts(const Identity& id) {
    return (id.given != 0) + (id.givenInitial != 0) + (id.surname != 0) + (id.middle != 0) +
           (id.middleInitials[0] != 0) + (id.middleInitials[1] != 0) + (id.suffix != 0) +
           (id.birthday != 0);
  }

  // Entries sharing one key of strong evidence: each named entry joins the group of the run
  // whose identity agrees with its own, else starts one of its own (people sharing a family or
  // role address stay apart). An entry that agrees with two groups of the run that are not one
  // person ("J. Smith" beside John and Jane Smith at one home number) is not taken by either:
  // the value tells nothing of which it is, though another value of its own may. The groups
  // holding the most of a name are met first, so that such an entry meets every person it could
  // be before it is taken. A shared address under another surname is a suggestion. The run's
  // nameless entries join its named group where there is exactly one; where there is none, each
  // other.
  void Evidence(MatchRule rule, uint64_t hash) {
    clusters_.clear();
    nameless_.clear();
    if (run_.size() > 2)
      std::stable_sort(run_.begin(), run_.end(), [&](uint32_t a, uint32_t b) {
        return NameParts(entries_[Find(a)].identity) > NameParts(entries_[Find(b)].identity);
      });
    apart_.clear();
    for (const uint32_t e : run_) {
      if (!entries_[e].named) {
        nameless_.push_back(e);
        continue;
      }
      if (!torn_.empty() && torn_.count(e)) {
        apart_.push_back(e);
        continue;
      }
      // A few groups at most are tried: an address on thousands of cards is a role's.
      uint32_t match = kNone;
      bool ambiguous = false;
      agreeing_.clear();
      for (size_t c = 0; c < clusters_.size() && c < 8; ++c) {
        const uint32_t cluster = clusters_[c];
        if (Find(cluster) == Find(e)) {  // one already
          match = cluster;
          ambiguous = false;
          break;
        }
        if (!Agree(cluster, e)) continue;
        agreeing_.push_back(cluster);
        if (match == kNone)
          match = cluster;
        else if (Find(match) != Find(cluster))
          ambiguous = true;
      }
      // Suggested with each person it could be, for the user to choose.
      if (ambiguous) {
        for (const uint32_t cluster : agreeing_) AddSuggestion(cluster, e, rule);
        continue;
      }
      if (match != kNone) {
        Join(match, e, rule);
        continue;
      }
      if (rule == MatchRule::kEmail && clusters_.size() < 8)
        for (const uint32_t c : clusters_)
          if (OnlySurnameDiffers(entries_[Find(c)].identity, entries_[Find(e)].identity))
            AddSuggestion(c, e, MatchRule::kEmailOtherSurname);
      clusters_.push_back(e);
    }
    // An entry whose values point at two people is suggested with each person it agrees with.
    for (const uint32_t e : apart_)
      for (size_t c = 0; c < clusters_.size() && c < 8; ++c)
        if (Agree(clusters_[c], e)) AddSuggestion(clusters_[c], e, rule);
    FindTorn();
    // The named groups holding the value, as they are now: started apart, some may have joined.
    roots_.clear();
    for (const uint32_t c : clusters_) roots_.push_back(Find(c));
    std::sort(roots_.begin(), roots_.end());
    const auto groups = size_t(std::unique(roots_.begin(), roots_.end()) - roots_.begin());
    const uint32_t holder = groups == 1 ? clusters_.front() : kNone;
    if (rule == MatchRule::kEmail && memberKeys_.count(hash))
      memberOwner_[hash] = groups == 1 ? holder : kNone;
    if (nameless_.empty()) return;
    if (groups == 0) {
      for (size_t k = 1; k < nameless_.size(); ++k)
        if (Agree(nameless_[0], nameless_[k])) Join(nameless_[0], nameless_[k], rule);
    } else if (groups == 1) {
      for (const uint32_t e : nameless_) pending_.push_back({e, holder, rule});
    }
  }

  // An entry whose values point at two people: joined to one through another value, it alone
  // of its group holds this one, which one other person holds, whose name agrees with the
  // entry's own but not with its group's ("J. Smith" with Jane's address and John's mobile, in
  // Jane's group). Such entries are held apart in a grouping made again (Group).
  void FindTorn() {
    uint32_t roots[2] = {}, count[2] = {}, alone[2] = {};
    int groups = 0;
    for (const uint32_t e : run_) {
      if (!entries_[e].named || (!torn_.empty() && torn_.count(e))) continue;
      const uint32_t root = Find(e);
      int k = 0;
      while (k < groups && roots[k] != root) ++k;
      if (k == groups) {
        if (groups == 2) return;  // three people hold the value: it points at none
        roots[groups++] = root;
      }
      if (++count[k] == 1) alone[k] = e;
    }
    if (groups != 2) return;
    for (int k = 0; k < 2; ++k) {
      const Identity& other = entries_[roots[1 - k]].identity;
      if (count[k] == 1 && Compatible(OwnIdentity(alone[k]), other) &&
          !Compatible(entries_[roots[k]].identity, other))
        torn_.insert(alone[k]);
    }
  }

  // Every entry apart again, as read, for the rules to group them anew.
  void Regroup() {
    for (uint32_t i = 0; i < entries_.size(); ++i) {
      Entry& e = entries_[i];
      if (const auto saved = own_.find(i); saved != own_.end()) e.identity = saved->second;
      e.link = i;
      e.rules = 0;
      e.joinedBy = MatchRule::kNone;
    }
    own_.clear();
    suggested_.clear();
    pending_.clear();
    memberOwner_.clear();
  }

  // `a` and `b` suggested as one person by `rule`, where suggestions are looked for.
  void AddSuggestion(uint32_t a, uint32_t b, MatchRule rule) {
    if (suggest_) suggested_.push_back({a, b, rule});
  }

  // Entries of the same name and company: each group suggested with the next.
  void Suggest() {
    uint32_t last = kNone;
    for (const uint32_t e : run_) {
      if (last != kNone && Find(last) != Find(e) && Agree(last, e))
        AddSuggestion(last, e, MatchRule::kNameAndCompany);
      last = e;
    }
  }

  // Nameless entries join the named group their keys point at, where they point at one only.
  void JoinNameless() {
    struct Target {
      uint32_t from, to, nameless;
      MatchRule rule;
    };
    std::vector<Target> targets;
    for (const Pending& p : pending_)
      targets.push_back({Find(p.nameless), Find(p.named), p.nameless, p.rule});
    std::sort(targets.begin(), targets.end(), [](const Target& a, const Target& b) {
      return a.from != b.from ? a.from < b.from : a.to < b.to;
    });
    for (size_t i = 0; i < targets.size();) {
      size_t end = i + 1;
      bool one = true;
      for (; end < targets.size() && targets[end].from == targets[i].from; ++end)
        one = one && targets[end].to == targets[i].to;
      if (one && Agree(targets[i].from, targets[i].to))
        Join(targets[i].nameless, targets[i].to, targets[i].rule);
      i = end;
    }
    pending_ = {};
  }

  // Lists of the same name whose members are the same people: a member is the group holding its
  // address where one named group does, else its address or name as written.
  void JoinLists() {
    std::vector<std::pair<uint64_t, uint32_t>> keyed;
    for (const List& l : lists_) {
      std::vector<uint64_t> members;
      for (const uint64_t m : l.members) {
        const auto owner = memberOwner_.find(m);
        members.push_back(owner != memberOwner_.end() && owner->second != kNone
                              ? (uint64_t(1) << 62) | Find(owner->second)
                              : m);
      }
      keyed.emplace_back(ListKey(l.name, std::move(members)), l.entry);
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = 1; i < keyed.size(); ++i)
      if (keyed[i].first == keyed[i - 1].first)
        Join(keyed[i - 1].second, keyed[i].second, MatchRule::kList);
    lists_ = {};
    memberOwner_ = {};
  }

  // Whether a key joins entries (the same name and company only suggests).
  static bool Joins(const MatchKey& k) { return k.rule != MatchRule::kNameAndCompany; }

  // The kEqual keys are of two kinds, told apart by the top bit. An entry kept whole has the
  // key of its content, a hash of its bytes in the spool (the bit clear): entries sharing one
  // are alike. An entry written ahead has instead the key of its likeness (the bit set): where
  // it has e-mail or phone keys, as most entries do, a hash of its identity and its match keys,
  // made without reading its texts; else a hash of every field (EqualHash), as an entry with a
  // name alone may share it with many others. Entries alike have the same likeness, but some
  // that are not do too; so an entry kept whole whose likeness may have been met before has that
  // key as well, and a run of them holding one written ahead is compared in full (JoinAlike).
  static constexpr uint64_t kLike = uint64_t(1) << 63;
  static uint64_t ContentKey(const EntryBytes& held) {
    return EqualKey({held.head, held.tail}) & ~kLike;
  }
  // `keyed`: the entry has e-mail or phone keys.
  static uint64_t Likeness(const contact::Contact& c, const Identity& id,
                           const std::vector<MatchKey>& keys, bool keyed) {
    if (!keyed) return EqualHash(c) | kLike;
    uint64_t h = 0;
    const auto mix = [&h](uint64_t v) { h = (std::rotl(h, 23) ^ v) * 0x9E3779B97F4A7C15ull; };
    mix(uint64_t(id.given) << 32 | id.surname);
    mix(uint64_t(id.suffix) << 32 | id.birthday);
    mix(uint64_t(id.middle) << 32 | uint32_t(id.givenInitial) << 16 | id.middleInitials[0]);
    mix(uint64_t(id.middleInitials[1]) << 16 | uint64_t(id.list) << 8 | uint64_t(id.sex) << 1 |
        uint64_t(id.household));
    // Not the uid's: it is no part of what an entry holds.
    for (const MatchKey& k : keys)
      if (k.rule != MatchRule::kSameEntry) mix(k.hash);
    return (h ^ h >> 29) | kLike;
  }
  // A run of entries of one likeness (`run_`), of which one may have been written ahead: where
  // one was, each compared by what it holds, read again from its store or taken back from the
  // spool, and those alike joined. Entries kept whole are joined to each other by the keys of
  // their content already.
  void JoinAlike() {
    if (run_.size() < 2 ||
        std::none_of(run_.begin(), run_.end(), [&](uint32_t e) { return entries_[e].written; }))
      return;
    std::vector<std::pair<uint64_t, uint32_t>> contents;
    for (const uint32_t e : run_) contents.emplace_back(ContentOf(e), e);
    std::sort(contents.begin(), contents.end());
    for (size_t i = 1; i < contents.size(); ++i)
      if (contents[i].first == contents[i - 1].first)
        Join(contents[i - 1].second, contents[i].second, MatchRule::kEqual);
  }
  // The hash of what entry `e` holds (EqualHash), kept for the groupings made again.
  uint64_t ContentOf(uint32_t e) {
    if (const auto known = contentOf_.find(e); known != contentOf_.end()) return known->second;
    contact::Contact entry;
    TakeEntry(e, entry);
    return contentOf_[e] = EqualHash(entry);
  }

  void Group() {
    grouped_ = true;
    // Room for 4 million entries at most is taken ahead, so that a folder count out of all
    // proportion (a damaged store) cannot make the allocation itself fail.
    const auto expected = size_t(std::clamp(reader_.Total(), 0, 1 << 22));
    entries_.reserve(expected);
    PreferLargePages(entries_);
    spool_.Reserve(expected);
    if (ahead_) met_ = MetKeys(reader_.Total());
    std::vector<MatchKey> entry_keys;
    SourcedContact c;
    while (reader_.Next(c)) {
      const auto index = static_cast<uint32_t>(entries_.size());
      if (index == SortedKeys::kEntries)
        throw StoreError(QStringLiteral("The stores hold more than %1 entries, too many to merge; "
                                        "export or send them without merging")
                             .arg(SortedKeys::kEntries)
                             .toStdString());
      const Identity identity = IdentityOf(c.contact);
      MatchKeys(c.contact, identity, severalStores_, entry_keys, suggest_);
      uint64_t like = 0;
      bool likeAlone = false;
      if (ahead_) {
        // Entries alike share their e-mail and phone keys: where an entry has one, those tell
        // the filter all its likeness would.
        likeAlone = std::none_of(entry_keys.begin(), entry_keys.end(), [](const MatchKey& k) {
          return k.rule == MatchRule::kEmail || k.rule == MatchRule::kPhone;
        });
        for (const MatchKey& k : entry_keys)
          if (Joins(k)) met_.Fetch(k.rule, k.hash);
        like = Likeness(c.contact, identity, entry_keys, !likeAlone);
        if (likeAlone) met_.Fetch(MatchRule::kEqual, like);
      }
      for (const MatchKey& k : entry_keys) keys_.Add(k.rule, k.hash, index);
      if (c.contact.isGroup) {
        List list{index, identity.surname, {}};
        for (const contact::Member& m : c.contact.members) {
          const uint64_t key = EmailKey(m.address);
          if (key != 0) {
            memberKeys_.insert(key);
            keys_.Count(MatchRule::kEmail, key);  // an address alone in the entries still counts
          }
          list.members.push_back(
              key != 0 ? key : (uint64_t(1) << 63) | KeyHash64(m.name.simplified().toCaseFolded()));
        }
        lists_.push_back(std::move(list));
      }
      const MergeRank rank = MergeRank::Of(c.contact, identity);
      Entry entry;
      if (severalStores_ && c.contact.created.isValid()) {
        const auto ms = uint64_t(c.contact.created.toMSecsSinceEpoch());
        entry.made = uint32_t(ms ^ ms >> 32) | 1;
      }
      entry.modified = rank.modified;
      entry.link = index;
      entry.named = rank.named;
      entry.identity = identity;
      entries_.push_back(entry);
      const int work = reader_.LastFolder();
      const int position = c.origins.front().position;
      if (placed_.empty() || placed_.back().work != work ||
          placed_.back().position + int(index - placed_.back().entry) != position)
        placed_.push_back({index, work, position});
      // Last, once the filter's lines fetched above have come.
      if (!ahead_) {
        keys_.Add(MatchRule::kEqual, ContentKey(spool_.Add(c.contact)), index);
        continue;
      }
      // Kept as written where no entry read before has a key of it that joins, and it is of
      // the last store: most entries join nobody, and are then given as written. One that
      // others join later on (they have its key) is read again from its store; so is one
      // suggested with another, where the suggestions are told (the same name and company joins
      // nobody unless accepted). An earlier store's entries are kept whole: a later store
      // often holds the same people (a copy, an archive), who would all be read twice.
      const bool likeMet = likeAlone && met_.Note(MatchRule::kEqual, like);
      bool met = likeMet;
      for (const MatchKey& k : entry_keys)
        if (Joins(k)) met = met_.Note(k.rule, k.hash) || met;
      const bool written =
          !met && !c.contact.isGroup && c.contact.members.empty() && reader_.InLastStore();
      entries_.back().written = written;
      if (written) {
        keys_.Add(MatchRule::kEqual, like, index);
        ahead_->WriteAhead(c, spool_.WriteRoom());
        spool_.AddWritten();
      } else {
        // The key of its content joins it to the entries kept whole alike; where an entry
        // read before may have had its likeness (its e-mail or phone keys met, where it has
        // any), that key too, for one written ahead it may equal.
        keys_.Add(MatchRule::kEqual, ContentKey(spool_.Add(c.contact)), index);
        if (likeAlone ? likeMet : met) keys_.Add(MatchRule::kEqual, like, index);
      }
    }
    spool_.Finish();
    met_ = {};
    // Room for a suggestion an entry, not copied each time it grows: what is not written to
    // takes no memory.
    if (suggest_) suggested_.reserve(entries_.size());
    // Grouped again, the entries whose values were found to point at two people held apart,
    // until no more are found (a few times at most: each time, only where such an entry is).
    for (int pass = 0;; ++pass) {
      const size_t torn = torn_.size();
      ApplyRules();
      if (torn_.size() == torn || pass == 3) break;
      Regroup();
    }
    keys_.Release();
    own_ = {};
    torn_ = {};
    contentOf_ = {};
    FinishGrouping();
  }

  // The strongest rules join first. Keys come in order of hash, then entry: the entries of
  // each hash are gathered into a run and joined as the rule says.
  void ApplyRules() {
    for (const MatchRule rule : {MatchRule::kSameEntry, MatchRule::kEqual, MatchRule::kEmail,
                                 MatchRule::kPhone, MatchRule::kNameAndCompany}) {
      keys_.Start(rule);
      Keyed k;
      uint64_t hash = 0;
      run_.clear();
      auto flush = [&] {
        if (run_.empty()) return;
        if (rule == MatchRule::kSameEntry) {
          SameUid();
        } else if (rule == MatchRule::kEqual && (hash & kLike) != 0) {
          JoinAlike();
        } else if (rule == MatchRule::kEqual) {
          // Entries alike in everything: one, whatever their names.
          for (size_t i = 1; i < run_.size(); ++i) Join(run_[0], run_[i], rule);
        } else if (rule == MatchRule::kNameAndCompany) {
          if (run_.size() > 1) Suggest();
        } else if (run_.size() > 1 || (rule == MatchRule::kEmail && memberKeys_.count(hash))) {
          Evidence(rule, hash);
        }
        run_.clear();
      };
      while (keys_.Next(k)) {
        if (!run_.empty() && k.Hash() != hash) flush();
        hash = k.Hash();
        run_.push_back(k.entry);
      }
      flush();
      if (rule == MatchRule::kPhone) JoinNameless();
    }
  }

  // The suggestions and lists settled, and each group's entries linked in order.
  void FinishGrouping() {
    FinishSuggestions();
    JoinLists();
    // Every entry to its group's first (the least of its entries), then each group's entries
    // linked in order from there, the last entry first: an entry's link is its first until it
    // is taken, and the first's link is the group's entry taken last (the least so far).
    for (uint32_t i = 0; i < entries_.size(); ++i) entries_[i].link = Find(i);
    for (Suggested& s : suggested_) {
      s.firstA = entries_[s.a].link;
      s.firstB = entries_[s.b].link;
    }
    total_ = 0;
    for (uint32_t i = uint32_t(entries_.size()); i-- > 0;) {
      Entry& e = entries_[i];
      if (e.link == i || e.link > i) {  // a group's first: alone, or its later entries linked
        e.first = true;
        if (e.link == i) e.link = kNone;
        ++total_;
        continue;
      }
      Entry& first = entries_[e.link];
      const uint32_t after = first.link;
      first.link = i;
      e.link = after == e.link ? kNone : after;
    }
  }

  // Entries sharing a uid (`run_`): those made at the same time are copies of one entry, one
  // whatever their names. Made at different times, they are different entries that two copies
  // of a store numbered alike after they parted: the one of the store named first (the first
  // there) keeps the uid, as it has read alone, and each other takes a uid of its own (OwnUid);
  // naming a copy after the others so changes no uid already given.
  void SameUid() {
    bool apart = false;
    for (size_t i = 1; i < run_.size(); ++i) {
      apart = apart || entries_[run_[i]].made != entries_[run_[0]].made;
      for (size_t j = 0; j < i; ++j)
        if (entries_[run_[j]].made == entries_[run_[i]].made) {
          Join(run_[j], run_[i], MatchRule::kSameEntry);
          break;
        }
    }
    if (!apart) return;
    std::pair<int, uint32_t> first{INT_MAX, kNone};
    for (const uint32_t i : run_)
      first = std::min(first, std::pair{named_.value(OriginOf(i).store, INT_MAX - 1), i});
    for (const uint32_t i : run_)
      entries_[i].sharedUid = entries_[i].made != entries_[first.second].made;
  }

  // The uid entry `i` (taken back as `taken`) gives a card: where entries made at other times
  // share its store's uid (SameUid), one made from that and the time the entry was made, else
  // none (the store's own is the card's). The entry itself keeps the store's uid, which a send
  // records it by whichever other stores are read with it.
  QString OwnUid(uint32_t i, const contact::Contact& taken) const {
    if (!entries_[i].sharedUid || taken.uid.isEmpty()) return {};
    return PartedCopyUid(taken);
  }

  static uint64_t KeyHash64(const QString& text) {
    return qHash(text, size_t(0x9e3779b9)) & ((uint64_t(1) << 62) - 1);
  }

  // Each pair of groups suggested once, the accepted ones joined.
  void FinishSuggestions() {
    // Each suggestion by the pair of groups it names, in order; the first of each pair is kept.
    struct Pair {
      uint64_t groups;
      uint32_t at;
    };
    std::vector<Pair> pairs;
    pairs.reserve(suggested_.size());
    for (size_t k = 0; k < suggested_.size(); ++k) {
      const uint32_t a = Find(suggested_[k].a), b = Find(suggested_[k].b);
      // An entry that could be either of two people, suggested with both: once another value
      // of its own has joined it to one, the other no longer fits.
      const MatchRule rule = suggested_[k].rule;
      if ((rule == MatchRule::kEmail || rule == MatchRule::kPhone) &&
          !AgreeAsSuggested(suggested_[k]))
        continue;
      if (a != b) pairs.push_back({uint64_t(std::min(a, b)) << 32 | std::max(a, b), uint32_t(k)});
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) {
      return x.groups != y.groups ? x.groups < y.groups : x.at < y.at;
    });
    std::vector<bool> keep(suggested_.size(), false);
    for (size_t i = 0; i < pairs.size(); ++i)
      if (i == 0 || pairs[i].groups != pairs[i - 1].groups) keep[pairs[i].at] = true;
    pairs = {};
    size_t kept = 0;
    for (size_t k = 0; k < suggested_.size(); ++k)
      if (keep[k]) suggested_[kept++] = suggested_[k];
    suggested_.resize(kept);
    suggested_.shrink_to_fit();
    // Accepted, but never so that people whose names or birthdays differ become one: accepting
    // the same name and company for a man born 1970 and for one without a birthday, and for the
    // latter and one born 1985, joins the first two only. An entry suggested with each of two
    // people whose address or number it holds stays apart: which of them it is, only the user
    // can say (in the review).
    if (accept_)
      for (Suggested& s : suggested_)
        if ((s.rule == MatchRule::kNameAndCompany || s.rule == MatchRule::kEmailOtherSurname) &&
            AgreeAsSuggested(s)) {
          Join(s.a, s.b, s.rule);
          s.joined = true;
          ++accepted_;
        }
  }

  // The suggestions as they are told: the contact number of each side (groups are given out in
  // order of their first entry), each side's entry and own name, the value they share. Made when
  // first asked for: each side's entry is read back from the spool, which an export that only
  // counts the suggestions does without.
  void DescribeSuggestions() const {
    std::vector<uint32_t> firsts;
    for (const Suggested& s : suggested_) firsts.insert(firsts.end(), {s.firstA, s.firstB});
    std::sort(firsts.begin(), firsts.end());
    firsts.erase(std::unique(firsts.begin(), firsts.end()), firsts.end());
    std::vector<int> numbers(firsts.size(), 0);
    size_t at = 0;
    int number = 0;
    for (uint32_t i = 0; i < entries_.size() && at < firsts.size(); ++i) {
      if (!entries_[i].first) continue;
      ++number;
      if (firsts[at] == i) numbers[at++] = number;
    }
    auto numberOf = [&](uint32_t first) {
      return numbers[size_t(std::lower_bound(firsts.begin(), firsts.end(), first) -
                            firsts.begin())];
    };
    suggestions_.clear();
    contact::Contact a, b;
    for (const Suggested& s : suggested_) {
      Suggestion out;
      out.rule = s.rule;
      out.accepted = s.joined;
      out.first = numberOf(s.firstA);
      out.second = numberOf(s.firstB);
      TakeEntry(s.a, a);
      TakeEntry(s.b, b);
      out.firstEntry = OriginOf(s.a);
      out.secondEntry = OriginOf(s.b);
      out.firstEntry.name = contact::ShownName(a);
      out.secondEntry.name = contact::ShownName(b);
      out.value = s.rule == MatchRule::kNameAndCompany
                      ? a.company
                      : SharedValue(a, b, s.rule == MatchRule::kPhone ? s.rule : MatchRule::kEmail);
      suggestions_.push_back(std::move(out));
    }
  }

  // The value `entry` shares with `others` by `rule`: an e-mail address or a telephone number as
  // `entry` writes it; empty where there is none.
  static QString SharedValue(const contact::Contact& entry, const contact::Contact& others,
                             MatchRule rule) {
    if (rule == MatchRule::kEmail || rule == MatchRule::kEmailOtherSurname) {
      for (const contact::Email& e : entry.emails)
        for (const contact::Email& o : others.emails)
          if (!e.address.isEmpty() && ComparableEmail(e.address) == ComparableEmail(o.address))
            return e.address;
    } else if (rule == MatchRule::kPhone) {
      const int home = HomeCallingCode();
      for (const contact::Phone& p : entry.phones) {
        const QString mine = ComparablePhone(p.number, home);
        if (mine.isEmpty()) continue;
        for (const contact::Phone& o : others.phones)
          if (ComparablePhone(o.number, home) == mine) return p.number;
      }
    } else if (rule == MatchRule::kNameAndCompany) {
      return entry.company;
    } else if (rule == MatchRule::kSameEntry) {
      return entry.uid;
    }
    return {};
  }

  // The one origin of entry `first` given alone, its time `modified`: set in place where `out`
  // has one (no copy made and freed; most entries come from the folder the last one came from).
  contact::Origin& OneOrigin(uint32_t first, SourcedContact& out, const QDateTime& modified) {
    if (out.origins.size() == 1 && out.origins.front().joinedBy.isEmpty() &&
        out.origins.front().name.isEmpty()) {
      contact::Origin& o = out.origins.front();
      const Placed& p = PlaceOf(first);
      reader_.PlaceOrigin(p.work, p.position + int(first - p.entry), o);
      o.lastModified = modified;
    } else {
      out.origins.assign(1, OriginOf(first, modified));
    }
    return out.origins.front();
  }

  // Entry `first`, alone in its group, as the AheadWriter wrote it: the contact itself empty
  // (no more than the writer's bytes are given), its origin without the entry's uid.
  void EmitWritten(uint32_t first, SourcedContact& out) {
    if (out.written.isEmpty()) out.contact = contact::Contact();  // only after a whole one
    spool_.TakeWritten(first, out.written, true);
    contact::Origin& o = OneOrigin(first, out, ModifiedOf(first));
    o.entry.clear();
    o.made = QDateTime();
    o.ownUid.clear();
    out.mergeRule.clear();
  }

  void Emit(uint32_t first, SourcedContact& out) {
    if (entries_[first].link == kNone) {
      // The last contact's uid, shared with its origin, let go there first: the uid is then
      // read back into the string it is in, not into one made anew.
      if (!out.origins.empty()) out.origins.front().entry.clear();
      // As written, but where its card takes a uid of its own after all.
      if (entries_[first].written && !entries_[first].sharedUid) {
        EmitWritten(first, out);
        return;
      }
      TakeEntry(first, out.contact, true);
      out.written.clear();
      const QString own = OwnUid(first, out.contact);
      // Its time the contact's own.
      contact::Origin& o = OneOrigin(first, out, out.contact.lastModified);
      o.entry = out.contact.uid;
      o.made = out.contact.created;
      o.ownUid = own;
      if (!own.isEmpty()) out.contact.uid = own;
      out.mergeRule.clear();
      return;
    }
    // In the order of MergeRank: entries with a name before those without, newest first; among
    // those ranked alike by content (the bytes the spool keeps of each). A few by insertion, in
    // room used again: most groups are of two or three.
    std::vector<uint32_t>& order = order_;
    order.clear();
    for (uint32_t i = first; i != kNone; i = entries_[i].link) order.push_back(i);
    const auto newer = [&](uint32_t a, uint32_t b) { return RankOf(a).Before(RankOf(b)); };
    if (order.size() > 16) {
      std::stable_sort(order.begin(), order.end(), newer);
    } else {
      for (size_t i = 1; i < order.size(); ++i)
        for (size_t j = i; j > 0 && newer(order[j], order[j - 1]); --j)
          std::swap(order[j], order[j - 1]);
    }
    // Equally new entries (rare but for copies of one entry) are all taken first to be compared.
    std::vector<contact::Contact>& held = held_;
    held.clear();
    for (size_t k = 1; k < order.size() && held.empty(); ++k)
      if (RankOf(order[k]) == RankOf(order[k - 1])) HoldSorted(first, order);
    // Copies of one entry (a store and its copy: the same uid, made at the same time) are
    // versions of it, not more of the person: only the one changed last is merged, whichever
    // is ranked first, and each older one comes after the others, told as what the card does not
    // hold. The time made (its hash) tells first whether the group can hold copies at all.
    size_t mergedCount = order.size();
    if (HasCopies(order)) {
      if (held.empty()) HoldSorted(first, order);
      const std::vector<bool> olderCopy = OlderCopies(held);
      std::vector<uint32_t> copiesLast;
      std::vector<contact::Contact> heldLast;
      for (const bool copies : {false, true})
        for (size_t k = 0; k < order.size(); ++k)
          if (olderCopy[k] == copies) {
            copiesLast.push_back(order[k]);
            heldLast.push_back(std::move(held[k]));
          }
      mergedCount = size_t(std::count(olderCopy.begin(), olderCopy.end(), false));
      order = std::move(copiesLast);
      held = std::move(heldLast);
    }
    out.origins.clear();
    out.written.clear();
    contact::Contact& older = older_;
    Combiner combined(out.contact);
    uint32_t rules = 0;
    // The card's uid: that of the entry from the store named first, the first of its entries
    // there (OpenContacts' note on uids).
    std::pair<int, uint32_t> chosen{INT_MAX, kNone};
    QString uid;
    for (size_t k = 0; k < order.size(); ++k) {
      const Entry& e = entries_[order[k]];
      out.origins.push_back(OriginOf(order[k]));
      Origin& origin = out.origins.back();
      origin.joinedBy = RuleText(e.joinedBy);
      rules |= e.rules;
      contact::Contact& entry = k == 0 ? out.contact : held.empty() ? older : held[k];
      if (k == 0 && !held.empty())
        out.contact = std::move(held[0]);
      else if (held.empty())
        TakeEntry(order[k], entry, order[k] == first);
      origin.entry = entry.uid;
      origin.made = entry.created;
      origin.ownUid = OwnUid(order[k], entry);
      const std::pair<int, uint32_t> rank{named_.value(origin.store, INT_MAX - 1), order[k]};
      if (!entry.uid.isEmpty() && rank < chosen) {
        chosen = rank;
        uid = origin.ownUid.isEmpty() ? entry.uid : origin.ownUid;
      }
      origin.name = contact::ShownName(entry);
      if (k == 0) continue;
      origin.matched = SharedValue(entry, out.contact, e.joinedBy);
      // The newest entry matched by what it shares, by the rule that joined it, with the first
      // entry that shares anything so (the others may have joined each other by another rule:
      // copies of one entry).
      Origin& newest = out.origins.front();
      if (newest.matched.isEmpty() && !newest.joinedBy.isEmpty())
        newest.matched = SharedValue(out.contact, entry, entries_[order[0]].joinedBy);
      if (k < mergedCount) combined.Add(entry, &origin.notCarried);
    }
    for (size_t k = mergedCount; k < order.size(); ++k)
      combined.TellOlderCopy(held[k], out.origins[k].notCarried);
    out.contact.uid = uid;
    QStringList why;
    for (const MatchRule r : kRulesStrongestFirst)
      if (rules & (1u << static_cast<unsigned>(r))) why << RuleText(r);
    out.mergeRule = why.join(QStringLiteral(", "));
  }

  // Whether two of the group's entries (`order`) were made at the same time: copies of one entry
  // may be among them.
  bool HasCopies(const std::vector<uint32_t>& order) {
    if (!severalStores_) return false;
    std::vector<uint32_t>& made = made_;
    made.clear();
    for (const uint32_t i : order)
      if (entries_[i].made != 0) made.push_back(entries_[i].made);
    std::sort(made.begin(), made.end());
    return std::adjacent_find(made.begin(), made.end()) != made.end();
  }

  // Takes the group's entries (`order`, newest first) into held_ and puts equally new ones in the
  // order of their bytes.
  void HoldSorted(uint32_t first, std::vector<uint32_t>& order) {
    const size_t n = order.size();
    held_.resize(n);
    std::vector<QByteArray> content(n);
    // Compared without the uid, which comes from the store, not the entry's content
    // (EntryContent).
    for (size_t k = 0; k < n; ++k) TakeEntry(order[k], held_[k], order[k] == first, &content[k]);
    std::vector<size_t> by(n);
    for (size_t k = 0; k < n; ++k) by[k] = k;
    std::stable_sort(by.begin(), by.end(), [&](size_t a, size_t b) {
      const MergeRank ra = RankOf(order[a]), rb = RankOf(order[b]);
      return ra == rb ? content[a] < content[b] : ra.Before(rb);
    });
    std::vector<uint32_t> sortedOrder(n);
    std::vector<contact::Contact> sortedHeld(n);
    for (size_t k = 0; k < n; ++k) {
      sortedOrder[k] = order[by[k]];
      sortedHeld[k] = std::move(held_[by[k]]);
    }
    order = std::move(sortedOrder);
    held_ = std::move(sortedHeld);
  }

  // Copies of one entry are only ever in different stores: in one, every entry's uid (its record
  // key and node id) is its own, and its kSameEntry key is not kept.
  bool severalStores_ = false;
  StoreContactStream reader_;
  contact::AheadWriter* ahead_ = nullptr;
  MetKeys met_;  // the keys of the entries read so far, while they are read
  SortedKeys keys_;
  mutable EntrySpool spool_;  // read from by Suggestions() too
  bool accept_ = false;
  bool suggest_ = true;                 // suggestions are looked for (LeaveSuggestions)
  int accepted_ = 0;                    // suggestions accepted and joined
  contact::Contact older_;              // room for the older entries of a group, used again
  std::vector<uint32_t> order_;         // a group's entries in the order they are merged
  std::vector<contact::Contact> held_;  // a group's entries taken ahead to be ordered
  std::vector<uint32_t> made_;          // a group's times made (hashed), in room used again
  QHash<QString, int> named_;           // each store's place in the order the stores were named
  bool grouped_ = false;
  int total_ = -1;
  std::vector<Entry> entries_;
  std::vector<Placed> placed_;
  uint32_t next_ = 0;
  // While the groups are found: the run of entries sharing a key, its named groups and nameless
  // entries; nameless entries waiting for the named groups; lists and their members' addresses.
  std::vector<uint32_t> run_, clusters_, nameless_, roots_, agreeing_, apart_;
  // Entries whose values point at two people (FindTorn), held apart from every group; and the
  // own identity of each entry that took its group's.
  std::unordered_set<uint32_t> torn_;
  std::unordered_map<uint32_t, Identity> own_;
  std::unordered_map<uint32_t, uint64_t> contentOf_;  // ContentOf's hashes
  std::vector<Pending> pending_;
  std::vector<Suggested> suggested_;
  std::vector<List> lists_;
  std::unordered_set<uint64_t> memberKeys_;
  std::unordered_map<uint64_t, uint32_t> memberOwner_;  // a member's address: its named group
  mutable std::vector<Suggestion> suggestions_;         // made from suggested_ when first asked for
};

}  // namespace

std::vector<StoreFolders> FindSources(const StoreSelection& options, QStringList* notes,
                                      std::vector<ContactFolderSearch::LeftOut>* leftFolders) {
  QStringList paths = options.stores;
  if (paths.isEmpty()) paths << DefaultStorePath();
  std::vector<StoreFolders> sources;
  QHash<QString, QString> named;  // the file, however written: the path first given for it
  bool namedFolderFound = false;
  // A store without a contacts folder among several is left out: the others' contacts still go.
  // An archive of mail only is told in a note; one that is damaged, or keeps its contacts in
  // folders of another kind, loses contacts, and is told as a problem of the contacts read
  // (`why`). Alone, or where every store lacks one, it is an error.
  QStringList leftOut;
  std::vector<contact::EntryProblem> lost;
  // The --exclude-folder paths some store has a folder at: a misspelt one leaves nothing out.
  QSet<QString> excludedFound;
  const auto leaveOut = [&](const QString& path, const QString& why = {}) {
    if (paths.size() < 2 || leftOut.size() + 1 == paths.size()) return false;
    leftOut << path;
    if (!why.isEmpty()) {
      contact::EntryProblem problem{QString(), 0, why, false, path};
      problem.storeLeftOut = true;
      lost.push_back(std::move(problem));
    } else if (notes) {
      *notes << QStringLiteral(
                    "%1 has no contacts folder: it is left out (see 'lumivex-cli "
                    "folders %1' for the folders it has)")
                    .arg(path);
    }
    return true;
  };
  for (const QString& path : paths) {
    const QFileInfo info(path);
    const QString file = info.exists() ? info.canonicalFilePath() : QDir::cleanPath(path);
    if (const auto first = named.constFind(file); first != named.constEnd()) {
      if (notes)
        *notes << (*first == path ? QStringLiteral("%1 is named twice; it is read once").arg(path)
                                  : QStringLiteral("%1 and %2 are the same file; it is read once")
                                        .arg(*first, path));
      continue;
    }
    named.insert(file, path);
    StoreFolders s;
    s.path = path;
    s.store = OpenStoreFile(path);
    if (options.allFolders) {
      const ContactFolderSearch search = FindContactFolders(*s.store);
      for (const QString& excluded : options.excludeFolders) {
        try {
          if (!excludedFound.contains(excluded) && FindFolder(*s.store, excluded))
            excludedFound.insert(excluded);
        } catch (const StoreError&) {
          // A branch that cannot be read is told with the folders found.
        }
      }
      bool here = false;  // the folder `folder` names is among those of this store
      for (const auto& found : search.folders)
        if (!options.excludeFolders.contains(found.folder->Path()))
          s.folders.push_back(found.folder);
      for (const auto& left : search.leftOut) {
        if (left.folder->Path() == options.folder) {
          s.folders.push_back(left.folder);
          here = true;
        } else if (!options.excludeFolders.contains(left.folder->Path())) {
          if (leftFolders) leftFolders->push_back(left);
          if (notes)
            *notes << QStringLiteral(
                          "\"%1\" of %2 is left out (%3, %4 %5); --folder \"%1\" "
                          "takes it too")
                          .arg(left.folder->Path(), path, FolderRoleText(left.role))
                          .arg(left.contacts)
                          .arg(left.contacts == 1 ? QStringLiteral("entry")
                                                  : QStringLiteral("entries"));
        }
      }
      if (!options.folder.isEmpty()) {
        for (const auto& folder : s.folders) here |= folder->Path() == options.folder;
        if (auto folder = here ? nullptr : FindFolder(*s.store, options.folder)) {
          s.folders.push_back(folder);
          here = true;
        }
      }
      namedFolderFound |= here;
      if (s.folders.empty()) {
        if (leaveOut(path)) continue;
        throw StoreError(QStringLiteral("%1 has no contacts folder to read; see 'lumivex-cli "
                                        "folders %1' for the folders it has")
                             .arg(path)
                             .toStdString());
      }
    } else if (!options.folder.isEmpty()) {
      auto folder = FindFolder(*s.store, options.folder);
      if (!folder)
        throw StoreError(QStringLiteral("no folder \"%1\" in %2; run 'lumivex-cli folders %2' for "
                                        "the folder paths")
                             .arg(options.folder, path)
                             .toStdString());
      s.folders.push_back(folder);
    } else {
      auto folder = s.store->DefaultContactsFolder();
      if (!folder) {
        // Where its contacts are instead, or its damage; nothing for a store of mail only.
        QString why, several;
        try {
          const ContactFolderSearch search = FindContactFolders(*s.store);
          why = MissingContactsFolder(search, path, true);
          // Among several stores, --folder would name a folder of each.
          several = !ContactFoldersAdvice(search, path, true).isEmpty()
                        ? QStringLiteral(
                              "%1 has no contacts folder, but keeps contacts in other "
                              "folders (see 'lumivex-cli folders %1'): it is left "
                              "out; --all-folders takes them")
                              .arg(path)
                    : !why.isEmpty() ? why + QStringLiteral("; it is left out")
                                     : QString();
        } catch (const StoreError& failure) {
          why = several = QStringLiteral(
                              "%1 has no contacts folder that can be read: %2; it is "
                              "left out")
                              .arg(path, QString::fromUtf8(failure.what()));
        }
        if (leaveOut(path, several)) continue;
        if (!why.isEmpty()) throw StoreError(why.toStdString());
        throw StoreError(QStringLiteral("%1 has no contacts folder; name one with --folder PATH "
                                        "(see 'lumivex-cli folders %1')")
                             .arg(path)
                             .toStdString());
      }
      s.folders.push_back(folder);
    }
    sources.push_back(std::move(s));
  }
  if (!sources.empty()) sources.front().storesLeftOut = std::move(lost);
  if (notes && options.allFolders)
    for (const QString& excluded : options.excludeFolders)
      if (!excludedFound.contains(excluded))
        *notes << QStringLiteral(
                      "--exclude-folder \"%1\" names no folder of %2, so it leaves nothing out; "
                      "'lumivex-cli folders %3' prints the folder paths")
                      .arg(excluded, paths.join(QStringLiteral(", ")), paths.first());
  if (options.allFolders && !options.folder.isEmpty() && !namedFolderFound)
    throw StoreError(QStringLiteral("no folder \"%1\" in %2; run 'lumivex-cli folders %3' for "
                                    "the folder paths")
                         .arg(options.folder, paths.join(QStringLiteral(", ")), paths.first())
                         .toStdString());
  return sources;
}

std::unique_ptr<contact::ContactStream> OpenContacts(std::vector<StoreFolders> sources, bool merge,
                                                     const MergeLimits& limits,
                                                     bool acceptSuggestions) {
  if (!merge)
    return sources.size() > 1 ? std::unique_ptr<contact::ContactStream>(
                                    std::make_unique<PartedCopies>(std::move(sources)))
                              : std::make_unique<StoreContactStream>(std::move(sources));
  QHash<QString, int> named;
  for (size_t i = 0; i < sources.size(); ++i)
    if (!named.contains(sources[i].path)) named.insert(sources[i].path, int(i));
  // The stores are read in an order of their own, so that the same stores give the same
  // contacts in the same order however they were named.
  std::stable_sort(sources.begin(), sources.end(),
                   [](const StoreFolders& a, const StoreFolders& b) {
                     return QDir::cleanPath(QFileInfo(a.path).absoluteFilePath()) <
                            QDir::cleanPath(QFileInfo(b.path).absoluteFilePath());
                   });
  return std::make_unique<MergingStream>(std::move(sources), std::move(named), limits,
                                         acceptSuggestions);
}

std::unique_ptr<contact::ContactStream> OpenContacts(const StoreSelection& options) {
  return OpenContacts(FindSources(options), options.merge, {}, options.acceptSuggestions);
}

}  // namespace lumivex::merge
