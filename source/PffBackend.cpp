#include "source/PffBackend.h"

#include "common/CodePage.h"
#include "common/Module1.h"
#include "source/ContactProperties.h"
#include "source/PffFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <array>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>

namespace lumivex {

namespace {

constexpr uint32_t kTagDisplayName = 0x3001;
constexpr uint32_t kTagContainerClass = 0x3613;
constexpr uint32_t kTagIpmContactEntryId = 0x36D1;
constexpr uint32_t kTagIpmSubtreeEntryId = 0x35E0;
constexpr uint32_t kTagMessageCodepage = 0x3FFD;
constexpr uint32_t kTagAttributeHidden = 0x10F4;
constexpr uint32_t kTagInternetCodepage = 0x3FDE;

std::string Utf8(const QString& text) {
  return text.toStdString();
}

// What every folder and entry of one open file shares.
struct StoreState {
  std::shared_ptr<pff::File> file;
  int codePage = 1252;  // for 8-bit strings of items that name no code page of their own
  std::unordered_map<uint32_t, int> namedSlots;  // local id of a named property -> slot
  QString displayName;
  uint32_t subtreeNode = 0;  // the top of the personal folders, 0 when the store names none

  int NamedSlot(uint32_t localId, const pff::Item& item, int index) {
    auto found = namedSlots.find(localId);
    if (found != namedSlots.end()) return found->second;
    const pff::NamedKey* key = file->Named(localId, item, index);
    const int slot = key != nullptr ? SlotForNamed(*key) : -1;
    namedSlots.emplace(localId, slot);
    return slot;
  }
};

// The Windows code page that holds the 8-bit strings of an item written under `codePage`. The
// mail client keeps 8-bit properties in the Windows code page of the text's language even when
// the item names an Internet code page (ISO-2022-JP for Japanese mail, KOI8-R, ISO-8859-x...).
// 0 for code pages that say nothing about it (UTF-8, UTF-16, US-ASCII).
int WindowsCodePage(int codePage) {
  switch (codePage) {
    case 50220:
    case 50221:
    case 50222:
    case 51932:
    case 20932:
    case 10001:
      return 932;
    case 52936:
    case 54936:
    case 51936:
    case 20936:
    case 10008:
      return 936;
    case 50225:
    case 51949:
    case 20949:
    case 10003:
      return 949;
    case 51950:
    case 10002:
      return 950;
    case 28591:
    case 28605:
      return 1252;
    case 28592:
      return 1250;
    case 28595:
    case 20866:
    case 21866:
      return 1251;
    case 28597:
      return 1253;
    case 28599:
      return 1254;
    case 28598:
    case 38598:
      return 1255;
    case 28596:
      return 1256;
    case 28594:
    case 28603:
      return 1257;
    case 65000:
    case 65001:
    case 1200:
    case 1201:
    case 20127:
      return 0;
    default:
      return codePage > 0 ? codePage : 0;
  }
}

// The code page an item names for its 8-bit strings, 0 when it names none.
int ItemCodePage(const pff::Item& item, int messageIndex, int internetIndex) {
  int32_t codePage = 0;
  if (messageIndex >= 0 && item.Int32(messageIndex, codePage) && WindowsCodePage(codePage) != 0)
    return WindowsCodePage(codePage);
  if (internetIndex >= 0 && item.Int32(internetIndex, codePage) && WindowsCodePage(codePage) != 0)
    return WindowsCodePage(codePage);
  return 0;
}

// A FILETIME as the day the user entered, as the user's short date with a four-digit year. A date is stored as
// the UTC instant of local midnight (or midnight UTC for the local-time copies), so the nearest
// UTC midnight is the entered day for any zone within 12 hours of UTC. The mail client's "no
// date" (the year 4501) and out-of-range values read as empty text.
QString DateText(uint64_t fileTime) {
  constexpr int64_t kUnixEpochMs = 11644473600000LL;
  constexpr int64_t kHalfDayMs = 12LL * 3600 * 1000;
  const int64_t ms = static_cast<int64_t>(fileTime / 10000) - kUnixEpochMs;
  const QDate day = QDateTime::fromMSecsSinceEpoch(ms + kHalfDayMs, Qt::UTC).date();
  if (!day.isValid() || day.year() < 1601 || day.year() >= 4500) return {};
  return Module1::ShortDate(day);
}

// For an Exchange address, the SMTP form held in the original display text, if any:
// "Name (name@example.com)" or a bare "name@example.com".
QString SmtpFromDisplay(const QString& display) {
  const QString text = display.trimmed();
  const qsizetype open = text.lastIndexOf(u'(');
  if (open >= 0 && text.endsWith(u')')) {
    const QString inner = text.mid(open + 1, text.size() - open - 2).trimmed();
    if (inner.contains(u'@') && !inner.contains(u' ')) return inner;
  }
  if (text.contains(u'@') && !text.contains(u' ')) return text;
  return {};
}

class PffContactEntry : public ContactEntry {
 public:
  PffContactEntry(std::shared_ptr<StoreState> state, std::unique_ptr<pff::Item> item)
      : state_(std::move(state)), item_(std::move(item)) {
    index_.fill(-1);
    if (!item_) return;
    const int count = item_->PropertyCount();
    if (count < 0) {
      item_.reset();  // the item's properties cannot be read: every Read fails
      return;
    }
    for (int i = 0; i < count; ++i) {
      uint32_t id = 0, type = 0;
      if (!item_->PropertyTag(i, id, type)) continue;
      const int slot = id >= 0x8000 ? state_->NamedSlot(id, *item_, i) : SlotForTag(id);
      if (slot >= 0 && index_[static_cast<size_t>(slot)] < 0) {
        index_[static_cast<size_t>(slot)] = i;
        types_[static_cast<size_t>(slot)] = type;
      }
    }
  }

