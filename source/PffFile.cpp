#include "source/PffFile.h"

#include "common/CodePage.h"
#include "source/MailStore.h"

#include <QFile>
#include <QFileInfo>

#include <libpff.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace lumivex::pff {

namespace {

// libpff reports an error as a chain of messages, the innermost (the actual cause) first, each
// after the name of the function that gave it. The cause is kept, without the function's name:
// "mismatch in file header checksum ( 1112305074 != 878840917 )".
std::string TakeError(libpff_error_t*& error) {
  std::string text;
  if (error != nullptr) {
    char buffer[16384] = {};  // a backtrace runs to a few dozen lines
    if (libpff_error_backtrace_sprint(error, buffer, sizeof buffer) > 0) text = buffer;
    libpff_error_free(&error);
  }
  const auto firstLineEnd = text.find('\n');
  if (firstLineEnd != std::string::npos) text.erase(firstLineEnd);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  const auto colon = text.find(": ");
  if (text.starts_with("lib") && colon != std::string::npos &&
      text.find(' ') == colon + 1)  // "libpff_name: cause": the name is one word
    text.erase(0, colon + 2);
  return text;
}

// The cause in brackets after a message, " (cause)"; nothing when libpff gave none.
QString Detail(libpff_error_t*& error) {
  const std::string cause = TakeError(error);
  return cause.empty() ? QString() : QStringLiteral(" (%1)").arg(QString::fromStdString(cause));
}

void Drop(libpff_error_t*& error) {
  if (error != nullptr) libpff_error_free(&error);
}

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
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    Fail(path, QStringLiteral("the file cannot be read (%1); check its permissions")
                   .arg(file.errorString()));
  }
  if (file.size() == 0)
    Fail(path, QStringLiteral("the file is empty; it is not an Outlook data file"));
  char magic[4] = {};
  if (file.read(magic, 4) != 4 || std::memcmp(magic, "!BDN", 4) != 0) {
    Fail(path, QStringLiteral("not an Outlook data file (.pst or .ost)"));
  }
}

}  // namespace

struct File::Handles {
  libpff_file_t* file = nullptr;
  bool open = false;
  ~Handles() {
    libpff_error_t* error = nullptr;
    if (open) libpff_file_close(file, &error);
    Drop(error);
    if (file != nullptr) libpff_file_free(&file, &error);
    Drop(error);
  }
};

struct Item::Handles {
  libpff_item_t* item = nullptr;
  libpff_record_set_t* recordSet = nullptr;  // borrowed from the item
  int entryCount = -1;
  ~Handles() {
    libpff_error_t* error = nullptr;
    if (recordSet != nullptr) libpff_record_set_free(&recordSet, &error);
    Drop(error);
    if (item != nullptr) libpff_item_free(&item, &error);
    Drop(error);
  }
};

std::shared_ptr<File> File::Open(const QString& path) {
  CheckReadable(path);
  std::shared_ptr<File> file(new File());
  file->path_ = path;
  file->handles_ = std::make_unique<Handles>();
  libpff_error_t* error = nullptr;
  if (libpff_file_initialize(&file->handles_->file, &error) != 1) {
    Fail(path, QStringLiteral("the reader could not start%1").arg(Detail(error)));
  }
  const QByteArray native = QFile::encodeName(path);
  if (libpff_file_open(file->handles_->file, native.constData(), LIBPFF_OPEN_READ, &error) != 1) {
    Fail(
        path,
        QStringLiteral("the file is damaged or truncated and cannot be read%1").arg(Detail(error)));
  }
  file->handles_->open = true;
  uint8_t type = 0;
  if (libpff_file_get_type(file->handles_->file, &type, &error) == 1)
    file->unicode_ = type != LIBPFF_FILE_TYPE_32BIT;
  Drop(error);
  uint8_t content = 0;
  if (libpff_file_get_content_type(file->handles_->file, &content, &error) == 1)
    file->offline_ = content == LIBPFF_FILE_CONTENT_TYPE_OST;
  Drop(error);
  return file;
}

File::~File() = default;

std::unique_ptr<Item> File::RootFolder() {
  auto handles = std::make_unique<Item::Handles>();
  libpff_error_t* error = nullptr;
  if (libpff_file_get_root_folder(handles_->file, &handles->item, &error) != 1) {
    Fail(path_, QStringLiteral("its folder tree cannot be read; the file is damaged or truncated%1")
                    .arg(Detail(error)));
  }
  return std::unique_ptr<Item>(new Item(shared_from_this(), std::move(handles)));
}

