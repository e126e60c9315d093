// The libpff reader behind storefile::StoreFile, the second opinion: every store our own reader
// leaves aside (a damaged header or node tree, a store version it does not know) is read here.
#include "source/MailStore.h"
#include "source/StoreFileReaders.h"

#include <QFile>

#include <libpff.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace lumivex::storefile::detail {

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

// One opened item with the properties of its first record set.
class LibpffItem : public ItemImpl {
 public:
  explicit LibpffItem(libpff_item_t* item) : item_(item) {
    libpff_error_t* error = nullptr;
    int sets = 0;
    if (libpff_item_get_number_of_record_sets(item_, &sets, &error) == 1 && sets > 0 &&
        libpff_item_get_record_set_by_index(item_, 0, &recordSet_, &error) == 1) {
      int count = 0;
      if (libpff_record_set_get_number_of_entries(recordSet_, &count, &error) == 1)
        entryCount_ = count;
    }
    Drop(error);
  }
  ~LibpffItem() override {
    libpff_error_t* error = nullptr;
    if (recordSet_ != nullptr) libpff_record_set_free(&recordSet_, &error);
    Drop(error);
    if (item_ != nullptr) libpff_item_free(&item_, &error);
    Drop(error);
  }
  LibpffItem(const LibpffItem&) = delete;
  LibpffItem& operator=(const LibpffItem&) = delete;

  libpff_record_set_t* RecordSet() const { return recordSet_; }

  uint32_t Id() const override {
    uint32_t id = 0;
    libpff_error_t* error = nullptr;
    if (libpff_item_get_identifier(item_, &id, &error) != 1) id = 0;
    Drop(error);
    return id;
  }

  int SubFolderCount() override { return Count(libpff_folder_get_number_of_sub_folders); }
  std::unique_ptr<ItemImpl> SubFolder(int index, QString& why) override {
    return Child(libpff_folder_get_sub_folder, index, why);
  }
  int MessageCount() override { return Count(libpff_folder_get_number_of_sub_messages); }
  std::unique_ptr<ItemImpl> Message(int index, QString& why) override {
    return Child(libpff_folder_get_sub_message, index, why);
  }

  int AttachmentCount() override {
    int n = 0;
    libpff_error_t* error = nullptr;
    if (libpff_message_get_number_of_attachments(item_, &n, &error) != 1) n = -1;
    Drop(error);
    return n;
  }
  std::unique_ptr<ItemImpl> Attachment(int index, QString& why) override {
    return Child(libpff_message_get_attachment, index, why);
  }

  int PropertyCount() const override { return entryCount_; }

  bool PropertyTag(int index, uint32_t& id, uint32_t& valueType) const override {
    Entry entry(recordSet_, index);
    if (!entry) return false;
    return libpff_record_entry_get_entry_type(entry.get(), &id, entry.error()) == 1 &&
           libpff_record_entry_get_value_type(entry.get(), &valueType, entry.error()) == 1;
  }

  int Find(uint32_t id) const override {
    for (int i = 0; i < entryCount_; ++i) {
      uint32_t entryId = 0, type = 0;
      if (PropertyTag(i, entryId, type) && entryId == id) return i;
    }
    return -1;
  }

  bool Data(int index, QByteArray& out) const override {
    Entry entry(recordSet_, index);
    if (!entry) return false;
    size_t size = 0;
    if (libpff_record_entry_get_data_size(entry.get(), &size, entry.error()) != 1) return false;
    out.resize(static_cast<qsizetype>(size));
    if (size == 0) return true;
    return libpff_record_entry_get_data(entry.get(), reinterpret_cast<uint8_t*>(out.data()), size,
                                        entry.error()) == 1;
  }

  bool Int32(int index, int32_t& value) const override {
    Entry entry(recordSet_, index);
    uint32_t raw = 0;
    if (!entry ||
        libpff_record_entry_get_data_as_32bit_integer(entry.get(), &raw, entry.error()) != 1)
      return false;
    value = static_cast<int32_t>(raw);
    return true;
  }

  bool FileTime(int index, uint64_t& value) const override {
    Entry entry(recordSet_, index);
    return entry &&
           libpff_record_entry_get_data_as_filetime(entry.get(), &value, entry.error()) == 1;
  }

 private:
  // A folder's count of sub-folders or of messages; -1 when it cannot be read.
  int Count(int (*count)(libpff_item_t*, int*, libpff_error_t**)) const {
    int n = -1;
    libpff_error_t* error = nullptr;
    if (count(item_, &n, &error) != 1) n = -1;
    Drop(error);
    return n;
  }

  // A folder's sub-folder or message at `index`; null with libpff's cause in `why`.
  std::unique_ptr<ItemImpl> Child(int (*get)(libpff_item_t*, int, libpff_item_t**,
                                             libpff_error_t**),
                                  int index, QString& why) const {
    libpff_item_t* child = nullptr;
    libpff_error_t* error = nullptr;
    if (get(item_, index, &child, &error) != 1) {
      why = Detail(error);
      return nullptr;
    }
    return std::make_unique<LibpffItem>(child);
  }

