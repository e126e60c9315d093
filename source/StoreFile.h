// An open personal-folder file and its items. A StoreFile is an open .pst or .ost file; a
// StoreItem is one of its folders or messages, opened once and freed before its file. Callers get
// properties as plain values and never see which reader gave them.
//
// Two readers stand behind it. Our own reader (PstReader.h) reads every layout of .pst and .ost
// files in each of the format's encodings (none, compressible and high), a folder of 100,000
// entries in about the time libpff takes for a few thousand. libpff is the second opinion: it
// reads any file whose header or node tree our reader finds damaged (or whose version it does
// not know), so that libpff's own diagnosis is what the user sees. LUMIVEX_PST_READER=libpff in
// the environment sends every file to libpff.
//
// Ownership: every StoreItem holds a shared_ptr to its StoreFile, so a folder or an entry keeps
// the file open after the store, namespace and session that found it are gone. libpff is not
// thread-safe: a file it reads is used from one thread at a time. Our reader lets one thread at
// a time into the file by itself (Concurrent()), so that the entries of a folder can be read
// ahead on a thread of their own; StoreFile's own caches (Named, NameMapFailure) are still for one
// thread at a time.
#pragma once

#include "source/PstFormat.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace lumivex::storefile {

// The property value types the reader tells apart, by the format's numbers (PstFormat.h).
enum ValueType : uint32_t {
  kTypeInt16 = pst::kPtInt16,
  kTypeInt32 = pst::kPtInt32,
  kTypeBoolean = pst::kPtBoolean,
  kTypeString8 = pst::kPtString8,
  kTypeUnicode = pst::kPtString,
  kTypeTime = pst::kPtTime,
  kTypeBinary = pst::kPtBinary,
  kTypeMultiString8 = pst::kPtMultiFlag | pst::kPtString8,
  kTypeMultiUnicode = pst::kPtMultiFlag | pst::kPtString,
  kTypeMultiBinary = pst::kPtMultiFlag | pst::kPtBinary,
};

using Guid = std::array<uint8_t, 16>;

// What a named property (local id >= 0x8000) stands for: a property set and a number or a name.
struct NamedKey {
  Guid guid{};
  bool byName = false;
  uint32_t number = 0;
  QString name;
};

class StoreItem;

namespace detail {
class FileImpl;
class ItemImpl;
}  // namespace detail

// Why an entry read after its file changed cannot be read.
inline constexpr char kFileChangedText[] = "the store file changed or shrank while it was read";

// Which reader opens a file: the automatic choice above, or one of them only (for tests and
// benchmarks that compare the two).
enum class ReaderChoice { kAutomatic, kLibpff, kOwn };

class StoreFile : public std::enable_shared_from_this<StoreFile> {
 public:
  // Opens `path` for reading. Throws StoreError with a one-line reason; with kOwn, also when
  // our reader does not take the file.
  static std::shared_ptr<StoreFile> Open(const QString& path,
                                         ReaderChoice choice = ReaderChoice::kAutomatic);
  ~StoreFile();
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  const QString& Path() const { return path_; }
  bool IsOffline() const;  // an .ost (Exchange offline store)
  bool IsUnicode() const;  // 64-bit format: strings are UTF-16
  // "lumivex" or "libpff": the reader that took the file.
  const char* ReaderName() const;
  // Damage found on opening the file, one sentence each: our reader refused it and libpff read
  // it in its place (why, and that libpff's reading may lack fields), then where libpff's reading
  // differs from what our reader can still read of it. Empty for a file read whole.
  const QStringList& Damage() const { return damage_; }
  // Whether two threads may open items of the file and read their properties at once.
  bool Concurrent() const;
  // Whether the file changed or shrank since it was opened (a sync client, a backup or the mail
  // client wrote it, or cut it short): as far as the reader has found, or, with `ask`, looking
  // at the file now. Once it has, nothing read from it can be trusted. Any thread may ask.
  bool Changed(bool ask = false);

  // The root folder, the message store (the store's own property set), any item by node id.
  // Throw StoreError; ItemById returns null when there is no such item.
  std::unique_ptr<StoreItem> RootFolder();
  std::unique_ptr<StoreItem> MessageStore();
  std::unique_ptr<StoreItem> ItemById(uint32_t id);