std::unique_ptr<Item> File::MessageStore() {
  auto handles = std::make_unique<Item::Handles>();
  libpff_error_t* error = nullptr;
  if (libpff_file_get_message_store(handles_->file, &handles->item, &error) != 1) {
    Drop(error);
    return nullptr;
  }
  return std::unique_ptr<Item>(new Item(shared_from_this(), std::move(handles)));
}

std::unique_ptr<Item> File::ItemById(uint32_t id) {
  auto handles = std::make_unique<Item::Handles>();
  libpff_error_t* error = nullptr;
  if (libpff_file_get_item_by_identifier(handles_->file, id, &handles->item, &error) != 1) {
    Drop(error);
    return nullptr;
  }
  return std::unique_ptr<Item>(new Item(shared_from_this(), std::move(handles)));
}

const NamedKey* File::Named(uint32_t localId, const Item& item, int entryIndex) {
  auto found = named_.find(localId);
  if (found != named_.end()) return found->second.get();
  libpff_error_t* error = nullptr;
  libpff_record_entry_t* entry = nullptr;
  if (item.handles_->recordSet == nullptr ||
      libpff_record_set_get_entry_by_index(item.handles_->recordSet, entryIndex, &entry, &error) !=
          1) {
    Drop(error);
    return nullptr;
  }
  std::unique_ptr<NamedKey> key;
  libpff_name_to_id_map_entry_t* mapEntry = nullptr;
  if (libpff_record_entry_get_name_to_id_map_entry(entry, &mapEntry, &error) == 1 &&
      mapEntry != nullptr) {
    key = std::make_unique<NamedKey>();
    uint8_t kind = 0;
    bool ok = libpff_name_to_id_map_entry_get_type(mapEntry, &kind, &error) == 1 &&
              libpff_name_to_id_map_entry_get_guid(mapEntry, key->guid.data(), key->guid.size(),
                                                   &error) == 1;
    if (ok && kind == LIBPFF_NAME_TO_ID_MAP_ENTRY_TYPE_STRING) {
      key->byName = true;
      size_t size = 0;
      ok = libpff_name_to_id_map_entry_get_utf8_string_size(mapEntry, &size, &error) == 1;
      if (ok && size > 0) {
        std::string name(size, '\0');
        ok = libpff_name_to_id_map_entry_get_utf8_string(
                 mapEntry, reinterpret_cast<uint8_t*>(name.data()), size, &error) == 1;
        key->name = QString::fromUtf8(name.c_str());
      }
    } else if (ok) {
      ok = libpff_name_to_id_map_entry_get_number(mapEntry, &key->number, &error) == 1;
    }
    if (!ok) key.reset();
    // The map entry belongs to the file's name-to-id map; it is not freed here.
  }
  Drop(error);
  libpff_record_entry_free(&entry, &error);
  Drop(error);
  // An unresolvable id is remembered too, so that it is not asked again for every item.
  return named_.emplace(localId, std::move(key)).first->second.get();
}

Item::Item(std::shared_ptr<File> file, std::unique_ptr<Handles> handles)
    : file_(std::move(file)), handles_(std::move(handles)) {
  libpff_error_t* error = nullptr;
  int sets = 0;
  if (libpff_item_get_number_of_record_sets(handles_->item, &sets, &error) == 1 && sets > 0 &&
      libpff_item_get_record_set_by_index(handles_->item, 0, &handles_->recordSet, &error) == 1) {
    int count = 0;
    if (libpff_record_set_get_number_of_entries(handles_->recordSet, &count, &error) == 1)
      handles_->entryCount = count;
  }
  Drop(error);
}

Item::~Item() {
  handles_.reset();  // before file_, which may be the last owner of the file
}

uint32_t Item::Id() const {
  uint32_t id = 0;
  libpff_error_t* error = nullptr;
  if (libpff_item_get_identifier(handles_->item, &id, &error) != 1) id = 0;
  Drop(error);
  return id;
}

int Item::SubFolderCount() const {
  int count = -1;
  libpff_error_t* error = nullptr;
  if (libpff_folder_get_number_of_sub_folders(handles_->item, &count, &error) != 1) count = -1;
  Drop(error);
  return count;
}

