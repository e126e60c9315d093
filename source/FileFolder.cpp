#include "source/FileFolder.h"

#include "source/EntryReadAhead.h"
#include "source/FileContactEntry.h"

#include <QStringList>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace lumivex::backend {

namespace {

// A folder its parent lists whose node cannot be found: it stands in the tree so that the
// damage is seen (Unreadable), with nothing in it.
class LostFolder : public Folder {
 public:
  LostFolder(const QString& parentPath, int index, QString why)
      : name_(QStringLiteral("(unreadable folder %1)").arg(index + 1)),
        path_(parentPath.isEmpty() ? name_ : parentPath + u'/' + name_),
        why_(std::move(why)) {}
  QString Name() const override { return name_; }
  QString Path() const override { return path_; }
  QString ContainerClass() const override { return {}; }
  int DefaultItemType() const override { return kMailItem; }
  std::shared_ptr<Items> GetItems() const override { throw StoreError(why_.toStdString()); }
  std::vector<std::shared_ptr<Folder>> SubFolders() const override { return {}; }
  QString Unreadable() const override { return why_; }

 private:
  QString name_;
  QString path_;
  QString why_;
};

// The store's own folders that the mail client does not show, by the names and classes Outlook
// and Exchange give them in every language's store (they are created with these English names).
bool IsSystemFolder(const QString& name, const QString& containerClass) {
  static const QStringList kNames = {
      QStringLiteral("Search Root"),
      QStringLiteral("IPM_VIEWS"),
      QStringLiteral("IPM_COMMON_VIEWS"),
      QStringLiteral("Freebusy Data"),
      QStringLiteral("ItemProcSearch"),
      QStringLiteral("Tracked Mail Processing"),
      QStringLiteral("Finder"),
      QStringLiteral("Common Views"),
      QStringLiteral("Views"),
      QStringLiteral("Shortcuts"),
      QStringLiteral("Schedule"),
      QStringLiteral("NON_IPM_SUBTREE"),
      QStringLiteral("Sync Issues"),
      QStringLiteral("Conflicts"),
      QStringLiteral("Local Failures"),
      QStringLiteral("Server Failures"),
      QStringLiteral("Conversation Action Settings"),
      QStringLiteral("Quick Step Settings"),
  };
  if (containerClass.startsWith(u"IPF.Contact", Qt::CaseInsensitive)) return false;  // the user's
  if (name.startsWith(u"SPAM Search Folder")) return true;
  for (const QString& known : kNames)
    if (name.compare(known, Qt::CaseInsensitive) == 0) return true;
  return containerClass.startsWith(u"Outlook.", Qt::CaseInsensitive) ||
         containerClass.startsWith(u"IPF.Configuration", Qt::CaseInsensitive);
}

// LUMIVEX_TEST_STOP_AT_ENTRY=N: the process stops itself (SIGSTOP) as entry N (from 0) of a
// folder is about to be read, so that a test can change the store at a known point of a run and
// then let it go on (SIGCONT).
void StopHereForTests(int index) {
  static const int at = qEnvironmentVariableIsSet("LUMIVEX_TEST_STOP_AT_ENTRY")
                            ? qEnvironmentVariableIntValue("LUMIVEX_TEST_STOP_AT_ENTRY")
                            : -1;
  if (index == at) std::raise(SIGSTOP);
}

// The entries of a folder, each a FileContactEntry.
class FileItems : public Items {
 public:
  FileItems(std::shared_ptr<StoreContext> state, std::shared_ptr<storefile::StoreItem> folder,
            QString path)
      : state_(std::move(state)), folder_(std::move(folder)), path_(std::move(path)) {}

  int Count() const override {
    const int count = folder_->MessageCount();
    if (count < 0)
      throw StoreError(Utf8(QStringLiteral("Cannot count the entries of \"%1\" in %2: the folder "
                                           "is damaged")
                                .arg(path_, state_->file->Path())));
    return count;
  }

  // Entries asked for one after another (every export) are read ahead; any other order stops
  // the reading ahead until the entries come in order again. Every few thousand entries the
  // reading ahead is checked to pay: once the two threads were found not to run at once, the
  // rest of the folder is read in one thread.
  std::unique_ptr<ContactEntry> Item(int index) const override {
    if (ahead_) {
      if (auto entry = ahead_->Take(index)) {
        last_ = index;
        if (++sinceCheck_ == kCheckEvery) {
          sinceCheck_ = 0;
          if (!ranAtOnce_->Since()) {
            ahead_.reset();
            alone_ = true;
          }
        }
        return entry;
      }
      ahead_.reset();
    }
    auto entry = Build(index);
    if (index == last_ + 1 && !alone_ && state_->file->Concurrent() && SeveralProcessors()) {
      const int count = folder_->MessageCount();
      if (index + 1 < count) {
        ranAtOnce_.emplace();
        sinceCheck_ = 0;
        ahead_ = std::make_unique<EntryReadAhead>(
            [this](int i, std::shared_ptr<Graveyard> graveyard) {
              return Build(i, std::move(graveyard));
            },
            index + 1, count);
      }
    }
    last_ = index;
    return entry;
  }

