#include "merge/ContactSources.h"

#include "merge/EntrySpool.h"
#include "merge/MergeRules.h"
#include "source/StoreBackend.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace lumivex::merge {

namespace {

using contact::EntryProblem;
using contact::Origin;
using contact::SourcedContact;

// The entries of one person as one contact. A first pass reads every entry once: its match keys
// are kept, and the entry itself goes to the spool (memory up to a bound, then a temporary
// file). The groups are then found by joining entries that share a key; the second pass takes
// each group's entries back from the spool, merges them and gives the contact out. Besides the
// bounded spool, memory holds about 50 bytes an entry, 12 more for each of its keys until the
// groups are found, and the entries of one group.
class MergingStream : public contact::ContactStream {
 public:
  explicit MergingStream(std::vector<StoreFolders> sources) : reader_(std::move(sources)) {}

  int Total() const override { return total_; }
  const std::vector<EntryProblem>& Problems() const override { return reader_.Problems(); }

  bool Next(SourcedContact& out) override {
    if (!grouped_) Group();
    while (next_ < entries_.size()) {
      const uint32_t i = next_++;
      const uint32_t root = entries_[i].parent;
      const uint32_t* first = &members_[group_start_[root]];
      if (*first != i) continue;  // given out with the group's first entry
      const uint32_t* last = &members_[group_start_[root + 1]];
      Emit(first, last, out);
      return true;
    }
    return false;
  }

 private:
  struct Entry {
    int64_t modified = 0;  // ms since 1970, INT64_MIN when unknown
    int32_t position = 0;
    uint32_t parent = 0;
    uint32_t work = 0;                      // the folder (FolderContacts::MakeOrigin)
    uint8_t rules = 0;                      // bit 1 << MatchRule of each join it took part in
    MatchRule joinedBy = MatchRule::kNone;  // the first (strongest) of those joins
  };
  Origin OriginOf(const Entry& e) const {
    return reader_.MakeOrigin(e.work, e.position,
                              e.modified == INT64_MIN
                                  ? QDateTime()
                                  : QDateTime::fromMSecsSinceEpoch(e.modified, Qt::UTC));
  }

  uint32_t Find(uint32_t i) {
    while (entries_[i].parent != i) {
      entries_[i].parent = entries_[entries_[i].parent].parent;
      i = entries_[i].parent;
    }
    return i;
  }

  // A match key of one entry; the hash in two halves keeps the array at 12 bytes an entry.
  struct Keyed {
    uint32_t high;
    uint32_t low;
    uint32_t entry;
    uint64_t Hash() const { return uint64_t(high) << 32 | low; }
  };