std::unique_ptr<Item> Item::SubFolder(int index) const {
  auto handles = std::make_unique<Handles>();
  libpff_error_t* error = nullptr;
  if (libpff_folder_get_sub_folder(handles_->item, index, &handles->item, &error) != 1) {
    throw StoreError(QStringLiteral("Cannot read folder %1 of %2%3")
                         .arg(index + 1)
                         .arg(file_->Path(), Detail(error))
                         .toStdString());
  }
  return std::unique_ptr<Item>(new Item(file_, std::move(handles)));
}

int Item::MessageCount() const {
  int count = -1;
  libpff_error_t* error = nullptr;
  if (libpff_folder_get_number_of_sub_messages(handles_->item, &count, &error) != 1) count = -1;
  Drop(error);
  return count;
}

std::unique_ptr<Item> Item::Message(int index) const {
  auto handles = std::make_unique<Handles>();
  libpff_error_t* error = nullptr;
  if (libpff_folder_get_sub_message(handles_->item, index, &handles->item, &error) != 1) {
    throw StoreError(QStringLiteral("Cannot read entry %1 of %2%3")
                         .arg(index + 1)
                         .arg(file_->Path(), Detail(error))
                         .toStdString());
  }
  return std::unique_ptr<Item>(new Item(file_, std::move(handles)));
}

int Item::PropertyCount() const {
  return handles_->entryCount;
}

namespace {

// A record entry of `set`, freed (released to its item) when it goes out of scope.
class Entry {
 public:
  Entry(libpff_record_set_t* set, int index) {
    if (set == nullptr || index < 0 ||
        libpff_record_set_get_entry_by_index(set, index, &entry_, &error_) != 1) {
      entry_ = nullptr;
    }
  }
  ~Entry() {
    if (entry_ != nullptr) libpff_record_entry_free(&entry_, &error_);
    Drop(error_);
  }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;
  explicit operator bool() const { return entry_ != nullptr; }
  libpff_record_entry_t* get() const { return entry_; }
  libpff_error_t** error() { return &error_; }

 private:
  libpff_record_entry_t* entry_ = nullptr;
  libpff_error_t* error_ = nullptr;
};

}  // namespace

bool Item::PropertyTag(int index, uint32_t& id, uint32_t& valueType) const {
  Entry entry(handles_->recordSet, index);
  if (!entry) return false;
  return libpff_record_entry_get_entry_type(entry.get(), &id, entry.error()) == 1 &&
         libpff_record_entry_get_value_type(entry.get(), &valueType, entry.error()) == 1;
}

int Item::Find(uint32_t id) const {
  for (int i = 0; i < handles_->entryCount; ++i) {
    uint32_t entryId = 0, type = 0;
    if (PropertyTag(i, entryId, type) && entryId == id) return i;
  }
  return -1;
}

bool Item::Data(int index, QByteArray& out) const {
  Entry entry(handles_->recordSet, index);
  if (!entry) return false;
  size_t size = 0;
  if (libpff_record_entry_get_data_size(entry.get(), &size, entry.error()) != 1) return false;
  out.resize(static_cast<qsizetype>(size));
  if (size == 0) return true;
  return libpff_record_entry_get_data(entry.get(), reinterpret_cast<uint8_t*>(out.data()), size,
                                      entry.error()) == 1;
}

bool Item::Int32(int index, int32_t& value) const {
  Entry entry(handles_->recordSet, index);
  uint32_t raw = 0;
  if (!entry ||
      libpff_record_entry_get_data_as_32bit_integer(entry.get(), &raw, entry.error()) != 1)
    return false;
  value = static_cast<int32_t>(raw);
  return true;
}

bool Item::FileTime(int index, uint64_t& value) const {
  Entry entry(handles_->recordSet, index);
  return entry && libpff_record_entry_get_data_as_filetime(entry.get(), &value, entry.error()) == 1;
}

// Multi-valued strings are stored as a count, one 32-bit offset per value, then the values end
// to end. They are split here: libpff's own multi-value reader finds no values in some stores.
bool Item::MultiData(int index, std::vector<QByteArray>& out) const {
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

QString Item::Text(uint32_t id, int codePage) const {
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
  qsizetype units = bytes.size() / 2;
  const auto* data = reinterpret_cast<const uchar*>(bytes.data());
  while (units > 0 && data[2 * units - 2] == 0 && data[2 * units - 1] == 0) --units;
  QString text(units, Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  for (qsizetype i = 0; i < units; ++i)
    out[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return text;
}

}  // namespace lumivex::pff