  bool Read(std::string_view name, QString& value) const override {
    if (!item_) return false;
    const int slot = SlotForName(name);
    if (slot < 0) return false;
    switch (slot) {
      case kBirthday:
        return ReadDate(kBirthdayLocal, kBirthday, value);
      case kAnniversary:
        return ReadDate(kAnniversaryLocal, kAnniversary, value);
      case kWebPage:
        return ReadText(Has(kWebPage) ? kWebPage : kBusinessHomePage, value);
      case kEmail1Address:
      case kEmail2Address:
      case kEmail3Address:
        return ReadEmail(slot, value);
      default:
        return ReadText(slot, value);
    }
  }

 private:
  bool Has(int slot) const { return index_[static_cast<size_t>(slot)] >= 0; }

  int CodePage() const {
    if (codePage_ == 0) {
      codePage_ = ItemCodePage(*item_, index_[kMessageCodepage], index_[kInternetCodepage]);
      if (codePage_ == 0) codePage_ = state_->codePage;
    }
    return codePage_;
  }

  // Strings as stored, multi-valued strings joined with ", ". Absent: empty text.
  bool ReadText(int slot, QString& value) const {
    const int index = index_[static_cast<size_t>(slot)];
    if (index < 0) {
      value.clear();
      return true;
    }
    const uint32_t type = types_[static_cast<size_t>(slot)];
    switch (type) {
      case pff::kTypeUnicode:
      case pff::kTypeString8:
        if (!item_->Data(index, buffer_)) return false;
        value = type == pff::kTypeUnicode ? pff::DecodeUtf16(buffer_)
                                          : pff::DecodeString8(buffer_, CodePage());
        return true;
      case pff::kTypeMultiUnicode:
      case pff::kTypeMultiString8: {
        std::vector<QByteArray> parts;
        if (!item_->MultiData(index, parts)) return false;
        QString joined;
        for (const QByteArray& part : parts) {
          if (!joined.isEmpty()) joined += QStringLiteral(", ");
          joined += type == pff::kTypeMultiUnicode ? pff::DecodeUtf16(part)
                                                   : pff::DecodeString8(part, CodePage());
        }
        value = joined;
        return true;
      }
      case pff::kTypeTime: {
        uint64_t time = 0;
        if (!item_->FileTime(index, time)) return false;
        value = DateText(time);
        return true;
      }
      default:
        return false;  // a value type no contact field has
    }
  }

