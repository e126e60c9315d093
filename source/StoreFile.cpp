#include "source/StoreFile.h"

#include "common/CodePage.h"
#include "source/MailStore.h"
#include "source/StoreFileReaders.h"

#include <QFile>
#include <QFileInfo>

#include <bit>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

namespace lumivex::storefile {

namespace {

[[noreturn]] void Fail(const QString& path, const QString& why) {
  throw StoreError(QStringLiteral("Cannot open %1: %2").arg(path, why).toStdString());
}

// Reasons a path cannot be a store, found before libpff is asked.
void CheckReadable(const QString& path) {
  const QFileInfo info(path);
  if (path.isEmpty()) Fail(QStringLiteral("the store"), QStringLiteral("no file was named"));
  if (!info.exists()) Fail(path, QStringLiteral("no such file; check the path"));
  if (info.isDir())
    Fail(path, QStringLiteral("it is a folder; name a .pst or .ost file inside it"));
  // Only a file (or a disk holding one) is a store: opening a pipe waits for a writer that
  // never comes, and a terminal or /dev/zero reads without end.
  struct stat status {};
  if (::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode) &&
      !S_ISBLK(status.st_mode)) {
    const char* kind = S_ISFIFO(status.st_mode)   ? "a pipe (FIFO), not a file"
                       : S_ISCHR(status.st_mode)  ? "a device, not a file"
                       : S_ISSOCK(status.st_mode) ? "a socket, not a file"
                                                  : "not a regular file";
    Fail(path, QStringLiteral("it is %1; name a .pst or .ost file").arg(QLatin1String(kind)));
  }
  const bool disk = S_ISBLK(status.st_mode);  // a disk's size is not in its file status
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    Fail(path, QStringLiteral("the file cannot be read (%1); check its permissions")
                   .arg(file.errorString()));
  }
  if (!disk && file.size() == 0)
    Fail(path, QStringLiteral("the file is empty; it is not an Outlook data file"));
  char magic[4] = {};
  if (file.read(magic, 4) != 4 || std::memcmp(magic, "!BDN", 4) != 0) {
    Fail(path, QStringLiteral("not an Outlook data file (.pst or .ost)"));
  }
}

// Whether the environment sends every file to libpff (LUMIVEX_PST_READER=libpff).
bool LibpffRequested() {
  const char* reader = std::getenv("LUMIVEX_PST_READER");
  return reader != nullptr && std::strcmp(reader, "libpff") == 0;
}

}  // namespace

std::shared_ptr<StoreFile> StoreFile::Open(const QString& path, ReaderChoice choice) {
  CheckReadable(path);
  std::shared_ptr<StoreFile> file(new StoreFile());
  file->path_ = path;
  QString declined;
  bool damaged = false;
  if (choice == ReaderChoice::kOwn || (choice == ReaderChoice::kAutomatic && !LibpffRequested())) {
    file->impl_ = detail::OpenWithPstReader(path, declined, &damaged);
    if (!file->impl_ && choice == ReaderChoice::kOwn) Fail(path, declined);
  }
  if (file->impl_) return file;
  file->impl_ = detail::OpenWithLibpff(path);
  if (damaged) {
    // libpff reads past damage our reader stops at, and what it gives may then lack fields or
    // hold another entry's values: the hand-over is told, then whatever its reading shows.
    file->damage_ << QStringLiteral(
                         "the store is damaged (%1), so it was read by libpff instead, whose "
                         "reading may lack fields or give one entry another's values")
                         .arg(declined);
    QString again;
    const auto own = detail::OpenWithPstReader(path, again, nullptr, false);
    file->damage_ << detail::CompareReadings(*file->impl_, own.get());
  }
  return file;
}

StoreFile::~StoreFile() = default;

bool StoreFile::IsOffline() const {
  return impl_->Offline();
}

bool StoreFile::IsUnicode() const {
  return impl_->Unicode();
}

const char* StoreFile::ReaderName() const {
  return impl_->ReaderName();
}

bool StoreFile::Concurrent() const {
  return impl_->Concurrent();
}

bool StoreFile::Changed(bool ask) {
  return impl_->Changed(ask);
}

