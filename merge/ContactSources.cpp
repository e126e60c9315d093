#include "merge/ContactSources.h"

#include "merge/EntrySpool.h"
#include "merge/MergeRules.h"
#include "merge/SortedKeys.h"
#include "source/StoreBackend.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace lumivex::merge {

namespace {

using contact::EntryProblem;
using contact::Origin;
using contact::SourcedContact;

// The entries of one person as one contact. A first pass reads every entry once: its match keys
// are kept (SortedKeys: in memory up to a bound, then runs in a temporary file), and the entry
// itself goes to the spool (in memory up to a bound, then a temporary file; straight to the file
// for stores of many entries). The groups are then found by joining entries that share a key;
// the second pass takes each group's entries back from the spool, merges them and gives the
// contact out. Besides these bounded parts, memory holds 24 bytes an entry and the entries of
// one group.
class MergingStream : public contact::ContactStream {
 public:
  explicit MergingStream(std::vector<StoreFolders> sources, const MergeLimits& limits)
      : reader_(std::move(sources)),
        keys_(limits.keysInMemory),
        spool_(reader_.Total() > limits.manyEntries ? 0 : EntrySpool::kMemoryCap) {}

  int Total() const override { return total_; }
  const std::vector<EntryProblem>& Problems() const override { return reader_.Problems(); }

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
    bool first = false;                     // the first entry of its group
  };
  // Where entries came from: from entry `entry` on, folder `work` (FolderContacts::MakeOrigin)
  // from `position` on, one after another. Mostly one a folder.
  struct Placed {
    uint32_t entry;
    int work;
    int position;
  };
  Origin OriginOf(uint32_t i, const QDateTime& modified) const {
    const Placed& p = *(std::upper_bound(placed_.begin(), placed_.end(), i,
                                         [](uint32_t i, const Placed& p) { return i < p.entry; }) -
                        1);
    return reader_.MakeOrigin(p.work, p.position + int(i - p.entry), modified);
  }
  Origin OriginOf(uint32_t i) const {
    const int64_t modified = entries_[i].modified;
    return OriginOf(
        i, modified == INT64_MIN ? QDateTime() : QDateTime::fromMSecsSinceEpoch(modified, Qt::UTC));
  }

  uint32_t Find(uint32_t i) {
    while (entries_[i].link != i) {
      entries_[i].link = entries_[entries_[i].link].link;
      i = entries_[i].link;
    }
    return i;
  }

  void Group() {
    grouped_ = true;
    // Room for 4 million entries at most is taken ahead, so that a folder count out of all
    // proportion (a damaged store) cannot make the allocation itself fail.
    const auto expected = size_t(std::clamp(reader_.Total(), 0, 1 << 22));
    entries_.reserve(expected);
    spool_.Reserve(expected);
    std::vector<MatchKey> entry_keys;
    SourcedContact c;
    while (reader_.Next(c)) {
      const auto index = static_cast<uint32_t>(entries_.size());
      if (index == SortedKeys::kEntries)
        throw StoreError(QStringLiteral("The stores hold more than %1 entries, too many to merge; "
                                        "export or send them without merging")
                             .arg(SortedKeys::kEntries)
                             .toStdString());
      MatchKeys(c.contact, entry_keys);
      for (const MatchKey& k : entry_keys) keys_.Add(k.rule, k.hash, index);
      spool_.Add(c.contact);
      const QDateTime& modified = c.contact.lastModified;
      entries_.push_back({modified.isValid() ? modified.toMSecsSinceEpoch() : INT64_MIN, index});
      const int work = reader_.LastFolder();
      const int position = c.origins.front().position;
      if (placed_.empty() || placed_.back().work != work ||
          placed_.back().position + int(index - placed_.back().entry) != position)
        placed_.push_back({index, work, position});
    }
    // The strongest rules join first: a group's rules are those of the joins that made it, each
    // the strongest that could join those entries. Keys come in order of hash, then entry: the
    // first of each hash is joined with every later one.
    constexpr size_t kRules = size_t(MatchRule::kList) + 1;
    for (size_t r = 1; r < kRules; ++r) {
      keys_.Start(MatchRule(r));
      const auto bit = static_cast<uint8_t>(1u << r);
      Keyed head{}, k;
      bool any = false;
      while (keys_.Next(k)) {
        if (!any || k.Hash() != head.Hash()) {
          head = k;
          any = true;
          continue;
        }
        const uint32_t a = Find(head.entry);
        const uint32_t b = Find(k.entry);
        if (a == b) continue;
        entries_[std::max(a, b)].link = std::min(a, b);
        for (const uint32_t joined : {head.entry, k.entry}) {
          Entry& e = entries_[joined];
          e.rules |= bit;
          if (e.joinedBy == MatchRule::kNone) e.joinedBy = MatchRule(r);
        }
      }
    }
    keys_.Release();
    // Every entry to its group's first (the least of its entries), then each group's entries
    // linked in order from there, the last entry first: an entry's link is its first until it
    // is taken, and the first's link is the group's entry taken last (the least so far).
    for (uint32_t i = 0; i < entries_.size(); ++i) entries_[i].link = Find(i);
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
    spool_.Finish();
  }