  bool ReadDate(int localSlot, int utcSlot, QString& value) const {
    for (int slot : {localSlot, utcSlot}) {
      const int index = index_[static_cast<size_t>(slot)];
      if (index < 0 || types_[static_cast<size_t>(slot)] != pff::kTypeTime) continue;
      uint64_t time = 0;
      if (!item_->FileTime(index, time)) return false;
      value = DateText(time);
      return true;
    }
    if (Has(utcSlot)) return false;  // present with a type a date never has
    value.clear();
    return true;
  }

  bool ReadEmail(int slot, QString& value) const {
    const int n = slot - kEmail1Address;
    QString address;
    if (!ReadText(slot, address)) return false;
    QString type;
    if (ReadText(kEmail1AddressType + n, type) && type.compare(u"EX", Qt::CaseInsensitive) == 0) {
      QString display;
      if (ReadText(kEmail1OriginalDisplayName + n, display)) {
        const QString smtp = SmtpFromDisplay(display);
        if (!smtp.isEmpty()) address = smtp;
      }
    }
    value = address;
    return true;
  }

  std::shared_ptr<StoreState> state_;
  std::unique_ptr<pff::Item> item_;
  std::array<int, kSlotCount> index_{};
  std::array<uint32_t, kSlotCount> types_{};
  mutable int codePage_ = 0;
  mutable QByteArray buffer_;  // reused by every string read of the entry
};

class PffItems : public Items {
 public:
  PffItems(std::shared_ptr<StoreState> state, std::shared_ptr<pff::Item> folder, QString path)
      : state_(std::move(state)), folder_(std::move(folder)), path_(std::move(path)) {}

  int Count() const override {
    const int count = folder_->MessageCount();
    if (count < 0)
      throw StoreError(Utf8(QStringLiteral("Cannot count the entries of \"%1\" in %2: the folder "
                                           "is damaged")
                                .arg(path_, state_->file->Path())));
    return count;
  }

  std::unique_ptr<ContactEntry> Item(int index) const override {
    std::unique_ptr<pff::Item> message;
    try {
      message = folder_->Message(index);
    } catch (const StoreError&) {
      // An entry that cannot be opened is still an entry: every read of it fails.
    }
    return std::make_unique<PffContactEntry>(state_, std::move(message));
  }

 private:
  std::shared_ptr<StoreState> state_;
  std::shared_ptr<pff::Item> folder_;
  QString path_;
};

class PffFolder : public Folder {
 public:
  PffFolder(std::shared_ptr<StoreState> state, std::shared_ptr<pff::Item> item, QString parentPath,
            bool root)
      : state_(std::move(state)), item_(std::move(item)) {
    if (!root) {
      name_ = item_->Text(kTagDisplayName, state_->codePage);
      path_ = parentPath.isEmpty() ? name_ : parentPath + u'/' + name_;
      containerClass_ = item_->Text(kTagContainerClass, state_->codePage);
      const int hidden = item_->Find(kTagAttributeHidden);
      QByteArray flag;
      hidden_ = hidden >= 0 && item_->Data(hidden, flag) && !flag.isEmpty() && flag[0] != 0;
    }
  }

  QString Name() const override { return name_; }
  QString Path() const override { return path_; }
  QString ContainerClass() const override { return containerClass_; }

  int DefaultItemType() const override {
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

  std::shared_ptr<Items> GetItems() const override {
    if (item_->MessageCount() < 0)
      throw StoreError(Utf8(QStringLiteral("Cannot read the entries of \"%1\" in %2: the folder "
                                           "is damaged")
                                .arg(path_, state_->file->Path())));
    return std::make_shared<PffItems>(state_, item_, path_);
  }

  std::vector<std::shared_ptr<Folder>> SubFolders() const override {
    std::vector<std::shared_ptr<Folder>> folders;
    for (auto& sub : SubFolderObjects()) folders.push_back(sub);
    return folders;
  }

  std::vector<std::shared_ptr<PffFolder>> SubFolderObjects() const {
    const int count = item_->SubFolderCount();
    if (count < 0)
      throw StoreError(Utf8(
          QStringLiteral("Cannot read the folders under \"%1\" in %2: the "
                         "folder tree is damaged")
              .arg(path_.isEmpty() ? QStringLiteral("the root") : path_, state_->file->Path())));
    std::vector<std::shared_ptr<PffFolder>> folders;
    folders.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      std::shared_ptr<pff::Item> sub = item_->SubFolder(i);
      folders.push_back(std::make_shared<PffFolder>(state_, std::move(sub), path_, false));
    }
    return folders;
  }