std::unique_ptr<StoreItem> StoreFile::RootFolder() {
  QString why;
  auto item = impl_->RootFolder(why);
  if (!item) {
    Fail(path_, QStringLiteral("its folder tree cannot be read; the file is damaged or truncated%1")
                    .arg(why));
  }
  return std::unique_ptr<StoreItem>(new StoreItem(shared_from_this(), std::move(item)));
}

std::unique_ptr<StoreItem> StoreFile::MessageStore() {
  auto item = impl_->MessageStore();
  if (!item) return nullptr;
  return std::unique_ptr<StoreItem>(new StoreItem(shared_from_this(), std::move(item)));
}

std::unique_ptr<StoreItem> StoreFile::ItemById(uint32_t id) {
  auto item = impl_->ItemById(id);
  if (!item) return nullptr;
  return std::unique_ptr<StoreItem>(new StoreItem(shared_from_this(), std::move(item)));
}

const NamedKey* StoreFile::Named(uint32_t localId, const StoreItem& item, int entryIndex) {
  auto found = named_.find(localId);
  if (found != named_.end()) return found->second.get();
  // An unresolvable id is remembered too, so that it is not asked again for every item.
  return named_.emplace(localId, impl_->Named(localId, *item.impl_, entryIndex))
      .first->second.get();
}

const QString& StoreFile::NameMapFailure() {
  if (!nameMapFailure_) nameMapFailure_ = impl_->NameMapFailure();
  return *nameMapFailure_;
}

StoreItem::StoreItem(std::shared_ptr<StoreFile> file, std::unique_ptr<detail::ItemImpl> impl)
    : file_(std::move(file)), impl_(std::move(impl)) {}

StoreItem::~StoreItem() {
  impl_.reset();  // before file_, which may be the last owner of the file
}

uint32_t StoreItem::Id() const {
  return impl_->Id();
}

int StoreItem::SubFolderCount() const {
  return impl_->SubFolderCount();
}

std::unique_ptr<StoreItem> StoreItem::SubFolder(int index) const {
  QString why;
  return Child(impl_->SubFolder(index, why), "folder", index, why);
}

int StoreItem::MessageCount() const {
  return impl_->MessageCount();
}

std::unique_ptr<StoreItem> StoreItem::Message(int index) const {
  QString why;
  return Child(impl_->Message(index, why), "entry", index, why);
}

std::vector<uint64_t> StoreItem::MessageDataBlocks() const {
  return impl_->MessageDataBlocks();
}

int StoreItem::AttachmentCount() const {
  return impl_->AttachmentCount();
}

std::unique_ptr<StoreItem> StoreItem::Attachment(int index) const {
  QString why;
  return Child(impl_->Attachment(index, why), "attachment", index, why);
}

std::unique_ptr<StoreItem> StoreItem::TryMessage(int index, QString& why) const {
  QString cause;
  auto child = impl_->Message(index, cause);
  if (!child) {
    // The reader gives its cause in brackets: " (cause)".
    cause = cause.trimmed();
    if (cause.startsWith(u'(') && cause.endsWith(u')')) cause = cause.mid(1, cause.size() - 2);
    why = cause.isEmpty() ? QStringLiteral("the entry cannot be opened") : cause;
    return nullptr;
  }
  return std::unique_ptr<StoreItem>(new StoreItem(file_, std::move(child)));
}

std::unique_ptr<StoreItem> StoreItem::Child(std::unique_ptr<detail::ItemImpl> child,
                                            const char* what, int index, const QString& why) const {
  if (!child) {
    throw StoreError(QStringLiteral("Cannot read %1 %2 of %3%4")
                         .arg(QLatin1String(what))
                         .arg(index + 1)
                         .arg(file_->Path(), why)
                         .toStdString());
  }
  return std::unique_ptr<StoreItem>(new StoreItem(file_, std::move(child)));
}

int StoreItem::PropertyCount() const {
  return impl_->PropertyCount();
}

bool StoreItem::PropertyTag(int index, uint32_t& id, uint32_t& valueType) const {
  return impl_->PropertyTag(index, id, valueType);
}

int StoreItem::Find(uint32_t id) const {
  return impl_->Find(id);
}

bool StoreItem::Data(int index, QByteArray& out) const {
  return impl_->Data(index, out);
}