 private:
  // `graveyard`: built on the read-ahead thread, whose graveyard takes what the entry holds.
  std::unique_ptr<ContactEntry> Build(int index,
                                      std::shared_ptr<Graveyard> graveyard = nullptr) const {
    StopHereForTests(index);
    // An entry that cannot be opened is still an entry: every read of it fails. So is every
    // entry read after the file changed under the reading: nothing of it can be trusted. Our
    // reader looks at the file every 64 KiB it reads and finds a read past a new end at once;
    // libpff looks at nothing, so its file is looked at for every entry.
    storefile::StoreFile& file = *state_->file;
    QString why;
    std::unique_ptr<storefile::StoreItem> message;
    if (!file.Changed()) message = folder_->TryMessage(index, why);
    auto entry = std::make_unique<FileContactEntry>(state_, std::move(message), why);
    if (file.Changed(!entry->Opened() || !file.Concurrent())) {
      entry->MakeUnreadable(QString::fromLatin1(storefile::kFileChangedText));
    } else if (const auto other = SharedData().find(index); other != SharedData().end()) {
      entry->MakeUnreadable(QStringLiteral("its data is the same block as entry %1's, so one of "
                                           "them holds the other's values; the store is damaged")
                                .arg(other->second + 1));
    }
    entry->HintTo(hints_);
    if (graveyard) {
      entry->BuryIn(std::move(graveyard));
      if (hints_->whole.load(std::memory_order_relaxed)) entry->PrepareUid();
    }
    return entry;
  }

  // The entries whose data is the same block as another entry's, by index: that entry's index.
  // A node pointed at another's data reads as a whole entry of wrong values. Found once, from
  // the node of each entry, before the first is built.
  const std::unordered_map<int, int>& SharedData() const {
    std::call_once(sharedFound_, [this] {
      const std::vector<uint64_t> blocks = folder_->MessageDataBlocks();
      std::vector<uint64_t> sorted(blocks);
      std::sort(sorted.begin(), sorted.end());
      std::unordered_map<uint64_t, int> twice;  // a block held twice: the first entry holding it
      for (size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i] != 0 && sorted[i] == sorted[i - 1]) twice.emplace(sorted[i], -1);
      if (twice.empty()) return;
      for (size_t i = 0; i < blocks.size(); ++i) {
        const auto found = twice.find(blocks[i]);
        if (found == twice.end()) continue;
        if (found->second < 0) {
          found->second = static_cast<int>(i);
        } else {
          shared_.emplace(static_cast<int>(i), found->second);
          shared_.emplace(found->second, static_cast<int>(i));
        }
      }
    });
    return shared_;
  }

  std::shared_ptr<StoreContext> state_;
  std::shared_ptr<storefile::StoreItem> folder_;
  QString path_;
  mutable std::once_flag sharedFound_;
  mutable std::unordered_map<int, int> shared_;
  std::shared_ptr<ReadHints> hints_ = std::make_shared<ReadHints>();
  static constexpr int kCheckEvery = 2048;
  mutable int last_ = -1;  // the entry asked for last
  mutable int sinceCheck_ = 0;
  mutable std::optional<RanAtOnce> ranAtOnce_;     // since the last check
  mutable bool alone_ = false;                     // the rest is read in one thread
  mutable std::unique_ptr<EntryReadAhead> ahead_;  // last: stopped before the rest goes
};

}  // namespace

FileFolder::FileFolder(std::shared_ptr<StoreContext> state,
                       std::shared_ptr<storefile::StoreItem> item, QString parentPath, bool root,
                       std::vector<uint32_t> ancestors)
    : state_(std::move(state)), item_(std::move(item)), lineage_(std::move(ancestors)) {
  lineage_.push_back(item_->Id());
  if (!root && item_->PropertyCount() < 0) {
    // Listed by its parent, but its node holds no readable folder: damage, told by Unreadable(),
    // never taken for an empty folder.
    unreadable_ =
        QStringLiteral("the folder's node cannot be read (%1)")
            .arg(item_->Failure().isEmpty() ? QStringLiteral("no properties") : item_->Failure());
    name_ = QStringLiteral("(unreadable folder)");
    path_ = parentPath.isEmpty() ? name_ : parentPath + u'/' + name_;
  } else if (!root) {
    name_ = item_->Text(kTagDisplayName, state_->codePage);
    path_ = parentPath.isEmpty() ? name_ : parentPath + u'/' + name_;
    containerClass_ = item_->Text(kTagContainerClass, state_->codePage);
    const int hidden = item_->Find(kTagAttributeHidden);
    QByteArray flag;
    hidden_ = hidden >= 0 && item_->Data(hidden, flag) && !flag.isEmpty() && flag[0] != 0;
    constexpr int32_t kSearchFolder = 2;
    const int type = item_->Find(kTagFolderType);
    int32_t folderType = 0;
    system_ = hidden_ ||
              (type >= 0 && item_->Int32(type, folderType) && folderType == kSearchFolder) ||
              IsSystemFolder(name_, containerClass_);
  }
}

