// The two readers behind StoreFile and StoreItem (StoreFile.h): libpff (LibpffStoreFile.cpp), and
// our own reader of every layout and encoding of stores (PstReader.h, PstReaderStoreFile.cpp).
// StoreFile.cpp chooses one per file; nothing else sees these.
#pragma once

#include "source/StoreFile.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace lumivex::storefile::detail {

// One folder or message. Counts are -1 when they cannot be read; SubFolder and Message return
// null and set `why` (a cause in brackets, " (…)", or empty) when the item cannot be opened.
class ItemImpl {
 public:
  virtual ~ItemImpl() = default;
  virtual uint32_t Id() const = 0;
  virtual int SubFolderCount() = 0;
  virtual std::unique_ptr<ItemImpl> SubFolder(int index, QString& why) = 0;
  virtual int MessageCount() = 0;
  virtual std::unique_ptr<ItemImpl> Message(int index, QString& why) = 0;
  // Messages: attachments, as SubFolder and Message above. Items without any have none.
  virtual int AttachmentCount() { return 0; }
  virtual std::unique_ptr<ItemImpl> Attachment(int index, QString& why) {
    (void)index;
    why = QStringLiteral(" (no such attachment)");
    return nullptr;
  }
  // Folders: the data block of each message, in the order of Message's index; 0 where it cannot
  // be found. Empty when the reader cannot say.
  virtual std::vector<uint64_t> MessageDataBlocks() { return {}; }
  virtual int PropertyCount() const = 0;
  virtual bool PropertyTag(int index, uint32_t& id, uint32_t& valueType) const = 0;
  virtual int Find(uint32_t id) const = 0;
  virtual bool Data(int index, QByteArray& out) const = 0;
  // The value bytes where the item keeps them, valid while the item lives; false when the reader
  // keeps none (Data then copies them).
  virtual bool View(int index, QByteArrayView& out) const {
    (void)index;
    (void)out;
    return false;
  }
  // Every property's value bytes at once, out[i] for the property at index i (out holds
  // PropertyCount() views), valid while the item lives; false when the reader keeps none.
  virtual bool Views(std::span<QByteArrayView> out) const {
    (void)out;
    return false;
  }
  virtual bool Int32(int index, int32_t& value) const = 0;
  virtual bool FileTime(int index, uint64_t& value) const = 0;
  // Why PropertyCount() is -1: the cause, without brackets; empty when the reader gives none.
  virtual QString Failure() const { return {}; }
};

class FileImpl {
 public:
  virtual ~FileImpl() = default;
  virtual const char* ReaderName() const = 0;
  virtual bool Unicode() const = 0;
  virtual bool Offline() const = 0;
  // Whether items of the file may be used from two threads at once.
  virtual bool Concurrent() const { return false; }
  // Whether the file changed or shrank since it was opened: as far as the reader has found, or,
  // with `ask`, looking at the file now. Any thread may ask.
  virtual bool Changed(bool ask) = 0;
  // The root folder; null with `why` set when the folder tree cannot be read.
  virtual std::unique_ptr<ItemImpl> RootFolder(QString& why) = 0;
  virtual std::unique_ptr<ItemImpl> MessageStore() = 0;
  virtual std::unique_ptr<ItemImpl> ItemById(uint32_t id) = 0;
  // What local id `localId`, the property at `index` of `item`, stands for; null when unknown.
  virtual std::unique_ptr<NamedKey> Named(uint32_t localId, const ItemImpl& item, int index) = 0;
  // Why the store's name-to-id map cannot be read; empty when it can (or the reader cannot say).
  virtual QString NameMapFailure() { return {}; }
};

// Opens `path` through libpff. Throws StoreError with libpff's cause.
std::unique_ptr<FileImpl> OpenWithLibpff(const QString& path);
// Opens `path` with our own reader. Null, with the reason in `declined`, for a file it leaves
// to libpff: one whose header or node B-tree it finds damaged (`damaged` set), or of a store
// version or data encoding it does not know. `whole`: the node tree is checked page by page
// first; without it, a store whose header and tree roots can be read is opened as it is, to
// compare with another reader's reading (each item it cannot find or read is then absent).
std::unique_ptr<FileImpl> OpenWithPstReader(const QString& path, QString& declined,
                                            bool* damaged = nullptr, bool whole = true);

// Where `other` (libpff's reading of a store our reader refused) and `own` (our reader's reading
// of the same file, item by item where it can) differ: the entry counts of each folder, each
// entry's own identity, whether named properties can be resolved. One sentence each; empty when
// nothing differs that both could read.
QStringList CompareReadings(FileImpl& other, FileImpl* own);

}  // namespace lumivex::storefile::detail