bool StoreItem::View(int index, QByteArrayView& out) const {
  return impl_->View(index, out);
}

bool StoreItem::Views(std::span<QByteArrayView> out) const {
  return static_cast<int>(out.size()) == impl_->PropertyCount() && impl_->Views(out);
}

bool StoreItem::Int32(int index, int32_t& value) const {
  return impl_->Int32(index, value);
}

bool StoreItem::FileTime(int index, uint64_t& value) const {
  return impl_->FileTime(index, value);
}

QString StoreItem::Failure() const {
  return impl_->Failure();
}

bool StoreItem::Int16(int index, int32_t& value) const {
  uint32_t id = 0, type = 0;
  QByteArray raw;
  if (!PropertyTag(index, id, type) || (type != kTypeInt16 && type != kTypeBoolean) ||
      !Data(index, raw) || raw.isEmpty())
    return false;
  // Both readers give the value's own bytes (one for a boolean, two for a 16-bit integer), or
  // the four bytes of the property's record, little-endian either way.
  const auto* b = reinterpret_cast<const uchar*>(raw.constData());
  value = type == kTypeBoolean ? (b[0] != 0 ? 1 : 0)
                               : static_cast<int16_t>(b[0] | (raw.size() > 1 ? b[1] << 8 : 0));
  return true;
}

// Multi-valued strings and binaries are stored as a count, one 32-bit offset per value, then the
// values end to end. They are split here: libpff's own multi-value reader finds no values in some
// stores.
bool StoreItem::MultiData(int index, std::vector<QByteArray>& out) const {
  QByteArray raw;
  if (!Data(index, raw)) return false;
  out.clear();
  if (raw.isEmpty()) return true;
  auto u32 = [&raw](qsizetype at) {
    const auto* b = reinterpret_cast<const uchar*>(raw.constData() + at);
    return static_cast<qsizetype>(b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24));
  };
  if (raw.size() < 4) return false;
  const qsizetype count = u32(0);
  if (count < 0 || count > (raw.size() - 4) / 4) return false;
  for (qsizetype i = 0; i < count; ++i) {
    const qsizetype begin = u32(4 + 4 * i);
    const qsizetype end = i + 1 < count ? u32(4 + 4 * (i + 1)) : raw.size();
    if (begin < 4 + 4 * count || end < begin || end > raw.size()) return false;
    out.push_back(raw.mid(begin, end - begin));
  }
  return true;
}

QString StoreItem::Text(uint32_t id, int codePage) const {
  const int index = Find(id);
  uint32_t entryId = 0, type = 0;
  QByteArray bytes;
  if (index < 0 || !PropertyTag(index, entryId, type) || !Data(index, bytes)) return {};
  if (type == kTypeUnicode) return DecodeUtf16(bytes);
  if (type == kTypeString8) return DecodeString8(bytes, codePage);
  return {};
}

QString DecodeString8(QByteArrayView bytes, int codePage) {
  while (!bytes.isEmpty() && bytes.back() == '\0') bytes.chop(1);
  if (bytes.isEmpty()) return {};
  if (codePage == 65001) return QString::fromUtf8(bytes);
  if (codePage == 20127) return QString::fromLatin1(bytes);
  return FromAnsi(bytes, codePage);
}

QString DecodeUtf16(QByteArrayView bytes) {
  QString text;
  DecodeUtf16(bytes, text);
  return text;
}

void DecodeUtf16(QByteArrayView bytes, QString& text) {
  qsizetype units = bytes.size() / 2;
  const auto* data = reinterpret_cast<const uchar*>(bytes.data());
  while (units > 0 && data[2 * units - 2] == 0 && data[2 * units - 1] == 0) --units;
  if (units == 0) {
    text.resize(0);  // empty (not null), its room kept for the next value read into it
    return;
  }
  // Many fields hold the same value, or one as long, from one entry to the next (the message
  // class, a country): Qt's resize is a call, and a length that stays needs none.
  if (text.size() != units) text.resize(units);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, data, static_cast<size_t>(units) * 2);  // stored as the machine holds it
  } else {
    for (qsizetype i = 0; i < units; ++i)
      out[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
}

}  // namespace lumivex::storefile