FolderRole FileFolder::Role() const {
  if (!unreadable_.isEmpty()) return FolderRole::kOwn;
  if (const auto it = state_->roles.find(item_->Id()); it != state_->roles.end()) return it->second;
  const FolderRole role = Folder::Role();
  // The deleted items by name only in a store that does not name its own.
  if (role == FolderRole::kDeletedItems &&
      std::any_of(state_->roles.begin(), state_->roles.end(),
                  [](const auto& r) { return r.second == FolderRole::kDeletedItems; }))
    return FolderRole::kOwn;
  return role;
}

int FileFolder::DefaultItemType() const {
  const QString& c = containerClass_;
  auto is = [&c](const char* kind) {
    const QString k = QString::fromLatin1(kind);
    return c.compare(k, Qt::CaseInsensitive) == 0 || c.startsWith(k + u'.', Qt::CaseInsensitive);
  };
  if (is("IPF.Contact")) return kContactItem;
  if (is("IPF.Appointment")) return kAppointmentItem;
  if (is("IPF.Task")) return kTaskItem;
  if (is("IPF.Journal")) return kJournalItem;
  if (is("IPF.StickyNote")) return kNoteItem;
  return kMailItem;
}

std::shared_ptr<Items> FileFolder::GetItems() const {
  if (!unreadable_.isEmpty())
    throw StoreError(Utf8(QStringLiteral("Cannot read the entries of \"%1\" in %2: %3")
                              .arg(path_, state_->file->Path(), unreadable_)));
  if (item_->MessageCount() < 0)
    throw StoreError(Utf8(QStringLiteral("Cannot read the entries of \"%1\" in %2: the folder "
                                         "is damaged")
                              .arg(path_, state_->file->Path())));
  return std::make_shared<FileItems>(state_, item_, path_);
}

QString FileFolder::MissingEntries() const {
  // Search folders count what they find elsewhere in the store: only a folder's own entries
  // are compared with its count.
  constexpr uint32_t kNidTypeNormalFolder = 0x02;
  if ((item_->Id() & 0x1F) != kNidTypeNormalFolder) return {};
  const int index = item_->Find(kTagContentCount);
  int32_t recorded = 0;
  if (index < 0 || !item_->Int32(index, recorded)) return {};
  const int listed = item_->MessageCount();
  if (listed < 0 || recorded <= listed) return {};
  return QStringLiteral(
             "the folder records %1 entries, but its list of entries holds %2; the "
             "other %3 cannot be found")
      .arg(recorded)
      .arg(listed)
      .arg(recorded - listed);
}

std::vector<std::shared_ptr<Folder>> FileFolder::SubFolders() const {
  std::vector<std::shared_ptr<Folder>> folders;
  SubFolderObjects(&folders);
  return folders;
}

std::vector<std::shared_ptr<FileFolder>> FileFolder::SubFolderObjects(
    std::vector<std::shared_ptr<Folder>>* all) const {
  if (!unreadable_.isEmpty()) return {};
  const int count = item_->SubFolderCount();
  if (count < 0)
    throw StoreError(
        Utf8(QStringLiteral("Cannot read the folders under \"%1\" in %2: the "
                            "folder tree is damaged")
                 .arg(path_.isEmpty() ? QStringLiteral("the root") : path_, state_->file->Path())));
  std::vector<std::shared_ptr<FileFolder>> folders;
  folders.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    std::shared_ptr<storefile::StoreItem> sub;
    try {
      sub = item_->SubFolder(i);
    } catch (const StoreError& error) {
      if (!all) throw;
      all->push_back(std::make_shared<LostFolder>(path_, i, QString::fromUtf8(error.what())));
      continue;
    }
    // A damaged folder table can list a folder above this one, or one folder twice: the tree
    // would have no end (or grow with every level), so the branch is refused as damaged.
    const uint32_t id = sub->Id();
    const bool loops = std::find(lineage_.begin(), lineage_.end(), id) != lineage_.end();
    const bool twice = std::any_of(folders.begin(), folders.end(),
                                   [id](const auto& folder) { return folder->Id() == id; });
    if (loops || twice)
      throw StoreError(
          Utf8(QStringLiteral("Cannot read the folders under \"%1\" in %2: the "
                              "folder tree is damaged (%3)")
                   .arg(path_.isEmpty() ? QStringLiteral("the root") : path_, state_->file->Path(),
                        loops ? QStringLiteral("it lists a folder above itself")
                              : QStringLiteral("it lists a folder twice"))));
    auto folder = std::make_shared<FileFolder>(state_, std::move(sub), path_, false, lineage_);
    if (all) all->push_back(folder);
    folders.push_back(std::move(folder));
  }
  return folders;
}

}  // namespace lumivex::backend