  // Sorts keys by hash, then entry: spread in place over 256 buckets by a byte of the hash (the
  // first, then within each bucket the second), the few keys of each bucket then put in order by
  // insertion: a third of the time of sorting each bucket of the first byte with std::sort.
  static void SortKeys(Keyed* begin, Keyed* end, int shift) {
    std::array<size_t, 257> start{};
    auto bucket = [shift](const Keyed& k) { return (k.high >> shift) & 0xFF; };
    for (const Keyed* k = begin; k != end; ++k) ++start[bucket(*k) + 1];
    for (size_t b = 0; b < 256; ++b) start[b + 1] += start[b];
    std::array<size_t, 256> next;
    std::copy(start.begin(), start.end() - 1, next.begin());
    for (size_t b = 0; b < 256; ++b)
      while (next[b] < start[b + 1]) {
        // The key at next[b] goes to its bucket, the one there in its stead, until one of
        // bucket b comes back.
        Keyed k = begin[next[b]];
        for (size_t kb = bucket(k); kb != b; kb = bucket(k)) std::swap(k, begin[next[kb]++]);
        begin[next[b]++] = k;
      }
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
  static bool Before(const Keyed& x, const Keyed& y) {
    return x.Hash() != y.Hash() ? x.Hash() < y.Hash() : x.entry < y.entry;
  }

  void Group() {
    grouped_ = true;
    // The keys of each rule apart. Room is kept for as many as the entries are likely to give:
    // pages never written take no memory, and the arrays are not copied as they grow. Room for
    // 4 million entries at most is taken ahead, so that a folder count out of all proportion
    // (a damaged store) cannot make the allocation itself fail.
    constexpr size_t kRules = size_t(MatchRule::kList) + 1;
    std::array<std::vector<Keyed>, kRules> keys;
    const auto expected = size_t(std::clamp(reader_.Total(), 0, 1 << 22));
    for (size_t r = 1; r < kRules; ++r)
      keys[r].reserve(r == size_t(MatchRule::kEmail) || r == size_t(MatchRule::kNameAndPhone)
                          ? 3 * expected
                          : expected);
    entries_.reserve(expected);
    std::vector<MatchKey> entry_keys;
    SourcedContact c;
    while (reader_.Next(c)) {
      const auto index = static_cast<uint32_t>(entries_.size());
      MatchKeys(c.contact, entry_keys);
      for (const MatchKey& k : entry_keys)
        keys[size_t(k.rule)].push_back({uint32_t(k.hash >> 32), uint32_t(k.hash), index});
      spool_.Add(c.contact);
      const QDateTime& modified = c.contact.lastModified;
      entries_.push_back({modified.isValid() ? modified.toMSecsSinceEpoch() : INT64_MIN,
                          c.origins.front().position, index,
                          static_cast<uint32_t>(reader_.LastFolder()), 0});
    }
    // The strongest rules join first: a group's rules are those of the joins that made it, each
    // the strongest that could join those entries.
    for (size_t r = 1; r < kRules; ++r) {
      std::vector<Keyed>& rule = keys[r];
      SortKeys(rule.data(), rule.data() + rule.size(), 24);
      const auto bit = static_cast<uint8_t>(1u << r);
      for (size_t run = 0; run < rule.size();) {
        size_t end = run + 1;
        while (end < rule.size() && rule[end].Hash() == rule[run].Hash()) ++end;
        for (size_t k = run + 1; k < end; ++k) {
          const uint32_t a = Find(rule[run].entry);
          const uint32_t b = Find(rule[k].entry);
          if (a == b) continue;
          entries_[std::max(a, b)].parent = std::min(a, b);
          for (const uint32_t joined : {rule[run].entry, rule[k].entry}) {
            Entry& e = entries_[joined];
            e.rules |= bit;
            if (e.joinedBy == MatchRule::kNone) e.joinedBy = MatchRule(r);
          }
        }
        run = end;
      }
      rule = {};
    }
    // Each group's entries in order, found through its root: members_[group_start_[root]...].
    // Every entry points at its group's root, the group's first entry.
    for (uint32_t i = 0; i < entries_.size(); ++i) entries_[i].parent = Find(i);
    group_start_.assign(entries_.size() + 1, 0);
    for (uint32_t i = 0; i < entries_.size(); ++i) ++group_start_[entries_[i].parent + 1];
    for (size_t i = 1; i < group_start_.size(); ++i) group_start_[i] += group_start_[i - 1];
    members_.resize(entries_.size());
    std::vector<uint32_t> fill(group_start_.begin(), group_start_.end() - 1);
    for (uint32_t i = 0; i < entries_.size(); ++i) members_[fill[entries_[i].parent]++] = i;
    total_ = 0;
    for (uint32_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].parent == i) ++total_;
    spool_.Finish();
  }

