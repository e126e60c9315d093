#include "source/PffBackend.h"

#include "common/CodePage.h"
#include "common/Module1.h"
#include "source/ContactProperties.h"
#include "source/PffFile.h"
#include "source/Rtf.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QUuid>

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace lumivex {

namespace {

constexpr uint32_t kTagDisplayName = 0x3001;
constexpr uint32_t kTagContainerClass = 0x3613;
constexpr uint32_t kTagIpmContactEntryId = 0x36D1;
constexpr uint32_t kTagIpmSubtreeEntryId = 0x35E0;
constexpr uint32_t kTagMessageCodepage = 0x3FFD;
constexpr uint32_t kTagAttributeHidden = 0x10F4;
constexpr uint32_t kTagContentCount = 0x3602;
constexpr uint32_t kTagFolderType = 0x3601;  // 2: a search folder
constexpr uint32_t kTagInternetCodepage = 0x3FDE;
constexpr uint32_t kTagRecordKey = 0x0FF9;
// Attachments.
constexpr uint32_t kTagAttachDataBinary = 0x3701;
constexpr uint32_t kTagAttachMimeTag = 0x370E;
constexpr uint32_t kTagAttachmentContactPhoto = 0x7FFF;
constexpr int32_t kMessageFlagHasAttachments = 0x10;

std::string Utf8(const QString& text) {
  return text.toStdString();
}

// What every folder and entry of one open file shares. The entries of a folder may be built on
// a read-ahead thread (EntryReadAhead below) while the caller reads earlier ones: what is filled
// in after opening (the slots of named properties) is guarded.
struct StoreState {
  StoreState() {
    for (auto& slot : namedSlots) slot.store(kUnknown, std::memory_order_relaxed);
  }

  std::shared_ptr<pff::File> file;
  int codePage = 1252;  // for 8-bit strings of items that name no code page of their own
  QString displayName;
  uint32_t subtreeNode = 0;  // the top of the personal folders, 0 when the store names none
  QByteArray recordKey;      // the store's own key: the middle of every entry id of the store

  // The slot of named property `localId`, -1 when no slot wants it. `unresolved` is set when
  // the store's name-to-id map cannot be read, so that nobody can tell what the property is.
  // Every entry asks this of each of its named properties: once known, a slot is read without
  // a lock.
  int NamedSlot(uint32_t localId, const pff::Item& item, int index, bool& unresolved) {
    const bool kept = localId >= 0x8000 && localId <= 0xFFFF;
    const size_t at = localId & 0x7FFF;
    int slot = kept ? namedSlots[at].load(std::memory_order_acquire) : kUnknown;
    if (slot == kUnknown) {
      std::lock_guard lock(mutex_);
      const pff::NamedKey* key = file->Named(localId, item, index);
      slot = key != nullptr                     ? SlotForNamed(*key)
             : file->NameMapFailure().isEmpty() ? -1
                                                : kUnresolved;
      if (kept) namedSlots[at].store(static_cast<int16_t>(slot), std::memory_order_release);
    }
    unresolved = slot == kUnresolved;
    return unresolved ? -1 : slot;
  }

  // Why the store's name-to-id map cannot be read; empty when it can.
  QString NameMapFailure() {
    std::lock_guard lock(mutex_);
    return file->NameMapFailure();
  }

  static constexpr int kUnresolved = -2;

 private:
  static constexpr int16_t kUnknown = -3;
  std::mutex mutex_;
  std::array<std::atomic<int16_t>, 0x8000> namedSlots;  // by local id - 0x8000
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

// A FILETIME as the day the user entered. A date is stored as the UTC instant of local midnight
// (or midnight UTC for the local-time copies), so the nearest UTC midnight is the entered day for
// any zone within 12 hours of UTC. The mail client's "no date" (the year 4501) and out-of-range
// values give an invalid date.
QDate DayOf(uint64_t fileTime) {
  constexpr int64_t kUnixEpochMs = 11644473600000LL;
  constexpr int64_t kHalfDayMs = 12LL * 3600 * 1000;
  const int64_t ms = static_cast<int64_t>(fileTime / 10000) - kUnixEpochMs;
  const QDate day = QDateTime::fromMSecsSinceEpoch(ms + kHalfDayMs, Qt::UTC).date();
  if (!day.isValid() || day.year() < 1601 || day.year() >= 4500) return {};
  return day;
}

// The same day as the user's short date with a four-digit year; empty for no date.
QString DateText(uint64_t fileTime) {
  const QDate day = DayOf(fileTime);
  return day.isValid() ? Module1::ShortDate(day) : QString();
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

// Entry ids ([MS-OXCDATA]) that name the members of a distribution list and the origin of an
// e-mail address.
const std::array<uint8_t, 16> kOneOffProvider = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
const std::array<uint8_t, 16> kWrappedProvider = {0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D, 0xCF, 0x11,
                                                  0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4};

bool HasProvider(const QByteArray& id, const std::array<uint8_t, 16>& provider) {
  return id.size() >= 20 && std::memcmp(id.constData() + 4, provider.data(), 16) == 0;
}

// A one-off entry id: a recipient written out in full (name, address type, address), as 8-bit
// text in the store's code page or, when its Unicode flag is set, as UTF-16. False when `id` is
// not one or is cut short.
bool ParseOneOff(const QByteArray& id, int codePage, QString& name, QString& type,
                 QString& address) {
  if (!HasProvider(id, kOneOffProvider) || id.size() < 24) return false;
  const bool unicode = (static_cast<uchar>(id[23]) & 0x80) != 0;
  qsizetype at = 24;
  QString* fields[] = {&name, &type, &address};
  for (QString* field : fields) {
    qsizetype end = at;
    if (unicode) {
      while (end + 1 < id.size() && (id[end] != 0 || id[end + 1] != 0)) end += 2;
      if (end + 1 >= id.size()) return false;
      *field = pff::DecodeUtf16(QByteArrayView(id).sliced(at, end - at));
      at = end + 2;
    } else {
      while (end < id.size() && id[end] != 0) ++end;
      if (end >= id.size()) return false;
      *field = pff::DecodeString8(QByteArrayView(id).sliced(at, end - at), codePage);
      at = end + 1;
    }
  }
  return true;
}

// A wrapped entry id: a member of a distribution list that is an entry of the store (a contact,
// with the address of the contact it stands for, or another list). The address is 4, 5 or 6 for
// the contact's e-mail address 1 to 3 (0 to 2 for its fax numbers). The node id is the last four
// bytes of the wrapped message entry id. False when `id` is not one.
bool ParseWrapped(const QByteArray& id, int& kind, int& address, uint32_t& node) {
  if (!HasProvider(id, kWrappedProvider) || id.size() < 21) return false;
  const auto type = static_cast<uchar>(id[20]);
  kind = type & 0x0F;
  address = (type >> 4) & 0x07;
  if (kind != 0 && id.size() < 21 + 24) return false;
  const auto* b = reinterpret_cast<const uchar*>(id.constData() + id.size() - 4);
  node = b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24);
  return true;
}

// The MIME type of a picture, told from its first bytes; else the type stored with the
// attachment where it names an image; else empty.
QString PictureType(const QByteArray& data, const QString& stored) {
  if (data.startsWith("\xFF\xD8\xFF")) return QStringLiteral("image/jpeg");
  if (data.startsWith("\x89PNG\r\n\x1A\n")) return QStringLiteral("image/png");
  if (data.startsWith("GIF87a") || data.startsWith("GIF89a")) return QStringLiteral("image/gif");
  if (data.startsWith("BM")) return QStringLiteral("image/bmp");
  if (data.startsWith(QByteArrayView("II*\0", 4)) || data.startsWith(QByteArrayView("MM\0*", 4)))
    return QStringLiteral("image/tiff");
  if (data.startsWith("RIFF") && data.mid(8, 4) == "WEBP") return QStringLiteral("image/webp");
  const QString type = stored.trimmed().toLower();
  return type.startsWith(u"image/") ? type : QString();
}

// Value types that the reader's list leaves out: numbers read as text where a field wants text.
constexpr uint32_t kTypeDouble = 0x0005;
constexpr uint32_t kTypeInt64 = 0x0014;

// Line breaks of stored text ("\r\n", or a lone "\r") as "\n", in place: most text has none,
// or "\n" alone, and keeps its buffer untouched.
void LinesInPlace(QString& text) {
  if (!text.contains(u'\r')) return;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
}

// The element of `list` that the next item read goes into: one left from an earlier entry,
// whose texts have room already, or a new one. `used` counts those taken.
template <typename T>
T& NextElement(std::vector<T>& list, size_t& used) {
  if (used == list.size()) list.emplace_back();
  return list[used++];
}

// Empties `c` for the next entry but keeps the room of its texts and lists: an export reads
// every entry into one contact, and each field takes about as much room from one entry to the
// next, so that reading an entry allocates hardly anything.
void Empty(contact::Contact& c) {
  c.isGroup = false;
  for (QString* text : {&c.messageClass,  &c.prefix,          &c.givenName,       &c.middleName,
                        &c.surname,       &c.suffix,          &c.displayName,     &c.fileAs,
                        &c.nickname,      &c.initials,        &c.company,         &c.department,
                        &c.jobTitle,      &c.profession,      &c.officeLocation,  &c.manager,
                        &c.assistant,     &c.businessWebPage, &c.personalWebPage, &c.imAddress,
                        &c.freeBusyUrl,   &c.spouse,          &c.notes,           &c.uid,
                        &c.photo.mimeType})
    if (!text->isEmpty()) text->resize(0);
  // Emails, phones and addresses are read into the elements already there (NextElement), and
  // the list cut to what was read.
  c.birthday = {};
  c.anniversary = {};
  c.gender = contact::Gender::kUnspecified;
  c.children.clear();
  c.categories.clear();
  c.photo.data.resize(0);
  c.lastModified = QDateTime();
  c.members.clear();
}

// What the entries built on a read-ahead thread held, freed on that thread: memory goes back
// to the allocator of the thread that took it, which costs a fraction of freeing it on another
// thread (whose frees would contend for the builder's arena). Once the thread has ended,
// remains are freed where they are buried.
class Graveyard {
 public:
  using Remains = std::unique_ptr<pff::Item>;

  // Never waits: while the read-ahead thread is clearing, `remains` is freed here instead.
  void Bury(Remains remains) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock() && open_) buried_.push_back(std::move(remains));
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

class PffContactEntry : public ContactEntry {
 public:
  // `item` is null when the entry cannot be opened; `why` then says why.
  PffContactEntry(std::shared_ptr<StoreState> state, std::unique_ptr<pff::Item> item,
                  QString why = {})
      : state_(std::move(state)), item_(std::move(item)), failure_(std::move(why)) {
    index_.fill(-1);
    if (!item_) {
      if (failure_.isEmpty()) failure_ = QStringLiteral("the entry cannot be opened");
      return;
    }
    const int count = item_->PropertyCount();
    if (count < 0) {
      failure_ = item_->Failure();
      if (failure_.isEmpty()) failure_ = QStringLiteral("its properties cannot be read");
      item_.reset();  // the item's properties cannot be read: every Read fails
      return;
    }
    int named = 0;          // named properties of the entry
    int namedAsFields = 0;  // those the name-to-id map names as contact fields
    for (int i = 0; i < count; ++i) {
      uint32_t id = 0, type = 0;
      if (!item_->PropertyTag(i, id, type)) continue;
      bool unresolved = false;
      const int slot = id >= 0x8000 ? state_->NamedSlot(id, *item_, i, unresolved) : SlotForTag(id);
      if (id >= 0x8000) {
        ++named;
        namedAsFields += slot >= 0;
      }
      if (unresolved && namedFailure_.isEmpty())
        namedFailure_ = QStringLiteral(
                            "the store's name-to-id map is damaged (%1), so its e-mail "
                            "addresses, business address, web page and categories are unknown")
                            .arg(state_->NameMapFailure());
      if (slot >= 0 && index_[static_cast<size_t>(slot)] < 0) {
        index_[static_cast<size_t>(slot)] = i;
        types_[static_cast<size_t>(slot)] = type;
      }
    }
    // Every entry of a folder has a message class; a node without one is another node's data
    // (a folder's, say) that a damaged store points the entry at: read as a contact it would
    // give a card of wrong values.
    // Every contact the mail client writes holds named fields (file-as, e-mail, address): a
    // contact whose named properties the name-to-id map names as none of them has lost them to
    // a damaged map, though the map reads as whole.
    if (named > 0 && namedAsFields == 0 && namedFailure_.isEmpty() && index_[kMessageClass] >= 0) {
      QString messageClass;
      if (ReadText(kMessageClass, messageClass) &&
          messageClass.startsWith(u"IPM.Contact", Qt::CaseInsensitive))
        namedFailure_ =
            QStringLiteral(
                "the store's name-to-id map names none of its %1 named properties as a contact "
                "field, so its e-mail addresses, business address, web page and categories are "
                "unknown; the map is damaged")
                .arg(named);
    }
    if (index_[kMessageClass] < 0) {
      failure_ = QStringLiteral(
          "its data is not an entry's (it has no message class); the store is damaged");
      item_.reset();
    }
  }

  bool Read(std::string_view name, QString& value) const override {
    if (!item_) {
      lastFailure_ = failure_;
      return false;
    }
    const int slot = SlotForName(name);
    if (slot < 0) return false;
    // The entry holds named properties that nobody can resolve: one of them may be this one.
    if (!namedFailure_.isEmpty() && SlotIsNamed(slot) && !Has(slot) &&
        !(slot == kWebPage && Has(kBusinessHomePage))) {
      lastFailure_ = namedFailure_;
      return false;
    }
    if (ReadSlot(slot, value)) return true;
    lastFailure_ =
        state_->file->Changed(true)
            ? QString::fromLatin1(pff::kFileChangedText)
            : QStringLiteral("its %1 is damaged").arg(QLatin1String(name.data(), name.size()));
    return false;
  }

  QString Failure() const override { return lastFailure_.isEmpty() ? failure_ : lastFailure_; }

  ~PffContactEntry() override {
    if (graveyard_) graveyard_->Bury(std::move(item_));
  }
  PffContactEntry(const PffContactEntry&) = delete;
  PffContactEntry& operator=(const PffContactEntry&) = delete;

  // Whether the entry's properties could be read.
  bool Opened() const { return item_ != nullptr; }
  // Makes every read of the entry fail for `why`.
  void MakeUnreadable(const QString& why) {
    item_.reset();
    failure_ = why;
    namedFailure_.clear();
  }

  // The entry's item is freed in `graveyard` when the entry goes.
  void BuryIn(std::shared_ptr<Graveyard> graveyard) { graveyard_ = std::move(graveyard); }

  // Whether entries of the entry's folder are read whole (ReadContact) is told to `hints`.
  void HintTo(std::shared_ptr<ReadHints> hints) { hints_ = std::move(hints); }

  // Makes the uid now, on the read-ahead thread, for the ReadContact that comes later: of what
  // reading an entry whole takes, it is the one step that needs nothing the caller has.
  void PrepareUid() {
    if (item_) uid_ = Uid();
  }

  bool ReadContact(contact::Contact& contact, QString& why) const override {
    if (hints_) hints_->whole.store(true, std::memory_order_relaxed);
    Empty(contact);
    if (!item_) {
      why = failure_;
    } else if (!namedFailure_.isEmpty()) {
      // Its fields cannot be told apart: any of them may be among the unresolved ones.
      why = namedFailure_;
    } else {
      leniency_ = true;
      leftOut_.clear();
      skipped_ = 0;
      const bool filled = FillContact(contact, why);
      leniency_ = false;
      if (filled && !state_->file->Changed(!state_->file->Concurrent())) {
        // What the entry's attachments and list members were read from is the file as opened.
        // Written without the fields of a type they cannot take: `why` names them.
        why = leftOut_.isEmpty() ? QString()
                                 : QStringLiteral(
                                       "written without %1: a type that field cannot "
                                       "take")
                                       .arg(leftOut_.join(QStringLiteral(", ")));
        return true;
      }
      if (filled || state_->file->Changed(true)) why = QString::fromLatin1(pff::kFileChangedText);
    }
    // Nothing of an earlier entry stays in the lists either.
    contact.emails.clear();
    contact.phones.clear();
    contact.addresses.clear();
    lastFailure_ = why;
    return false;
  }

 private:
  bool ReadSlot(int slot, QString& value) const {
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
      case kBody: {
        QString plain, rich;
        if (!ReadText(kBody, plain)) return false;
        if (!plain.isEmpty() || !Has(kRtfCompressed)) {
          value = plain;
          return true;
        }
        // The text of a rich-text body, with the "\r\n" line breaks of a plain one.
        if (!ReadBody(rich)) return false;
        value = rich.replace(u'\n', QStringLiteral("\r\n"));
        return true;
      }
      default:
        return ReadText(slot, value);
    }
  }

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
      if (!value.isEmpty()) value.resize(0);  // keeps its room for the next entry's value
      return true;
    }
    const uint32_t type = types_[static_cast<size_t>(slot)];
    switch (type) {
      case pff::kTypeUnicode:
      case pff::kTypeString8: {
        QByteArrayView bytes;  // where the item keeps them, else a copy
        if (!item_->View(index, bytes)) {
          if (!item_->Data(index, buffer_)) return false;
          bytes = buffer_;
        }
        if (type == pff::kTypeUnicode)
          pff::DecodeUtf16(bytes, value);  // into the room `value` already has
        else
          value = pff::DecodeString8(bytes, CodePage());
        return true;
      }
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
      case pff::kTypeInt16:
      case pff::kTypeInt32:
      case kTypeInt64:
      case kTypeDouble:
        // A number where text is wanted (a phone number or keyword kept as an integer by
        // another program): its decimal text.
        return ReadNumber(index, type, value);
      default:
        // A type no text field can take: the field is left out (and told of), not the entry.
        if (!value.isEmpty()) value.resize(0);
        skipped_ = type;
        return leniency_;
    }
  }

  // An integer or floating-point value as decimal text. False when its bytes cannot be read.
  bool ReadNumber(int index, uint32_t type, QString& value) const {
    if (type == pff::kTypeInt16 || type == pff::kTypeInt32) {
      int32_t n = 0;
      if (!(type == pff::kTypeInt16 ? item_->Int16(index, n) : item_->Int32(index, n)))
        return false;
      value = QString::number(n);
      return true;
    }
    QByteArray raw;
    if (!item_->Data(index, raw) || raw.size() < 8) return false;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<uchar>(raw[i]);
    if (type == kTypeInt64) {
      value = QString::number(static_cast<qint64>(bits));
    } else {
      double d = 0;
      std::memcpy(&d, &bits, sizeof d);
      value = QString::number(d, 'g', 17);
    }
    return true;
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

  // The notes: the plain-text body, or where the entry has none (or an empty one) the text of its
  // compressed RTF body; line breaks as "\n". False when the body cannot be read.
  bool ReadBody(QString& notes, QString* why = nullptr) const {
    if (!ReadText(kBody, notes)) {  // the plain body, into the room `notes` has
      if (why) *why = QStringLiteral("its notes cannot be read");
      return false;
    }
    const bool blank =
        std::all_of(notes.cbegin(), notes.cend(), [](QChar c) { return c.isSpace(); });
    const int rtfIndex = index_[kRtfCompressed];
    if (!blank || rtfIndex < 0) {
      // A body of nothing but line breaks (as the mail client leaves an emptied one) is no note.
      if (blank)
        notes.resize(0);
      else
        LinesInPlace(notes);
      return true;
    }
    QByteArray stored, rtfText;
    QString reason;
    if (types_[kRtfCompressed] != pff::kTypeBinary || !item_->Data(rtfIndex, stored)) {
      reason = QStringLiteral("the value cannot be read");
    } else if (rtf::Decompress(stored, rtfText, reason)) {
      notes = rtf::ToText(rtfText);
      return true;
    }
    if (why) *why = QStringLiteral("its rich-text notes cannot be read (%1)").arg(reason);
    return false;
  }

  // Every value of a multi-valued string (or the one value of a single string) as a list.
  bool ReadList(int slot, QStringList& out) const {
    out.clear();
    const int index = index_[static_cast<size_t>(slot)];
    if (index < 0) return true;
    const uint32_t type = types_[static_cast<size_t>(slot)];
    if (type == pff::kTypeUnicode || type == pff::kTypeString8) {
      QString one;
      if (!ReadText(slot, one)) return false;
      if (!one.isEmpty()) out << one;
      return true;
    }
    if (type != pff::kTypeMultiUnicode && type != pff::kTypeMultiString8) {
      // A single value of another kind: as text where it is a number, else left out.
      QString one;
      if (!ReadText(slot, one)) return false;
      if (!one.isEmpty()) out << one;
      return true;
    }
    std::vector<QByteArray> parts;
    if (!item_->MultiData(index, parts)) return false;
    for (const QByteArray& part : parts) {
      QString value = type == pff::kTypeMultiUnicode ? pff::DecodeUtf16(part)
                                                     : pff::DecodeString8(part, CodePage());
      LinesInPlace(value);
      if (!value.isEmpty()) out << value;
    }
    return true;
  }

  // A date as the calendar day entered: the local-time copy where the entry has one.
  bool ReadDay(int localSlot, int utcSlot, contact::Date& day) const {
    for (int slot : {localSlot, utcSlot}) {
      const int index = index_[static_cast<size_t>(slot)];
      if (index < 0) continue;
      uint64_t time = 0;
      if (types_[static_cast<size_t>(slot)] != pff::kTypeTime) {
        skipped_ = types_[static_cast<size_t>(slot)];
        return leniency_;
      }
      if (!item_->FileTime(index, time)) return false;
      const QDate date = DayOf(time);
      if (date.isValid()) day = {date.year(), date.month(), date.day()};
      return true;
    }
    return true;
  }

  // E-mail address `n` (0-2) with its display name and type. An Exchange ("EX") address is an
  // X.500 name; its SMTP form is taken from the original display text, the display name or the
  // one-off entry id the address was made from, where one of them holds it.
  bool ReadEmailEntry(int n, contact::Email& email) const {
    QString originalDisplay;
    if (!ReadText(kEmail1Address + n, email.address) ||
        !ReadText(kEmail1AddressType + n, email.type) ||
        !ReadText(kEmail1DisplayName + n, email.displayName) ||
        !ReadText(kEmail1OriginalDisplayName + n, originalDisplay))
      return false;
    if (email.displayName.isEmpty()) email.displayName = originalDisplay;
    if (email.type.compare(u"EX", Qt::CaseInsensitive) != 0) return true;
    QString smtp = SmtpFromDisplay(originalDisplay);
    if (smtp.isEmpty()) smtp = SmtpFromDisplay(email.displayName);
    const int idIndex = index_[static_cast<size_t>(kEmail1OriginalEntryId + n)];
    QByteArray id;
    QString name, type, address;
    if (smtp.isEmpty() && idIndex >= 0 && item_->Data(idIndex, id) &&
        ParseOneOff(id, CodePage(), name, type, address) &&
        type.compare(u"SMTP", Qt::CaseInsensitive) == 0)
      smtp = address;
    if (!smtp.isEmpty()) email.address = smtp;
    return true;
  }

  // The picture attached as the contact's photo, if any.
  bool ReadPhoto(contact::Photo& photo, QString& why) const {
    int32_t flags = 0;
    const int flagsIndex = index_[kMessageFlags];
    if (flagsIndex >= 0 && item_->Int32(flagsIndex, flags) &&
        (flags & kMessageFlagHasAttachments) == 0)
      return true;  // the entry says it has no attachments: the table is not read
    const int count = item_->AttachmentCount();
    if (count < 0) {
      why = QStringLiteral("its attachments cannot be read; the entry is damaged");
      return false;
    }
    for (int i = 0; i < count; ++i) {
      std::unique_ptr<pff::Item> attachment;
      try {
        attachment = item_->Attachment(i);
      } catch (const StoreError& error) {
        why = QStringLiteral("its attachment %1 cannot be read (%2)")
                  .arg(i + 1)
                  .arg(QString::fromUtf8(error.what()));
        return false;
      }
      const int flag = attachment->Find(kTagAttachmentContactPhoto);
      int32_t isPhoto = 0;
      if (flag < 0 || !attachment->Int16(flag, isPhoto) || isPhoto == 0) continue;
      const int data = attachment->Find(kTagAttachDataBinary);
      if (data < 0 || !attachment->Data(data, photo.data)) {
        why = QStringLiteral("its picture cannot be read; the attachment is damaged");
        return false;
      }
      photo.mimeType = PictureType(photo.data, attachment->Text(kTagAttachMimeTag, CodePage()));
      return true;
    }
    return true;
  }

  // The members of a distribution list, in the list's order. A member that is an entry of this
  // store is read from that entry (the e-mail address the list names); a one-off member, or one
  // whose entry is gone, from the one-off entry id the list keeps beside it. A member is named
  // as the list names it (the name in that one-off copy, "Ann Smith (Work)"), not as its
  // contact is named, where the list holds a name.
  bool ReadMembers(std::vector<contact::Member>& members, QString& why) const {
    std::vector<QByteArray> linked, oneOff;
    const int linkedIndex = index_[kDistributionListMembers];
    const int oneOffIndex = index_[kDistributionListOneOffMembers];
    if ((linkedIndex >= 0 && (types_[kDistributionListMembers] != pff::kTypeMultiBinary ||
                              !item_->MultiData(linkedIndex, linked))) ||
        (oneOffIndex >= 0 && (types_[kDistributionListOneOffMembers] != pff::kTypeMultiBinary ||
                              !item_->MultiData(oneOffIndex, oneOff)))) {
      why = QStringLiteral("its list of members cannot be read; the entry is damaged");
      return false;
    }
    const size_t count = std::max(linked.size(), oneOff.size());
    for (size_t i = 0; i < count; ++i) {
      contact::Member member;
      QString type;
      bool found = i < linked.size() && ResolveMember(linked[i], member);
      if (!found && i < linked.size())
        found = ParseOneOff(linked[i], CodePage(), member.name, type, member.address);
      if (!found && i < oneOff.size())
        found = ParseOneOff(oneOff[i], CodePage(), member.name, type, member.address);
      contact::Member listed;
      if (found && i < oneOff.size() &&
          ParseOneOff(oneOff[i], CodePage(), listed.name, type, listed.address) &&
          !listed.name.trimmed().isEmpty())
        member.name = listed.name;
      if (found) members.push_back(member);
    }
    return true;
  }

  // A wrapped entry id of this store read from the entry it names. False when the id names
  // something else or the entry cannot be read.
  bool ResolveMember(const QByteArray& id, contact::Member& member) const {
    int kind = 0, address = 0;
    uint32_t node = 0;
    if (!ParseWrapped(id, kind, address, node)) return false;
    if (kind == 0) {  // a one-off entry id inside the wrapper
      QString type;
      return ParseOneOff(id.mid(21), CodePage(), member.name, type, member.address);
    }
    constexpr int kContact = 3, kList = 4;
    if (kind != kContact && kind != kList) return false;
    // The wrapped entry id names its store by the store's record key.
    if (!state_->recordKey.isEmpty() && id.mid(25, 16) != state_->recordKey.left(16)) return false;
    std::unique_ptr<pff::Item> item;
    try {
      item = state_->file->ItemById(node);
    } catch (const StoreError&) {
      return false;
    }
    if (!item) return false;
    const PffContactEntry entry(state_, std::move(item));
    if (!entry.item_ || !entry.ReadText(kFullName, member.name)) return false;
    if (member.name.isEmpty() && !entry.ReadText(kFileUnder, member.name)) return false;
    if (kind == kContact) {
      if (address < 4 || address > 6) return false;  // a fax number: the one-off copy has it
      contact::Email email;
      if (!entry.ReadEmailEntry(address - 4, email)) return false;
      member.address = email.address;
    }
    return true;
  }

  // The uid is made from the entry id the mail client itself names the entry by: the store's
  // record key and the entry's node id. Both stay the same for as long as the entry stays in this
  // store, whichever reader reads it and however often it is exported; a search key would not
  // do, as copies of a contact share theirs.
  QString Uid() const {
    QByteArray entryId(4, '\0');
    entryId += state_->recordKey.isEmpty() ? state_->file->Path().toUtf8() : state_->recordKey;
    const uint32_t nid = item_->Id();
    for (int i = 0; i < 4; ++i) entryId += static_cast<char>((nid >> (8 * i)) & 0xFF);
    static const QUuid kNamespace(QStringLiteral("{3f0f9c52-6a0e-4c1b-9b7e-3a5c2d8e4f61}"));
    return QUuid::createUuidV5(kNamespace, entryId).toString(QUuid::WithoutBraces);
  }

  bool FillContact(contact::Contact& c, QString& why) const {
    using contact::Contact;
    auto fail = [&why](const char* what) {
      why = QStringLiteral("its %1 cannot be read; the entry is damaged").arg(QLatin1String(what));
      return false;
    };
    // A field whose value is of a type it cannot take was left out of the contact (the read
    // gave it empty): noted under its name, with the type it has.
    auto noted = [this](const char* what) {
      if (skipped_ == 0) return;
      leftOut_ << QStringLiteral("its %1 (stored as a value of type 0x%2)")
                      .arg(QLatin1String(what))
                      .arg(skipped_, 4, 16, QLatin1Char('0'));
      skipped_ = 0;
    };
    struct TextField {
      int slot;
      const char* label;
      QString Contact::*member;
    };
    static constexpr TextField kText[] = {
        {kMessageClass, "message class", &Contact::messageClass},
        {kTitle, "title", &Contact::prefix},
        {kFirstName, "first name", &Contact::givenName},
        {kMiddleName, "middle name", &Contact::middleName},
        {kLastName, "last name", &Contact::surname},
        {kSuffix, "suffix", &Contact::suffix},
        {kFullName, "full name", &Contact::displayName},
        {kFileUnder, "file-as name", &Contact::fileAs},
        {kNickname, "nickname", &Contact::nickname},
        {kInitials, "initials", &Contact::initials},
        {kCompanyName, "company", &Contact::company},
        {kDepartment, "department", &Contact::department},
        {kJobTitle, "job title", &Contact::jobTitle},
        {kProfession, "profession", &Contact::profession},
        {kOfficeLocation, "office", &Contact::officeLocation},
        {kManagerName, "manager's name", &Contact::manager},
        {kAssistantName, "assistant's name", &Contact::assistant},
        {kPersonalHomePage, "personal web page", &Contact::personalWebPage},
        {kInstantMessagingAddress, "IM address", &Contact::imAddress},
        {kFreeBusyLocation, "free/busy address", &Contact::freeBusyUrl},
        {kSpouse, "spouse's name", &Contact::spouse},
    };
    for (const TextField& field : kText) {
      if (!ReadText(field.slot, c.*field.member)) return fail(field.label);
      noted(field.label);
      LinesInPlace(c.*field.member);
    }
    c.isGroup = c.messageClass.startsWith(u"IPM.DistList", Qt::CaseInsensitive);
    if (!ReadText(Has(kWebPage) ? kWebPage : kBusinessHomePage, c.businessWebPage))
      return fail("business web page");
    noted("business web page");

    size_t emails = 0;
    for (int n = 0; n < 3; ++n) {
      contact::Email& email = NextElement(c.emails, emails);
      if (!ReadEmailEntry(n, email)) return fail("e-mail address");
      noted(n == 0 ? "e-mail address" : n == 1 ? "e-mail address 2" : "e-mail address 3");
      if (email.address.isEmpty()) --emails;
    }
    c.emails.resize(emails);

    using contact::PhoneKind;
    static constexpr std::pair<int, PhoneKind> kPhones[] = {
        {kBusinessTelephoneNumber, PhoneKind::kBusiness},
        {kBusiness2TelephoneNumber, PhoneKind::kBusiness2},
        {kHomeTelephoneNumber, PhoneKind::kHome},
        {kHome2TelephoneNumber, PhoneKind::kHome2},
        {kMobileTelephoneNumber, PhoneKind::kMobile},
        {kCarTelephoneNumber, PhoneKind::kCar},
        {kPagerNumber, PhoneKind::kPager},
        {kBusinessFaxNumber, PhoneKind::kBusinessFax},
        {kHomeFaxNumber, PhoneKind::kHomeFax},
        {kOtherFaxNumber, PhoneKind::kOtherFax},
        {kAssistantTelephoneNumber, PhoneKind::kAssistant},
        {kCallbackTelephoneNumber, PhoneKind::kCallback},
        {kCompanyMainTelephoneNumber, PhoneKind::kCompanyMain},
        {kIsdnNumber, PhoneKind::kIsdn},
        {kOtherTelephoneNumber, PhoneKind::kOther},
        {kPrimaryTelephoneNumber, PhoneKind::kPrimary},
        {kRadioTelephoneNumber, PhoneKind::kRadio},
        {kTelexNumber, PhoneKind::kTelex},
        {kTtyTddPhoneNumber, PhoneKind::kTty},
    };
    size_t phones = 0;
    for (const auto& [slot, kind] : kPhones) {
      contact::Phone& phone = NextElement(c.phones, phones);
      phone.kind = kind;
      if (!ReadText(slot, phone.number)) return fail("telephone numbers");
      noted("telephone number");
      if (phone.number.isEmpty()) --phones;
    }
    c.phones.resize(phones);

    // The mailing address: 1 home, 2 business, 3 other.
    int32_t mailing = 0;
    if (Has(kPostalAddressId)) {
      if (types_[kPostalAddressId] != pff::kTypeInt32) {
        skipped_ = types_[kPostalAddressId];
        noted("mailing-address choice");
      } else if (!item_->Int32(index_[kPostalAddressId], mailing)) {
        return fail("mailing-address choice");
      }
    }
    using contact::AddressKind;
    struct AddressSlots {
      AddressKind kind;
      int street, poBox, city, state, postalCode, country;
      int formatted;  // the whole address as one text, which some stores hold alone
      int32_t mailingId;
    };
    static constexpr AddressSlots kAddresses[] = {
        {AddressKind::kBusiness, kBusinessAddressStreet, kBusinessAddressPostOfficeBox,
         kBusinessAddressCity, kBusinessAddressState, kBusinessAddressPostalCode,
         kBusinessAddressCountry, kBusinessAddressFormatted, 2},
        {AddressKind::kHome, kHomeAddressStreet, kHomeAddressPostOfficeBox, kHomeAddressCity,
         kHomeAddressState, kHomeAddressPostalCode, kHomeAddressCountry, kHomeAddressFormatted, 1},
        {AddressKind::kOther, kOtherAddressStreet, kOtherAddressPostOfficeBox, kOtherAddressCity,
         kOtherAddressState, kOtherAddressPostalCode, kOtherAddressCountry, kOtherAddressFormatted,
         3},
    };
    size_t addresses = 0;
    for (const AddressSlots& where : kAddresses) {
      contact::Address& address = NextElement(c.addresses, addresses);
      address.kind = where.kind;
      address.mailing = mailing == where.mailingId;
      if (!ReadText(where.street, address.street) || !ReadText(where.poBox, address.poBox) ||
          !ReadText(where.city, address.city) || !ReadText(where.state, address.state) ||
          !ReadText(where.postalCode, address.postalCode) ||
          !ReadText(where.country, address.country))
        return fail("postal addresses");
      if (address.IsEmpty() && !ReadText(where.formatted, address.street))
        return fail("postal addresses");
      noted("postal address");
      LinesInPlace(address.street);
      if (address.IsEmpty()) --addresses;
    }
    c.addresses.resize(addresses);

    if (!ReadDay(kBirthdayLocal, kBirthday, c.birthday)) return fail("birthday");
    noted("birthday");
    if (!ReadDay(kAnniversaryLocal, kAnniversary, c.anniversary)) return fail("anniversary");
    noted("anniversary");
    if (Has(kGender) && types_[kGender] != pff::kTypeInt16 &&
        types_[kGender] != pff::kTypeBoolean) {
      skipped_ = types_[kGender];
      noted("gender");
    } else if (Has(kGender)) {
      int32_t gender = 0;
      if (!item_->Int16(index_[kGender], gender)) return fail("gender");
      c.gender = gender == 1   ? contact::Gender::kFemale
                 : gender == 2 ? contact::Gender::kMale
                               : contact::Gender::kUnspecified;
    }
    if (!ReadList(kChildren, c.children)) return fail("children's names");
    noted("children's names");
    if (!ReadList(kCategories, c.categories)) return fail("categories");
    noted("categories");
    if (!ReadBody(c.notes, &why)) return false;
    noted("notes");

    if (Has(kLastModificationTime) && types_[kLastModificationTime] != pff::kTypeTime) {
      skipped_ = types_[kLastModificationTime];
      noted("time of last change");
    } else if (Has(kLastModificationTime)) {
      uint64_t time = 0;
      if (!item_->FileTime(index_[kLastModificationTime], time)) return fail("time of last change");
      constexpr int64_t kUnixEpochMs = 11644473600000LL;
      c.lastModified = QDateTime::fromMSecsSinceEpoch(
          static_cast<int64_t>(time / 10000) - kUnixEpochMs, Qt::UTC);
    }

    c.uid = uid_.isEmpty() ? Uid() : uid_;

    if (!ReadPhoto(c.photo, why)) return false;
    if (c.isGroup) {
      if (c.displayName.isEmpty() && !ReadText(kDistributionListName, c.displayName))
        return fail("list name");
      if (!ReadMembers(c.members, why)) return false;
    }
    return true;
  }

  std::shared_ptr<StoreState> state_;
  std::unique_ptr<pff::Item> item_;
  std::array<int, kSlotCount> index_{};
  std::array<uint32_t, kSlotCount> types_{};
  mutable int codePage_ = 0;
  mutable QByteArray buffer_;  // reused by every string read of the entry
  QString failure_;            // why the entry cannot be opened or its properties read
  QString namedFailure_;       // why its named properties cannot be resolved
  mutable QString lastFailure_;
  // While ReadContact reads (leniency_), a value of a type its field cannot take is left out:
  // its type is kept in skipped_ until the field is named in leftOut_.
  mutable bool leniency_ = false;
  mutable uint32_t skipped_ = 0;
  mutable QStringList leftOut_;
  std::shared_ptr<Graveyard> graveyard_;  // where the entry's item is freed
  std::shared_ptr<ReadHints> hints_;      // how the entries of its folder are read
  QString uid_;                           // made ahead by PrepareUid
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

  ~EntryReadAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_.store(true);
    }
    room_.notify_one();
    thread_.join();
  }

  EntryReadAhead(const EntryReadAhead&) = delete;
  EntryReadAhead& operator=(const EntryReadAhead&) = delete;

  // The entry at `index` when it is the next one in line, waiting for its batch when it is not
  // built yet; null when it is not in line (the caller builds it itself). What building it threw
  // is thrown here.
  std::unique_ptr<ContactEntry> Take(int index) {
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

  void Run() {
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
  bool Since() {
    double cpu = 0, wall = 0;
    Now(cpu, wall);
    const bool atOnce = cpu - cpu_ > 1.25 * (wall - wall_);
    cpu_ = cpu;
    wall_ = wall;
    return atOnce;
  }

 private:
  static void Now(double& cpu, double& wall) {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    cpu = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    clock_gettime(CLOCK_MONOTONIC, &t);
    wall = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }
  double cpu_ = 0;
  double wall_ = 0;
};

// LUMIVEX_TEST_STOP_AT_ENTRY=N: the process stops itself (SIGSTOP) as entry N (from 0) of a
// folder is about to be read, so that a test can change the store at a known point of a run and
// then let it go on (SIGCONT).
void StopHereForTests(int index) {
  static const int at = qEnvironmentVariableIsSet("LUMIVEX_TEST_STOP_AT_ENTRY")
                            ? qEnvironmentVariableIntValue("LUMIVEX_TEST_STOP_AT_ENTRY")
                            : -1;
  if (index == at) std::raise(SIGSTOP);
}

// Whether this process may run on more than one processor: with one (taskset -c 0, a container
// of one processor) a read-ahead thread only adds its hand-offs.
bool SeveralProcessors() {
  static const bool several = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) > 1;
  }();
  return several;
}

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
    pff::File& file = *state_->file;
    QString why;
    std::unique_ptr<pff::Item> message;
    if (!file.Changed()) message = folder_->TryMessage(index, why);
    auto entry = std::make_unique<PffContactEntry>(state_, std::move(message), why);
    if (file.Changed(!entry->Opened() || !file.Concurrent()))
      entry->MakeUnreadable(QString::fromLatin1(pff::kFileChangedText));
    entry->HintTo(hints_);
    if (graveyard) {
      entry->BuryIn(std::move(graveyard));
      if (hints_->whole.load(std::memory_order_relaxed)) entry->PrepareUid();
    }
    return entry;
  }

  std::shared_ptr<StoreState> state_;
  std::shared_ptr<pff::Item> folder_;
  QString path_;
  std::shared_ptr<ReadHints> hints_ = std::make_shared<ReadHints>();
  static constexpr int kCheckEvery = 2048;
  mutable int last_ = -1;  // the entry asked for last
  mutable int sinceCheck_ = 0;
  mutable std::optional<RanAtOnce> ranAtOnce_;     // since the last check
  mutable bool alone_ = false;                     // the rest is read in one thread
  mutable std::unique_ptr<EntryReadAhead> ahead_;  // last: stopped before the rest goes
};

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
  std::shared_ptr<Items> GetItems() const override { throw StoreError(Utf8(why_)); }
  std::vector<std::shared_ptr<Folder>> SubFolders() const override { return {}; }
  QString Unreadable() const override { return why_; }

 private:
  QString name_;
  QString path_;
  QString why_;
};

