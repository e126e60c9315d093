#include "merge/ContactSources.h"

#include "contact/VCardWriter.h"
#include "merge/EntrySpool.h"
#include "merge/MergeRules.h"
#include "source/PffBackend.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <numeric>

namespace lumivex::merge {

namespace {

using contact::EntryProblem;
using contact::Origin;
using contact::SourcedContact;

constexpr int kMaxFolderDepth = 64;  // a damaged store could nest its folders in a loop

void CollectContactFolders(const std::shared_ptr<Folder>& folder, int depth,
                           std::vector<std::shared_ptr<Folder>>& out) {
  if (depth >= kMaxFolderDepth) return;
  for (const auto& sub : folder->SubFolders()) {
    if (sub->Hidden()) continue;
    if (sub->DefaultItemType() == kContactItem) out.push_back(sub);
    CollectContactFolders(sub, depth + 1, out);
  }
}

// The entries of the folders of every store, read one after another, in the order given.
class EntryReader {
 public:
  explicit EntryReader(std::vector<StoreFolders> sources) : sources_(std::move(sources)) {
    for (size_t s = 0; s < sources_.size(); ++s)
      for (size_t f = 0; f < sources_[s].folders.size(); ++f) {
        Work w;
        w.store = static_cast<int>(s);
        w.path = sources_[s].folders[f]->Path();
        w.items = sources_[s].folders[f]->GetItems();  // throws StoreError
        w.count = std::max(0, w.items->Count());
        total_ += w.count;
        work_.push_back(std::move(w));
      }
  }

  int Total() const { return total_; }
  const std::vector<EntryProblem>& Problems() const { return problems_; }

  // The next entry that can be read, into `out`; false at the end. Entries that cannot be read
  // are listed in Problems() and passed over.
  bool Next(SourcedContact& out) {
    while (work_index_ < work_.size()) {
      const Work& w = work_[work_index_];
      if (position_ >= w.count) {
        ++work_index_;
        position_ = 0;
        continue;
      }
      const int i = position_++;
      QString why;
      bool read = false;
      try {
        const std::unique_ptr<ContactEntry> entry = w.items->Item(i);
        read = entry && entry->ReadContact(out.contact, why);
        if (!read && why.isEmpty() && entry) why = entry->Failure();
      } catch (const std::exception& e) {
        why = QString::fromUtf8(e.what());
      }
      const QString& store = sources_[static_cast<size_t>(w.store)].path;
      if (!read) {
        problems_.push_back({w.path, i + 1,
                             why.isEmpty() ? QStringLiteral("the entry cannot be read") : why,
                             false, store});
        continue;
      }
      if (out.contact.uid.isEmpty())
        out.contact.uid =
            contact::CardUuid(QStringLiteral("%1|%2|%3").arg(store, w.path).arg(i + 1));
      out.origins.resize(1);
      out.origins[0] = Origin{store, w.path, i + 1, out.contact.lastModified};
      out.mergeRule.clear();
      return true;
    }
    return false;
  }

 private:
  struct Work {
    int store = 0;
    QString path;
    std::shared_ptr<Items> items;
    int count = 0;
  };
  std::vector<StoreFolders> sources_;  // keeps the stores open while their entries are read
  std::vector<Work> work_;
  size_t work_index_ = 0;
  int position_ = 0;
  int total_ = 0;
  std::vector<EntryProblem> problems_;
};

// Every entry as it is.
class EveryEntryStream : public contact::ContactStream {
 public:
  explicit EveryEntryStream(std::vector<StoreFolders> sources) : reader_(std::move(sources)) {}
  int Total() const override { return reader_.Total(); }
  bool Next(SourcedContact& out) override { return reader_.Next(out); }
  const std::vector<EntryProblem>& Problems() const override { return reader_.Problems(); }

 private:
  EntryReader reader_;
};

// The entries of one person as one contact. A first pass reads every entry once: its match keys
// are kept, and the entry itself goes to a spool file on disk. The groups are then found by
// joining entries that share a key; the second pass takes each group's entries back from the
// spool, merges them and gives the contact out. Memory holds the keys of every entry and the
// entries of one group, never the whole store.
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
    Origin origin;
    uint32_t parent = 0;
    MatchRule rule = MatchRule::kNone;  // the strongest rule that joined it to another entry
  };

  uint32_t Find(uint32_t i) {
    while (entries_[i].parent != i) {
      entries_[i].parent = entries_[entries_[i].parent].parent;
      i = entries_[i].parent;
    }
    return i;
  }