  // What a named property's local id stands for, read from `item`'s entry and then kept for the
  // whole file (the name-to-id map is the same for every item). Null when it cannot be resolved.
  const NamedKey* Named(uint32_t localId, const StoreItem& item, int entryIndex);
  // Why the name-to-id map cannot be read, so that no named property can be resolved; empty
  // when it can be read. Asked once, then kept.
  const QString& NameMapFailure();

 private:
  StoreFile() = default;
  friend class StoreItem;
  QString path_;
  std::unique_ptr<detail::FileImpl> impl_;
  std::unordered_map<uint32_t, std::unique_ptr<NamedKey>> named_;
  std::optional<QString> nameMapFailure_;
  QStringList damage_;
};

// One opened folder or message with the properties of its first record set.
class StoreItem {
 public:
  ~StoreItem();
  StoreItem(const StoreItem&) = delete;
  StoreItem& operator=(const StoreItem&) = delete;

  StoreFile& Owner() const { return *file_; }
  uint32_t Id() const;

  // Folders: sub-folders and messages. Counts are -1 when they cannot be read; opening throws
  // StoreError.
  int SubFolderCount() const;
  std::unique_ptr<StoreItem> SubFolder(int index) const;
  int MessageCount() const;
  std::unique_ptr<StoreItem> Message(int index) const;
  // Message without throwing: null, with the cause in `why`, when the entry cannot be opened.
  std::unique_ptr<StoreItem> TryMessage(int index, QString& why) const;
  // The data block of each message, by index (0 where it cannot be found): two entries with the
  // same one are one entry's data twice. Empty when the reader cannot say.
  std::vector<uint64_t> MessageDataBlocks() const;

  // Messages: their attachments, each a StoreItem with the attachment's properties (the file's
  // bytes in PidTagAttachDataBinary, its MIME type, whether it is the contact's picture). The count
  // is 0 for an item without attachments and -1 when its attachment table cannot be read; opening
  // throws StoreError.
  int AttachmentCount() const;
  std::unique_ptr<StoreItem> Attachment(int index) const;

  // Properties. Each has an index in [0, PropertyCount()); its tag is the local id (named ones
  // >= 0x8000) and value type. PropertyCount() is -1 when the item's properties cannot be read.
  int PropertyCount() const;
  bool PropertyTag(int index, uint32_t& id, uint32_t& valueType) const;
  // The index of the property with this id (tagged, < 0x8000), -1 when absent.
  int Find(uint32_t id) const;
  // Raw value bytes (strings without their end-of-string character) into `out`.
  bool Data(int index, QByteArray& out) const;
  // The same bytes without a copy where the reader keeps them: valid while the item lives.
  // False when it keeps none; Data then gives them.
  bool View(int index, QByteArrayView& out) const;
  // View for every property at once: out[i] for the property at index i, `out` holding
  // PropertyCount() views. False when the reader keeps none (or `out` has another size).
  bool Views(std::span<QByteArrayView> out) const;
  bool Int32(int index, int32_t& value) const;
  bool FileTime(int index, uint64_t& value) const;
  // Why PropertyCount() is -1; empty when the reader gives no cause.
  QString Failure() const;
  // Every value of a multi-valued string or binary property, as raw bytes.
  bool MultiData(int index, std::vector<QByteArray>& out) const;
  // A 16-bit integer or boolean property as a number.
  bool Int16(int index, int32_t& value) const;

  // A string property as text: UTF-16 as stored; 8-bit decoded in `codePage`. Empty when absent.
  QString Text(uint32_t id, int codePage) const;

 private:
  StoreItem(std::shared_ptr<StoreFile> file, std::unique_ptr<detail::ItemImpl> impl);
  // `child` as a StoreItem of the same file; a StoreError naming the `what` at `index` when null.
  std::unique_ptr<StoreItem> Child(std::unique_ptr<detail::ItemImpl> child, const char* what,
                                   int index, const QString& why) const;
  friend class StoreFile;
  std::shared_ptr<StoreFile> file_;
  std::unique_ptr<detail::ItemImpl> impl_;
};

// Decodes 8-bit text in a Windows code page (65001 is UTF-8). Trailing NULs are dropped.
QString DecodeString8(QByteArrayView bytes, int codePage);
// Decodes UTF-16LE bytes. Trailing NULs are dropped.
QString DecodeUtf16(QByteArrayView bytes);
// The same into `text`, which keeps its room when it is not shared.
void DecodeUtf16(QByteArrayView bytes, QString& text);

}  // namespace lumivex::storefile