class PffFolder : public Folder {
 public:
  PffFolder(std::shared_ptr<StoreState> state, std::shared_ptr<pff::Item> item, QString parentPath,
            bool root, std::vector<uint32_t> ancestors = {})
      : state_(std::move(state)), item_(std::move(item)), lineage_(std::move(ancestors)) {
    lineage_.push_back(item_->Id());
    if (!root && item_->PropertyCount() < 0) {
      // Listed by its parent, but its node holds no readable folder: damage, told by
      // Unreadable(), never taken for an empty folder.
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
    if (!unreadable_.isEmpty())
      throw StoreError(Utf8(QStringLiteral("Cannot read the entries of \"%1\" in %2: %3")
                                .arg(path_, state_->file->Path(), unreadable_)));
    if (item_->MessageCount() < 0)
      throw StoreError(Utf8(QStringLiteral("Cannot read the entries of \"%1\" in %2: the folder "
                                           "is damaged")
                                .arg(path_, state_->file->Path())));
    return std::make_shared<PffItems>(state_, item_, path_);
  }

  // The folder keeps the number of its entries apart from the table that lists them: a table
  // that lists fewer has lost some, though each of its own parts looks whole.
  QString MissingEntries() const override {
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

  // Every folder the folder lists, in order; one whose node cannot be found stands as an
  // unreadable folder in its place.
  std::vector<std::shared_ptr<Folder>> SubFolders() const override {
    std::vector<std::shared_ptr<Folder>> folders;
    SubFolderObjects(&folders);
    return folders;
  }

  QString Unreadable() const override { return unreadable_; }

  // The folders the folder lists (one whose node holds no readable folder says so through
  // Unreadable). With `all`, they go there too, with a folder whose node cannot be found as an
  // unreadable one in its place; without it, such a folder makes the branch unreadable
  // (StoreError).
  std::vector<std::shared_ptr<PffFolder>> SubFolderObjects(
      std::vector<std::shared_ptr<Folder>>* all = nullptr) const {
    if (!unreadable_.isEmpty()) return {};
    const int count = item_->SubFolderCount();
    if (count < 0)
      throw StoreError(Utf8(
          QStringLiteral("Cannot read the folders under \"%1\" in %2: the "
                         "folder tree is damaged")
              .arg(path_.isEmpty() ? QStringLiteral("the root") : path_, state_->file->Path())));
    std::vector<std::shared_ptr<PffFolder>> folders;
    folders.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      std::shared_ptr<pff::Item> sub;
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
        throw StoreError(Utf8(QStringLiteral("Cannot read the folders under \"%1\" in %2: the "
                                             "folder tree is damaged (%3)")
                                  .arg(path_.isEmpty() ? QStringLiteral("the root") : path_,
                                       state_->file->Path(),
                                       loops ? QStringLiteral("it lists a folder above itself")
                                             : QStringLiteral("it lists a folder twice"))));
      auto folder = std::make_shared<PffFolder>(state_, std::move(sub), path_, false, lineage_);
      if (all) all->push_back(folder);
      folders.push_back(std::move(folder));
    }
    return folders;
  }

  uint32_t Id() const { return item_->Id(); }
  bool Hidden() const override { return system_; }
  // Flagged hidden by the store (the default contacts folder search passes these over).
  bool FlaggedHidden() const { return hidden_; }
  const pff::Item& RawItem() const { return *item_; }

 private:
  std::shared_ptr<StoreState> state_;
  std::shared_ptr<pff::Item> item_;
  QString name_;
  QString path_;
  QString containerClass_;
  bool hidden_ = false;
  bool system_ = false;
  QString unreadable_;             // why the folder's own node cannot be read
  std::vector<uint32_t> lineage_;  // the node ids of the folders from the root down to this one
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
    const int recordKey = store->Find(kTagRecordKey);
    if (recordKey >= 0) store->Data(recordKey, state->recordKey);
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
      for (auto& folder : all) {
        if (folder->Id() != node) continue;
        if (folder->DefaultItemType() == kContactItem) return folder;
        // The store names this folder as its contacts, but cannot say what it is: another
        // folder taken in its place would be exported as if it were the contacts.
        if (folder->RawItem().PropertyCount() < 0)
          throw StoreError(Utf8(QStringLiteral("Cannot read the contacts folder of %1: the "
                                               "folder is damaged (%2)")
                                    .arg(state_->file->Path(), folder->RawItem().Failure())));
      }
    }
    // A search folder lists entries of other folders: it is never the contacts folder itself.
    constexpr uint32_t kNidTypeSearchFolder = 0x03;
    const QString topPath = top ? top->Path() + u'/' : QString();
    for (auto& folder : all)
      if (folder->DefaultItemType() == kContactItem && !folder->FlaggedHidden() &&
          (folder->Id() & 0x1F) != kNidTypeSearchFolder && folder->Path().startsWith(topPath))
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
        const QString advice = DefaultStoreAdvice();
        throw StoreError(
            std::string(error.what()) + " (the default store; " +
            (advice.isEmpty()
                 ? std::string("set LUMIVEX_DEFAULT_STORE to another file or choose a file")
                 : advice.toStdString()) +
            ")");
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

}  // namespace lumivex