  void Group() {
    grouped_ = true;
    struct Keyed {
      uint64_t hash;
      uint32_t entry;
      MatchRule rule;
    };
    std::vector<Keyed> keys;
    std::vector<MatchKey> entry_keys;
    SourcedContact c;
    while (reader_.Next(c)) {
      const auto index = static_cast<uint32_t>(entries_.size());
      MatchKeys(c.contact, entry_keys);
      for (const MatchKey& k : entry_keys) keys.push_back({k.hash, index, k.rule});
      spool_.Add(c.contact);
      entries_.push_back({c.origins.front(), index, MatchRule::kNone});
    }
    std::sort(keys.begin(), keys.end(), [](const Keyed& a, const Keyed& b) {
      return a.hash != b.hash ? a.hash < b.hash : a.entry < b.entry;
    });
    for (size_t run = 0; run < keys.size();) {
      size_t end = run + 1;
      while (end < keys.size() && keys[end].hash == keys[run].hash) ++end;
      for (size_t k = run + 1; k < end; ++k) {
        if (keys[k].entry == keys[run].entry) continue;
        for (const uint32_t e : {keys[run].entry, keys[k].entry}) {
          MatchRule& rule = entries_[e].rule;
          if (rule == MatchRule::kNone || keys[k].rule < rule) rule = keys[k].rule;
        }
        const uint32_t a = Find(keys[run].entry);
        const uint32_t b = Find(keys[k].entry);
        if (a != b) entries_[std::max(a, b)].parent = std::min(a, b);
      }
      run = end;
    }
    keys = {};
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
      spool_.Take(*first, out.contact);
      out.origins.assign(1, entries_[*first].origin);
      out.mergeRule.clear();
      return;
    }
    // Newest first; among equally new ones the earlier entry first.
    std::vector<uint32_t> order(first, last);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      return entries_[a].origin.lastModified > entries_[b].origin.lastModified;
    });
    out.origins.clear();
    QString uid;
    bool sameUid = true;
    contact::Contact older;
    uint32_t rules = 0;
    for (size_t k = 0; k < order.size(); ++k) {
      const Entry& e = entries_[order[k]];
      out.origins.push_back(e.origin);
      rules |= 1u << static_cast<unsigned>(e.rule);
      if (k == 0) {
        spool_.Take(order[k], out.contact);
        uid = out.contact.uid;
        continue;
      }
      spool_.Take(order[k], older);
      if (older.uid != uid) sameUid = false;
      if (older.uid < uid && !older.uid.isEmpty()) uid = older.uid;
      Combine(out.contact, older);
    }
    (void)sameUid;  // the least uid is the shared one when all are the same
    out.contact.uid = uid;
    QStringList why;
    for (auto r : {MatchRule::kSameEntry, MatchRule::kEmail, MatchRule::kNameAndPhone,
                   MatchRule::kNameAndCompany, MatchRule::kList})
      if (rules & (1u << static_cast<unsigned>(r))) why << RuleText(r);
    out.mergeRule = why.join(QStringLiteral(", "));
  }

  EntryReader reader_;
  EntrySpool spool_;
  bool grouped_ = false;
  int total_ = -1;
  std::vector<Entry> entries_;
  std::vector<uint32_t> group_start_;
  std::vector<uint32_t> members_;
  uint32_t next_ = 0;
};

}  // namespace

std::vector<std::shared_ptr<Folder>> ContactFolders(const Store& store) {
  std::vector<std::shared_ptr<Folder>> folders;
  CollectContactFolders(store.RootFolder(), 0, folders);
  return folders;
}

bool IsAutoCollected(const Folder& folder) {
  const QString name = folder.Name();
  const QString type = folder.ContainerClass();
  for (const char16_t* known : {u"Suggested Contacts", u"Recipient Cache", u"GAL Contacts",
                                u"Quick Contacts", u"Organizational Contacts"})
    if (name.compare(QStringView(known), Qt::CaseInsensitive) == 0) return true;
  for (const char16_t* known :
       {u"RecipientCache", u"GalContacts", u"OrganizationalContacts", u".MOC."})
    if (type.contains(QStringView(known), Qt::CaseInsensitive)) return true;
  return false;
}

std::vector<StoreFolders> FindSources(const SourceOptions& options) {
  QStringList paths = options.stores;
  if (paths.isEmpty()) paths << DefaultStorePath();
  std::vector<StoreFolders> sources;
  for (const QString& path : paths) {
    StoreFolders s;
    s.path = path;
    s.store = OpenPffStore(path);
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
        throw StoreError(QStringLiteral("%1 has no folder \"%2\"; see 'lumivex-cli folders %1' "
                                        "for the folders it has")
                             .arg(path, options.folder)
                             .toStdString());
      s.folders.push_back(folder);
    } else {
      auto folder = s.store->DefaultContactsFolder();
      if (!folder)
        throw StoreError(QStringLiteral("%1 has no default contacts folder: name one with "
                                        "--folder PATH or take every one with --all-folders")
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
  if (!merge) return std::make_unique<EveryEntryStream>(std::move(sources));
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
