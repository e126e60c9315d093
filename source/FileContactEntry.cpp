#include "source/FileContactEntry.h"

#include "common/NameUuid.h"
#include "source/EntryValues.h"
#include "source/Rtf.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace lumivex::backend {

namespace {
// Value types that the reader's list leaves out: numbers read as text where a field wants text.
constexpr uint32_t kTypeDouble = 0x0005;
constexpr uint32_t kTypeInt64 = 0x0014;
}  // namespace

FileContactEntry::FileContactEntry(std::shared_ptr<StoreContext> state,
                                   std::unique_ptr<storefile::StoreItem> item, QString why)
    : state_(std::move(state)), item_(std::move(item)), failure_(std::move(why)) {
  index_.fill(-1);
  if (!item_) {
    if (failure_.isEmpty()) failure_ = QStringLiteral("the entry cannot be opened");
    return;
  }
  const int count = item_->PropertyCount();
  bool unresolvedNames = false;  // a named property the store's name-to-id map cannot resolve
  if (count < 0) {
    failure_ = item_->Failure();
    if (failure_.isEmpty()) failure_ = QStringLiteral("its properties cannot be read");
    item_.reset();  // the item's properties cannot be read: every Read fails
    return;
  }
  for (int i = 0; i < count; ++i) {
    uint32_t id = 0, type = 0;
    if (!item_->PropertyTag(i, id, type)) continue;
    bool unresolved = false;
    const int slot = id >= 0x8000 ? state_->NamedSlot(id, *item_, i, unresolved) : SlotForTag(id);
    unresolvedNames = unresolvedNames || unresolved;
    if (slot >= 0 && index_[static_cast<size_t>(slot)] < 0) {
      index_[static_cast<size_t>(slot)] = i;
      types_[static_cast<size_t>(slot)] = type;
    }
  }
  // Every entry of a folder has a message class; a node without one is another node's data (a
  // folder's, say) that a damaged store points the entry at: read as a contact it would give a
  // card of wrong values.
  if (index_[kMessageClass] < 0) {
    failure_ = QStringLiteral(
        "its data is not an entry's (it has no message class); the store is damaged");
    item_.reset();
    return;
  }
  // A list of values (categories, children) whose counts and offsets do not hold together is
  // damage, told by every form, those that do not write that field too.
  for (int slot : {kCategories, kChildren}) {
    const uint32_t type = types_[static_cast<size_t>(slot)];
    std::vector<QByteArray> values;
    if (Has(slot) && (type & pst::kPtMultiFlag) != 0 &&
        !item_->MultiData(index_[static_cast<size_t>(slot)], values)) {
      const std::string_view name = SlotName(slot);
      damage_ = QStringLiteral("its %1 are damaged")
                    .arg(QString::fromLatin1(name.data(), qsizetype(name.size())).toLower());
    }
  }
  // An entry that says it has attachments holds them in its list of sub-nodes: a list that
  // holds none has lost them (its picture among them) though the entry itself reads whole.
  constexpr int32_t kMessageFlagHasAttachments = 0x10;
  int32_t flags = 0;
  if (index_[kMessageFlags] >= 0 && item_->Int32(index_[kMessageFlags], flags) &&
      (flags & kMessageFlagHasAttachments) != 0 && item_->AttachmentCount() == 0 &&
      damage_.isEmpty())
    damage_ = QStringLiteral(
        "it says it has attachments, but the store holds none of them, so its picture or "
        "attachments are lost; the store is damaged");
  // Named properties nobody can resolve may be any of the fields kept in named properties: those
  // read as absent, and the entry is given with every other field and told as not whole.
  if (unresolvedNames) {
    QString messageClass;
    const bool list = ReadText(kMessageClass, messageClass) &&
                      messageClass.startsWith(u"IPM.DistList", Qt::CaseInsensitive);
    const QString lost =
        QStringLiteral(
            "written without %1: the store's name-to-id map is damaged (%2), so its named "
            "properties cannot be told apart")
            .arg(list ? QStringLiteral("its list name and members")
                      : QStringLiteral(
                            "its e-mail addresses, business address, web page, file-as name, IM "
                            "and free/busy addresses and categories"),
                 state_->NameMapFailure());
    damage_ = damage_.isEmpty() ? lost : damage_ + QStringLiteral("; ") + lost;
  }
}

bool FileContactEntry::Read(std::string_view name, QString& value) const {
  if (!item_) {
    lastFailure_ = failure_;
    return false;
  }
  const int slot = SlotForName(name);
  return slot >= 0 && ReadField(slot, value);
}