  uint32_t Id() const { return item_->Id(); }
  bool Hidden() const { return hidden_; }
  const pff::Item& RawItem() const { return *item_; }

 private:
  std::shared_ptr<StoreState> state_;
  std::shared_ptr<pff::Item> item_;
  QString name_;
  QString path_;
  QString containerClass_;
  bool hidden_ = false;
};

// The node id at the end of a 24-byte entry id, 0 when `item` has none.
uint32_t EntryIdNode(const pff::Item& item, uint32_t tag) {
  const int index = item.Find(tag);
  QByteArray id;
  if (index < 0 || !item.Data(index, id) || id.size() < 24) return 0;
  const auto* b = reinterpret_cast<const uchar*>(id.constData() + id.size() - 4);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// The code page named by the first entry of the store that names one: ANSI stores keep folder
// names in the code page of the system that wrote them, which their entries name as well.
int FirstEntryCodePage(pff::File& file) {
  std::deque<std::unique_ptr<pff::Item>> queue;
  queue.push_back(file.RootFolder());
  for (int visited = 0; !queue.empty() && visited < 500; ++visited) {
    std::unique_ptr<pff::Item> folder = std::move(queue.front());
    queue.pop_front();
    const int messages = folder->MessageCount();
    for (int i = 0; i < messages && i < 3; ++i) {
      try {
        auto message = folder->Message(i);
        const int codePage = ItemCodePage(*message, message->Find(kTagMessageCodepage),
                                          message->Find(kTagInternetCodepage));
        if (codePage != 0) return codePage;
      } catch (const StoreError&) {
        // An entry that cannot be read names nothing; try the next.
      }
    }
    for (int i = 0; i < folder->SubFolderCount(); ++i) {
      try {
        queue.push_back(folder->SubFolder(i));
      } catch (const StoreError&) {
      }
    }
  }
  return 0;
}

// Stores already open in this process, by path, size and modification time: the scan, the
// conversion run after it and a picked folder share one open file instead of opening it again
// (opening reads the file's whole node index, which takes long for large stores).
std::shared_ptr<StoreState> OpenState(const QString& path) {
  static std::map<QString, std::weak_ptr<StoreState>> open;
  const QFileInfo info(path);
  QString key;
  if (info.isFile()) {
    key = QStringLiteral("%1|%2|%3")
              .arg(info.canonicalFilePath(), QString::number(info.size()),
                   QString::number(info.lastModified().toMSecsSinceEpoch()));
    if (auto state = open[key].lock()) return state;
  }
  auto state = std::make_shared<StoreState>();
  state->file = pff::File::Open(path);
  int codePage = 0;
  if (auto store = state->file->MessageStore()) {
    codePage =
        ItemCodePage(*store, store->Find(kTagMessageCodepage), store->Find(kTagInternetCodepage));
    if (codePage == 0 && !state->file->IsUnicode()) codePage = FirstEntryCodePage(*state->file);
    state->codePage = codePage != 0 ? codePage : AnsiCodePage();
    state->displayName = store->Text(kTagDisplayName, state->codePage);
    state->subtreeNode = EntryIdNode(*store, kTagIpmSubtreeEntryId);
  } else {
    state->codePage = AnsiCodePage();
  }
  if (state->displayName.isEmpty()) state->displayName = QStringLiteral("Personal Folders");
  for (auto it = open.begin(); it != open.end();) it = it->second.expired() ? open.erase(it) : ++it;
  if (!key.isEmpty()) open[key] = state;
  return state;
}

class PffStore : public Store {
 public:
  explicit PffStore(const QString& path) : path_(path), state_(OpenState(path)) {
    displayName_ = state_->displayName;
    subtreeNode_ = state_->subtreeNode;
    root_ = std::make_shared<PffFolder>(
        state_, std::shared_ptr<pff::Item>(state_->file->RootFolder()), QString(), true);
    root_->SubFolderObjects();  // a file whose folder tree cannot be read fails here, not later
  }

  QString FilePath() const override { return path_; }
  QString DisplayName() const override { return displayName_; }
  std::shared_ptr<Folder> RootFolder() const override { return root_; }

  // The folder named by the contacts entry id of the root, the top of the personal folders or
  // the Inbox; else the first visible contacts folder under the top of the personal folders,
  // nearest the top first. (Exchange offline stores name it by a long-term id that does not
  // lead to a node of the file; the search finds it there.)
  std::shared_ptr<Folder> DefaultContactsFolder() const override {
    std::vector<std::shared_ptr<PffFolder>> all;  // breadth first, in store order
    std::vector<int> depth;
    std::deque<std::pair<std::shared_ptr<PffFolder>, int>> queue{{root_, 0}};
    while (!queue.empty()) {
      auto [folder, level] = queue.front();
      queue.pop_front();
      if (folder != root_) {
        all.push_back(folder);
        depth.push_back(level);
      }
      try {
        for (auto& sub : folder->SubFolderObjects()) queue.emplace_back(sub, level + 1);
      } catch (const StoreError&) {
        // A branch whose sub-folders cannot be read hides only itself: the contacts folder
        // elsewhere is still found.
      }
    }
    std::shared_ptr<PffFolder> top;
    for (size_t i = 0; i < all.size() && !top; ++i)
      if (depth[i] == 1 && subtreeNode_ != 0 && all[i]->Id() == subtreeNode_) top = all[i];
    for (size_t i = 0; i < all.size() && !top; ++i)
      if (all[i]->Path() == u"Root - Mailbox/IPM_SUBTREE") top = all[i];
    for (size_t i = 0; i < all.size() && !top; ++i)
      if (depth[i] == 1 && all[i]->Name().startsWith(u"Top of")) top = all[i];

    std::vector<const PffFolder*> holders{root_.get()};
    if (top) holders.push_back(top.get());
    for (auto& folder : all)
      if (folder->Name().compare(u"Inbox", Qt::CaseInsensitive) == 0)
        holders.push_back(folder.get());
    for (const PffFolder* holder : holders) {
      const uint32_t node = EntryIdNode(holder->RawItem(), kTagIpmContactEntryId);
      if (node == 0) continue;
      for (auto& folder : all)
        if (folder->Id() == node && folder->DefaultItemType() == kContactItem) return folder;
    }
    const QString topPath = top ? top->Path() + u'/' : QString();
    for (auto& folder : all)
      if (folder->DefaultItemType() == kContactItem && !folder->Hidden() &&
          folder->Path().startsWith(topPath))
        return folder;
    return nullptr;
  }

 private:
  QString path_;
  std::shared_ptr<StoreState> state_;
  std::shared_ptr<PffFolder> root_;
  QString displayName_;
  uint32_t subtreeNode_ = 0;
};

class PffNamespace : public MapiNamespace {
 public:
  explicit PffNamespace(std::shared_ptr<FolderPicker> picker) : picker_(std::move(picker)) {}

  void AddStore(const QString& path) override { stores_.push_back(OpenPffStore(path)); }

  std::shared_ptr<Folder> PickFolder() override {
    if (!picker_) throw StoreError("No folder picker has been set up");
    return picker_->Pick(stores_);
  }

  std::vector<std::shared_ptr<Store>> Stores() const override { return stores_; }

 private:
  std::shared_ptr<FolderPicker> picker_;
  std::vector<std::shared_ptr<Store>> stores_;
};

class PffMailClientApp : public MailClientApp {
 public:
  explicit PffMailClientApp(std::shared_ptr<FolderPicker> picker) : picker_(std::move(picker)) {}

  std::unique_ptr<MapiNamespace> GetNamespace(const QString& type) override {
    if (type.compare(u"MAPI", Qt::CaseInsensitive) != 0)
      throw StoreError(
          Utf8(QStringLiteral("Unknown mail namespace \"%1\": only \"MAPI\" is known").arg(type)));
    return std::make_unique<PffNamespace>(picker_);
  }

 private:
  std::shared_ptr<FolderPicker> picker_;
};

class PffRdoSession : public RdoSession {
 public:
  explicit PffRdoSession(QString defaultStore) : defaultStore_(std::move(defaultStore)) {}

  // Logging on never fails for want of a default store: a session is also what the scan and the
  // run use to attach another store file, which must work on a machine where no default store
  // exists. When the default store is missing or unreadable, the reason is kept and
  // GetDefaultFolder reports it.
  void Logon() override {
    logonError_.clear();
    try {
      if (!defaultStore_.isEmpty()) {
        store_ = OpenPffStore(defaultStore_);
        return;
      }
      const QString path = DefaultStorePath();
      try {
        store_ = OpenPffStore(path);
      } catch (const StoreError& error) {
        throw StoreError(std::string(error.what()) +
                         " (the default store; set LUMIVEX_DEFAULT_STORE to another file or "
                         "choose a file)");
      }
    } catch (const StoreError& error) {
      store_.reset();
      logonError_ = error.what();
    }
  }

  std::shared_ptr<Folder> GetDefaultFolder(int kind) override {
    if (!store_)
      throw StoreError(logonError_.empty() ? "The mail session is not logged on" : logonError_);
    if (kind != kFolderContacts)
      throw StoreError(Utf8(QStringLiteral("Default folder %1 is not available: only the contacts "
                                           "folder (10) is read")
                                .arg(kind)));
    auto folder = store_->DefaultContactsFolder();
    if (!folder)
      throw StoreError(Utf8(QStringLiteral("%1 has no contacts folder; choose another file or "
                                           "one of its folders")
                                .arg(store_->FilePath())));
    return folder;
  }

  void Logoff() override { store_.reset(); }

 private:
  QString defaultStore_;
  std::shared_ptr<Store> store_;
  std::string logonError_;
};

class PffMailProvider : public MailProvider {
 public:
  PffMailProvider(std::shared_ptr<FolderPicker> picker, QString defaultStore)
      : picker_(std::move(picker)), defaultStore_(std::move(defaultStore)) {}

  std::unique_ptr<MailClientApp> CreateMailClientApp() override {
    return std::make_unique<PffMailClientApp>(picker_);
  }
  std::unique_ptr<RdoSession> CreateRdoSession() override {
    return std::make_unique<PffRdoSession>(defaultStore_);
  }

 private:
  std::shared_ptr<FolderPicker> picker_;
  QString defaultStore_;
};

}  // namespace

std::shared_ptr<MailProvider> MakePffMailProvider(std::shared_ptr<FolderPicker> picker) {
  return MakePffMailProvider(std::move(picker), QString());
}

std::shared_ptr<MailProvider> MakePffMailProvider(std::shared_ptr<FolderPicker> picker,
                                                  QString defaultStore) {
  return std::make_shared<PffMailProvider>(std::move(picker), std::move(defaultStore));
}

std::shared_ptr<Store> OpenPffStore(const QString& path) {
  return std::make_shared<PffStore>(path);
}

QStringList DefaultStoreFolders() {
  const QStringList kinds = {QStringLiteral("Documents/Outlook Files"),
                             QStringLiteral("AppData/Local/Microsoft/Outlook")};
  const QString home = QDir::homePath();
  QStringList folders;
  for (const QString& kind : kinds) folders << home + u'/' + kind;
  const QDir users(home + QStringLiteral("/.wine/drive_c/users"));
  for (const QString& user : users.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
    for (const QString& kind : kinds) folders << users.filePath(user) + u'/' + kind;
  return folders;
}

QString DefaultStorePath() {
  const QString named = qEnvironmentVariable("LUMIVEX_DEFAULT_STORE");
  if (!named.isEmpty()) return named;
  const QStringList folders = DefaultStoreFolders();
  for (const QString& folder : folders) {
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*.pst"), QStringLiteral("*.ost")},
                                   QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    if (!files.isEmpty()) return files.first().filePath();
  }
  throw StoreError(Utf8(QStringLiteral("No default store: no .pst or .ost file in %1; set "
                                       "LUMIVEX_DEFAULT_STORE or choose a file")
                            .arg(folders.mid(0, 2).join(QStringLiteral(" or ")))));
}

}  // namespace lumivex