  libpff_item_t* item_ = nullptr;
  libpff_record_set_t* recordSet_ = nullptr;  // borrowed from the item
  int entryCount_ = -1;
};

class LibpffFile : public FileImpl {
 public:
  ~LibpffFile() override {
    if (watch_ >= 0) ::close(watch_);
    libpff_error_t* error = nullptr;
    if (open_) libpff_file_close(file_, &error);
    Drop(error);
    if (file_ != nullptr) libpff_file_free(&file_, &error);
    Drop(error);
  }

  void Open(const QString& path) {
    libpff_error_t* error = nullptr;
    if (libpff_file_initialize(&file_, &error) != 1) {
      throw StoreError(QStringLiteral("Cannot open %1: the reader could not start%2")
                           .arg(path, Detail(error))
                           .toStdString());
    }
    const QByteArray native = QFile::encodeName(path);
    // The file as libpff opens it, to tell later whether it changed under the reading.
    watch_ = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (watch_ >= 0 && ::fstat(watch_, &info) == 0 && S_ISREG(info.st_mode)) {
      size_ = info.st_size;
      modified_ = info.st_mtim;
    } else if (watch_ >= 0) {
      ::close(watch_);
      watch_ = -1;
    }
    if (libpff_file_open(file_, native.constData(), LIBPFF_OPEN_READ, &error) != 1) {
      throw StoreError(
          QStringLiteral("Cannot open %1: the file is damaged or truncated and cannot be read%2")
              .arg(path, Detail(error))
              .toStdString());
    }
    open_ = true;
    uint8_t type = 0;
    if (libpff_file_get_type(file_, &type, &error) == 1) unicode_ = type != LIBPFF_FILE_TYPE_32BIT;
    Drop(error);
    uint8_t content = 0;
    if (libpff_file_get_content_type(file_, &content, &error) == 1)
      offline_ = content == LIBPFF_FILE_CONTENT_TYPE_OST;
    Drop(error);
  }

  const char* ReaderName() const override { return "libpff"; }
  // libpff reads with read(): a file that shrinks gives it short reads, never a signal. It keeps
  // no watch of its own, so the file is looked at whenever asked, with or without `ask`.
  bool Changed(bool) override {
    if (changed_.load(std::memory_order_relaxed) || watch_ < 0) return changed_;
    struct stat info {};
    if (::fstat(watch_, &info) != 0 || info.st_size != size_ ||
        info.st_mtim.tv_sec != modified_.tv_sec || info.st_mtim.tv_nsec != modified_.tv_nsec)
      changed_.store(true, std::memory_order_relaxed);
    return changed_;
  }
  bool Unicode() const override { return unicode_; }
  bool Offline() const override { return offline_; }

  std::unique_ptr<ItemImpl> RootFolder(QString& why) override {
    libpff_item_t* item = nullptr;
    libpff_error_t* error = nullptr;
    if (libpff_file_get_root_folder(file_, &item, &error) != 1) {
      why = Detail(error);
      return nullptr;
    }
    return std::make_unique<LibpffItem>(item);
  }

  std::unique_ptr<ItemImpl> MessageStore() override {
    libpff_item_t* item = nullptr;
    libpff_error_t* error = nullptr;
    if (libpff_file_get_message_store(file_, &item, &error) != 1) {
      Drop(error);
      return nullptr;
    }
    return std::make_unique<LibpffItem>(item);
  }

  std::unique_ptr<ItemImpl> ItemById(uint32_t id) override {
    libpff_item_t* item = nullptr;
    libpff_error_t* error = nullptr;
    if (libpff_file_get_item_by_identifier(file_, id, &item, &error) != 1) {
      Drop(error);
      return nullptr;
    }
    return std::make_unique<LibpffItem>(item);
  }

  std::unique_ptr<NamedKey> Named(uint32_t, const ItemImpl& item, int index) override {
    Entry entry(static_cast<const LibpffItem&>(item).RecordSet(), index);
    if (!entry) return nullptr;
    libpff_error_t* error = nullptr;
    std::unique_ptr<NamedKey> key;
    libpff_name_to_id_map_entry_t* mapEntry = nullptr;
    if (libpff_record_entry_get_name_to_id_map_entry(entry.get(), &mapEntry, &error) == 1 &&
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
    return key;
  }

 private:
  libpff_file_t* file_ = nullptr;
  bool open_ = false;
  bool unicode_ = true;
  bool offline_ = false;
  int watch_ = -1;  // the file, looked at by Changed
  off_t size_ = 0;
  timespec modified_{};
  std::atomic<bool> changed_ = false;
};

}  // namespace

std::unique_ptr<FileImpl> OpenWithLibpff(const QString& path) {
  auto file = std::make_unique<LibpffFile>();
  file->Open(path);
  return file;
}

}  // namespace lumivex::storefile::detail