bool FileContactEntry::ReadField(int slot, QString& value) const {
  if (!item_) {
    lastFailure_ = failure_;
    return false;
  }
  if (slot < 0 || slot >= kReadableSlots) return false;
  if (ReadSlot(slot, value)) return true;
  const std::string_view name = SlotName(slot);
  lastFailure_ =
      state_->file->Changed(true)
          ? QString::fromLatin1(storefile::kFileChangedText)
          : QStringLiteral("its %1 is damaged").arg(QLatin1String(name.data(), name.size()));
  return false;
}

int FileContactEntry::ReadFields(std::span<const int> fields, QString* values, QString& why) const {
  int read = 0;
  bool failed = false;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (ReadField(fields[i], values[i])) {
      ++read;
    } else if (!failed) {
      why = Failure();
      failed = true;
    }
  }
  return read;
}

FileContactEntry::~FileContactEntry() = default;

void FileContactEntry::operator delete(FileContactEntry* entry, std::destroying_delete_t) {
  // Buried with its graveyard let go first: when the graveyard frees it, or when it is not
  // buried (the graveyard busy or closed), it comes back here and is freed as any other.
  if (std::shared_ptr<Graveyard> graveyard = std::move(entry->graveyard_)) {
    graveyard->Bury(std::unique_ptr<FileContactEntry>(entry));
    return;
  }
  entry->~FileContactEntry();
  ::operator delete(entry);
}

void FileContactEntry::PrepareUid() {
  if (item_) UidInto(uid_);
}