  void Emit(const uint32_t* first, const uint32_t* last, SourcedContact& out) {
    if (last - first == 1) {
      spool_.Take(*first, out.contact, true);
      // The origin set in place where there is one (no copy made and freed), its time the
      // contact's own.
      const Entry& e = entries_[*first];
      if (out.origins.size() == 1 && out.origins.front().joinedBy.isEmpty()) {
        contact::Origin& o = out.origins.front();
        const Origin made = reader_.MakeOrigin(e.work, e.position, QDateTime());
        if (!o.store.isSharedWith(made.store)) o.store = made.store;
        if (!o.folder.isSharedWith(made.folder)) o.folder = made.folder;
        o.position = e.position;
        o.lastModified = out.contact.lastModified;
      } else {
        out.origins.assign(1, OriginOf(e));
      }
      out.mergeRule.clear();
      return;
    }
    // Newest first; among equally new ones the earlier entry first. A few by insertion, in room
    // used again: most groups are of two or three.
    std::vector<uint32_t>& order = order_;
    order.assign(first, last);
    const auto newer = [&](uint32_t a, uint32_t b) {
      return entries_[a].modified > entries_[b].modified;
    };
    if (order.size() > 16) {
      std::stable_sort(order.begin(), order.end(), newer);
    } else {
      for (size_t i = 1; i < order.size(); ++i)
        for (size_t j = i; j > 0 && newer(order[j], order[j - 1]); --j)
          std::swap(order[j], order[j - 1]);
    }
    out.origins.clear();
    QString uid;
    bool sameUid = true;
    contact::Contact& older = older_;
    Combiner combined(out.contact);
    uint32_t rules = 0;
    for (size_t k = 0; k < order.size(); ++k) {
      const Entry& e = entries_[order[k]];
      out.origins.push_back(OriginOf(e));
      out.origins.back().joinedBy = RuleText(e.joinedBy);
      rules |= e.rules;
      if (k == 0) {
        spool_.Take(order[k], out.contact, order[k] == *first);
        uid = out.contact.uid;
        continue;
      }
      spool_.Take(order[k], older, order[k] == *first);
      if (older.uid != uid) sameUid = false;
      if (older.uid < uid && !older.uid.isEmpty()) uid = older.uid;
      combined.Add(older);
    }
    (void)sameUid;  // the least uid is the shared one when all are the same
    out.contact.uid = uid;
    QStringList why;
    for (auto r : {MatchRule::kSameEntry, MatchRule::kEmail, MatchRule::kNameAndPhone,
                   MatchRule::kNameAndCompany, MatchRule::kList})
      if (rules & (1u << static_cast<unsigned>(r))) why << RuleText(r);
    out.mergeRule = why.join(QStringLiteral(", "));
  }

  FolderContacts reader_;
  EntrySpool spool_;
  contact::Contact older_;       // room for the older entries of a group, used again
  std::vector<uint32_t> order_;  // a group's entries in the order they are merged
  bool grouped_ = false;
  int total_ = -1;
  std::vector<Entry> entries_;
  std::vector<uint32_t> group_start_;
  std::vector<uint32_t> members_;
  uint32_t next_ = 0;
};

}  // namespace

std::vector<StoreFolders> FindSources(const SourceOptions& options) {
  QStringList paths = options.stores;
  if (paths.isEmpty()) paths << DefaultStorePath();
  std::vector<StoreFolders> sources;
  for (const QString& path : paths) {
    StoreFolders s;
    s.path = path;
    s.store = OpenStoreFile(path);
    if (options.allFolders) {
      for (auto& folder : ContactFolders(*s.store))
        if (!options.excludeFolders.contains(folder->Path())) s.folders.push_back(folder);
      if (s.folders.empty())
        throw StoreError(QStringLiteral("%1 has no contacts folder to read; see 'lumivex-cli "
                                        "folders %1' for the folders it has")
                             .arg(path)
                             .toStdString());
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
      if (!folder)
        throw StoreError(QStringLiteral("%1 has no contacts folder; name one with --folder PATH "
                                        "(see 'lumivex-cli folders %1')")
                             .arg(path)
                             .toStdString());
      s.folders.push_back(folder);
    }
    sources.push_back(std::move(s));
  }
  return sources;
}

std::unique_ptr<contact::ContactStream> OpenContacts(std::vector<StoreFolders> sources,
                                                     bool merge) {
  if (!merge) return std::make_unique<FolderContacts>(std::move(sources));
  // The stores are read in an order of their own, so that the same stores give the same
  // contacts in the same order however they were named.
  std::stable_sort(sources.begin(), sources.end(),
                   [](const StoreFolders& a, const StoreFolders& b) {
                     return QDir::cleanPath(QFileInfo(a.path).absoluteFilePath()) <
                            QDir::cleanPath(QFileInfo(b.path).absoluteFilePath());
                   });
  return std::make_unique<MergingStream>(std::move(sources));
}

std::unique_ptr<contact::ContactStream> OpenContacts(const SourceOptions& options) {
  return OpenContacts(FindSources(options), options.merge);
}

}  // namespace lumivex::merge