  void Emit(uint32_t first, SourcedContact& out) {
    if (entries_[first].link == kNone) {
      spool_.Take(first, out.contact, true);
      // The origin set in place where there is one (no copy made and freed), its time the
      // contact's own.
      if (out.origins.size() == 1 && out.origins.front().joinedBy.isEmpty()) {
        contact::Origin& o = out.origins.front();
        const Origin made = OriginOf(first, QDateTime());
        if (!o.store.isSharedWith(made.store)) o.store = made.store;
        if (!o.folder.isSharedWith(made.folder)) o.folder = made.folder;
        o.position = made.position;
        o.lastModified = out.contact.lastModified;
      } else {
        out.origins.assign(1, OriginOf(first));
      }
      out.mergeRule.clear();
      return;
    }
    // Newest first; among equally new ones the earlier entry first. A few by insertion, in room
    // used again: most groups are of two or three.
    std::vector<uint32_t>& order = order_;
    order.clear();
    for (uint32_t i = first; i != kNone; i = entries_[i].link) order.push_back(i);
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
    contact::Contact& older = older_;
    Combiner combined(out.contact);
    uint32_t rules = 0;
    for (size_t k = 0; k < order.size(); ++k) {
      const Entry& e = entries_[order[k]];
      out.origins.push_back(OriginOf(order[k]));
      out.origins.back().joinedBy = RuleText(e.joinedBy);
      rules |= e.rules;
      if (k == 0) {
        spool_.Take(order[k], out.contact, order[k] == first);
        uid = out.contact.uid;
        continue;
      }
      spool_.Take(order[k], older, order[k] == first);
      if (older.uid < uid && !older.uid.isEmpty()) uid = older.uid;
      combined.Add(older);
    }
    out.contact.uid = uid;
    QStringList why;
    for (auto r : {MatchRule::kSameEntry, MatchRule::kEmail, MatchRule::kNameAndPhone,
                   MatchRule::kNameAndCompany, MatchRule::kList})
      if (rules & (1u << static_cast<unsigned>(r))) why << RuleText(r);
    out.mergeRule = why.join(QStringLiteral(", "));
  }

  FolderContacts reader_;
  SortedKeys keys_;
  EntrySpool spool_;
  contact::Contact older_;       // room for the older entries of a group, used again
  std::vector<uint32_t> order_;  // a group's entries in the order they are merged
  bool grouped_ = false;
  int total_ = -1;
  std::vector<Entry> entries_;
  std::vector<Placed> placed_;
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

std::unique_ptr<contact::ContactStream> OpenContacts(std::vector<StoreFolders> sources, bool merge,
                                                     const MergeLimits& limits) {
  if (!merge) return std::make_unique<FolderContacts>(std::move(sources));
  // The stores are read in an order of their own, so that the same stores give the same
  // contacts in the same order however they were named.
  std::stable_sort(sources.begin(), sources.end(),
                   [](const StoreFolders& a, const StoreFolders& b) {
                     return QDir::cleanPath(QFileInfo(a.path).absoluteFilePath()) <
                            QDir::cleanPath(QFileInfo(b.path).absoluteFilePath());
                   });
  return std::make_unique<MergingStream>(std::move(sources), limits);
}

std::unique_ptr<contact::ContactStream> OpenContacts(const SourceOptions& options) {
  return OpenContacts(FindSources(options), options.merge);
}

}  // namespace lumivex::merge