bool FileContactEntry::ReadSlot(int slot, QString& value) const {
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

int FileContactEntry::CodePage() const {
  if (codePage_ == 0) {
    codePage_ = ItemCodePage(*item_, index_[kMessageCodepage], index_[kInternetCodepage]);
    if (codePage_ == 0) codePage_ = state_->codePage;
  }
  return codePage_;
}

bool FileContactEntry::ReadStoredText(int slot, int index, uint32_t type, QString& value) const {
  switch (type) {
    case storefile::kTypeUnicode:
    case storefile::kTypeString8: {
      QByteArrayView bytes;  // where the item keeps them, else a copy
      if (views_ != nullptr) {
        bytes = views_[index];
      } else if (!item_->View(index, bytes)) {
        if (!item_->Data(index, buffer_)) return false;
        bytes = buffer_;
      }
      if (type == storefile::kTypeUnicode)
        storefile::DecodeUtf16(bytes, value);  // into the room `value` already has
      else
        value = storefile::DecodeString8(bytes, CodePage());
      return true;
    }
    case storefile::kTypeMultiUnicode:
    case storefile::kTypeMultiString8: {
      std::vector<QByteArray> parts;
      if (!item_->MultiData(index, parts)) return false;
      QString joined;
      for (const QByteArray& part : parts) {
        if (!joined.isEmpty()) joined += QStringLiteral(", ");
        joined += type == storefile::kTypeMultiUnicode ? storefile::DecodeUtf16(part)
                                                       : storefile::DecodeString8(part, CodePage());
      }
      value = joined;
      return true;
    }
    case storefile::kTypeTime: {
      uint64_t time = 0;
      if (!item_->FileTime(index, time)) return false;
      value = DateText(time);
      return true;
    }
    case storefile::kTypeInt16:
    case storefile::kTypeInt32:
    case kTypeInt64:
    case kTypeDouble:
      if (SlotIsNamed(slot)) {
        if (!value.isEmpty()) value.resize(0);
        if (leniency_) skipped_ = type;
        return true;
      }
      // A number where text is wanted (a phone number kept as an integer by another program):
      // its decimal text.
      return ReadNumber(index, type, value);
    default:
      // A type no text field can take: the field is left out (and told of), not the entry.
      if (!value.isEmpty()) value.resize(0);
      skipped_ = type;
      return leniency_;
  }
}

bool FileContactEntry::ReadNumber(int index, uint32_t type, QString& value) const {
  if (type == storefile::kTypeInt16 || type == storefile::kTypeInt32) {
    int32_t n = 0;
    if (!(type == storefile::kTypeInt16 ? item_->Int16(index, n) : item_->Int32(index, n)))
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

bool FileContactEntry::ReadDate(int localSlot, int utcSlot, QString& value) const {
  for (int slot : {localSlot, utcSlot}) {
    const int index = index_[static_cast<size_t>(slot)];
    if (index < 0 || types_[static_cast<size_t>(slot)] != storefile::kTypeTime) continue;
    uint64_t time = 0;
    if (!item_->FileTime(index, time)) return false;
    value = DateText(time);
    return true;
  }
  if (Has(utcSlot)) return false;  // present with a type a date never has
  value.clear();
  return true;
}

bool FileContactEntry::ReadEmail(int slot, QString& value) const {
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

bool FileContactEntry::ReadBody(QString& notes, QString* why) const {
  if (!ReadText(kBody, notes)) {  // the plain body, into the room `notes` has
    if (why) *why = QStringLiteral("its notes cannot be read");
    return false;
  }
  const bool blank = std::all_of(notes.cbegin(), notes.cend(), [](QChar c) { return c.isSpace(); });
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
  if (types_[kRtfCompressed] != storefile::kTypeBinary || !item_->Data(rtfIndex, stored)) {
    reason = QStringLiteral("the value cannot be read");
  } else if (rtf::Decompress(stored, rtfText, reason)) {
    notes = rtf::ToText(rtfText);
    return true;
  }
  if (why) *why = QStringLiteral("its rich-text notes cannot be read (%1)").arg(reason);
  return false;
}

bool FileContactEntry::ReadList(int slot, QStringList& out) const {
  out.clear();
  const int index = index_[static_cast<size_t>(slot)];
  if (index < 0) return true;
  const uint32_t type = types_[static_cast<size_t>(slot)];
  if (type == storefile::kTypeUnicode || type == storefile::kTypeString8) {
    QString one;
    if (!ReadText(slot, one)) return false;
    if (!one.isEmpty()) out << one;
    return true;
  }
  if (type != storefile::kTypeMultiUnicode && type != storefile::kTypeMultiString8) {
    // A single value of another kind: as text where it is a number, else left out.
    QString one;
    if (!ReadText(slot, one)) return false;
    if (!one.isEmpty()) out << one;
    return true;
  }
  std::vector<QByteArray> parts;
  if (!item_->MultiData(index, parts)) return false;
  for (const QByteArray& part : parts) {
    QString value = type == storefile::kTypeMultiUnicode
                        ? storefile::DecodeUtf16(part)
                        : storefile::DecodeString8(part, CodePage());
    LinesInPlace(value);
    if (!value.isEmpty()) out << value;
  }
  return true;
}

bool FileContactEntry::ReadDay(int localSlot, int utcSlot, contact::Date& day) const {
  for (int slot : {localSlot, utcSlot}) {
    const int index = index_[static_cast<size_t>(slot)];
    if (index < 0) continue;
    uint64_t time = 0;
    if (types_[static_cast<size_t>(slot)] != storefile::kTypeTime) {
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

bool FileContactEntry::ReadEmailEntry(int n, contact::Email& email) const {
  if (!ReadText(kEmail1Address + n, email.address) ||
      !ReadText(kEmail1AddressType + n, email.type) ||
      !ReadText(kEmail1DisplayName + n, email.displayName))
    return false;
  // The original display text: the display name too where the entry has none of its own. Read
  // straight into the text it ends up in, or one whose room is kept from one entry to the next.
  thread_local QString originalDisplay;
  QString& original = email.displayName.isEmpty() ? email.displayName : originalDisplay;
  if (!ReadText(kEmail1OriginalDisplayName + n, original)) return false;
  if (email.type.compare(u"EX", Qt::CaseInsensitive) != 0) return true;
  QString smtp = SmtpFromDisplay(original);
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

void FileContactEntry::UidInto(QString& uid) const {
  static constexpr UuidBytes kNamespace = {0x3f, 0x0f, 0x9c, 0x52, 0x6a, 0x0e, 0x4c, 0x1b,
                                           0x9b, 0x7e, 0x3a, 0x5c, 0x2d, 0x8e, 0x4f, 0x61};
  // Without the store's record key (its own properties cannot be read, which the store's damage
  // tells), the entry's own search key and creation time stand in its place: what the entry
  // itself holds, the same wherever the file lies.
  QByteArray own;
  if (state_->recordKey.isEmpty()) {
    constexpr uint32_t kTagSearchKey = 0x300B;
    constexpr uint32_t kTagCreationTime = 0x3007;
    for (uint32_t tag : {kTagSearchKey, kTagCreationTime}) {
      QByteArray value;
      const int index = item_->Find(tag);
      if (index >= 0) item_->Data(index, value);
      own += value;
    }
  }
  const QByteArray& key = state_->recordKey.isEmpty() ? own : state_->recordKey;
  // The entry id: four flag bytes (zero), the store's record key, the node id (little-endian).
  QVarLengthArray<char, 64> id(8 + key.size());
  std::memset(id.data(), 0, 4);
  std::memcpy(id.data() + 4, key.constData(), static_cast<size_t>(key.size()));
  const uint32_t nid = item_->Id();
  for (int i = 0; i < 4; ++i) id[4 + key.size() + i] = static_cast<char>((nid >> (8 * i)) & 0xFF);
  NameUuidInto(uid, kNamespace, QByteArrayView(id.data(), id.size()));
}

}  // namespace lumivex::backend
