// Our own reader (PstReader.h) behind storefile::StoreFile.
#include "source/PstReader.h"
#include "source/StoreFileReaders.h"

#include <QFile>

#include <atomic>
#include <cstring>
#include <mutex>

namespace lumivex::storefile::detail {

namespace {

using pst::NodeRef;
using pst::PstError;
using pst::PstReader;

QString Cause(const std::exception& error) {
  return QStringLiteral(" (%1)").arg(QString::fromUtf8(error.what()));
}

// The attachment table of a message: a subnode of the message with this fixed id.
constexpr pst::Nid kNidAttachmentTable = 0x671;

// The reader of one file and the lock that lets one thread at a time into it: a folder's entries
// may be built on a read-ahead thread while the caller opens an entry's attachments, the
// entries a list links to, or folders. Properties, once read, live in their item and are read
// without the lock.
struct SharedReader {
  std::unique_ptr<PstReader> reader;
  std::recursive_mutex mutex;
};
using Lock = std::lock_guard<std::recursive_mutex>;

class ReaderItem : public ItemImpl {
 public:
  // `inner`: the item is a subnode of another (an attachment), with no folder tables of its own.
  ReaderItem(SharedReader& shared, const NodeRef& node, bool inner = false)
      : shared_(shared), reader_(*shared.reader), node_(node), inner_(inner) {
    const Lock lock(shared_.mutex);
    try {
      properties_ = reader_.ReadProperties(node_);
      readable_ = true;
    } catch (const PstError& error) {
      readable_ = false;
      failure_ = QString::fromUtf8(error.what());
    }
  }

  QString Failure() const override { return failure_; }

  uint32_t Id() const override { return node_.nid; }

  int SubFolderCount() override { return Rows(pst::kNidTypeHierarchyTable, subFolders_); }
  std::unique_ptr<ItemImpl> SubFolder(int index, QString& why) override {
    return Open(pst::kNidTypeHierarchyTable, subFolders_, index, why);
  }
  int MessageCount() override { return Rows(pst::kNidTypeContentsTable, messages_); }
  std::unique_ptr<ItemImpl> Message(int index, QString& why) override {
    return Open(pst::kNidTypeContentsTable, messages_, index, why);
  }

  std::vector<uint64_t> MessageDataBlocks() override {
    const Lock lock(shared_.mutex);
    std::vector<uint64_t> blocks;
    if (Rows(pst::kNidTypeContentsTable, messages_) < 0) return blocks;
    blocks.reserve(messages_.ids.size());
    for (const uint32_t id : messages_.ids) {
      try {
        const auto node = reader_.FindNode(id);
        blocks.push_back(node ? node->data & ~uint64_t(1) : 0);  // the low bit is reserved
      } catch (const PstError&) {
        blocks.push_back(0);
      }
    }
    return blocks;
  }

  int AttachmentCount() override {
    const Lock lock(shared_.mutex);
    if (!attachments_.read) {
      attachments_.read = true;
      try {
        std::optional<NodeRef> table;
        if (!inner_) table = reader_.FindSubnodeOf(node_, kNidAttachmentTable);
        if (table) attachments_.ids = reader_.ReadRowIds(*table);
        attachments_.ok = true;
      } catch (const PstError&) {
        attachments_.ok = false;
      }
    }
    return attachments_.ok ? static_cast<int>(attachments_.ids.size()) : -1;
  }

  std::unique_ptr<ItemImpl> Attachment(int index, QString& why) override {
    const Lock lock(shared_.mutex);
    if (AttachmentCount() <= index || index < 0) {
      why = attachments_.ok ? QStringLiteral(" (no such attachment)")
                            : QStringLiteral(" (its attachment table is damaged)");
      return nullptr;
    }
    try {
      const auto node = reader_.FindSubnodeOf(node_, attachments_.ids[static_cast<size_t>(index)]);
      if (!node) {
        why = QStringLiteral(" (the attachment is missing from its message)");
        return nullptr;
      }
      auto item = std::make_unique<ReaderItem>(shared_, *node, true);
      if (item->PropertyCount() < 0) {
        why = QStringLiteral(" (the attachment's properties are damaged)");
        return nullptr;
      }
      return item;
    } catch (const PstError& error) {
      why = Cause(error);
      return nullptr;
    }
  }

  int PropertyCount() const override {
    return readable_ ? static_cast<int>(properties_.records.size()) : -1;
  }

  bool PropertyTag(int index, uint32_t& id, uint32_t& valueType) const override {
    const pst::PropertyRecord* p = At(index);
    if (p == nullptr) return false;
    id = p->id;
    valueType = p->type;
    return true;
  }

  int Find(uint32_t id) const override {
    for (size_t i = 0; i < properties_.records.size(); ++i)
      if (properties_.records[i].id == id) return static_cast<int>(i);
    return -1;
  }

  bool Data(int index, QByteArray& out) const override {
    const pst::PropertyRecord* p = At(index);
    if (p == nullptr) return false;
    const auto size = static_cast<qsizetype>(p->value.size());
    if (size == 0 || out.isNull()) {
      out = QByteArray(reinterpret_cast<const char*>(p->value.data()), size);
    } else {
      out.resize(size);  // a buffer the caller reuses keeps its room
      std::memcpy(out.data(), p->value.data(), p->value.size());
    }
    return true;
  }

  bool View(int index, QByteArrayView& out) const override {
    const pst::PropertyRecord* p = At(index);
    if (p == nullptr) return false;
    out = QByteArrayView(p->value.data(), static_cast<qsizetype>(p->value.size()));
    return true;
  }

  bool Views(std::span<QByteArrayView> out) const override {
    if (!readable_ || out.size() != properties_.records.size()) return false;
    for (size_t i = 0; i < out.size(); ++i) {
      const std::span<const uint8_t> value = properties_.records[i].value;
      out[i] = QByteArrayView(value.data(), static_cast<qsizetype>(value.size()));
    }
    return true;
  }

  bool Int32(int index, int32_t& value) const override {
    const pst::PropertyRecord* p = At(index);
    if (p == nullptr || p->type != kTypeInt32 || p->value.size() != 4) return false;
    value = static_cast<int32_t>(p->value[0] | (p->value[1] << 8) | (p->value[2] << 16) |
                                 (uint32_t(p->value[3]) << 24));
    return true;
  }

  bool FileTime(int index, uint64_t& value) const override {
    const pst::PropertyRecord* p = At(index);
    if (p == nullptr || p->type != kTypeTime || p->value.size() != 8) return false;
    value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p->value[size_t(i)];
    return true;
  }

 private:
  const pst::PropertyRecord* At(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= properties_.records.size()) return nullptr;
    return &properties_.records[static_cast<size_t>(index)];
  }

  // The row ids of one of the folder's tables, read once. A folder without the table has no
  // rows in it; a table that cannot be read counts -1.
  struct Table {
    std::atomic<bool> read = false;  // once set, `ok` and `ids` no longer change
    bool ok = false;
    std::vector<uint32_t> ids;
  };
  int Rows(uint8_t type, Table& table) {
    // Counted at every step of an export, while the entries are read on another thread: once
    // the table is read, its count is taken without the lock.
    if (!table.read.load(std::memory_order_acquire)) ReadRows(type, table);
    return table.ok ? static_cast<int>(table.ids.size()) : -1;
  }
  void ReadRows(uint8_t type, Table& table) {
    const Lock lock(shared_.mutex);
    if (table.read) return;
    if (inner_) {
      table.ok = true;  // an attachment holds no folders or messages
    } else {
      try {
        const auto node = reader_.FindNode((node_.nid & ~0x1Fu) | type);
        if (node) table.ids = reader_.ReadRowIds(*node);
        table.ok = true;
      } catch (const PstError&) {
        table.ok = false;
      }
    }
    table.read.store(true, std::memory_order_release);
  }

  std::unique_ptr<ItemImpl> Open(uint8_t type, Table& table, int index, QString& why) {
    const Lock lock(shared_.mutex);
    if (Rows(type, table) <= index || index < 0) {
      why =
          table.ok ? QStringLiteral(" (no such entry)") : QStringLiteral(" (its table is damaged)");
      return nullptr;
    }
    try {
      const auto node = reader_.FindNode(table.ids[static_cast<size_t>(index)]);
      if (!node) {
        why = QStringLiteral(" (the entry is missing from the store)");
        return nullptr;
      }
      return std::make_unique<ReaderItem>(shared_, *node);
    } catch (const PstError& error) {
      why = Cause(error);
      return nullptr;
    }
  }

  SharedReader& shared_;
  PstReader& reader_;
  NodeRef node_;
  bool inner_ = false;
  bool readable_ = false;
  QString failure_;  // why the properties cannot be read
  pst::PropertySet properties_;
  Table subFolders_;
  Table messages_;
  Table attachments_;
};

class ReaderFile : public FileImpl {
 public:
  explicit ReaderFile(std::unique_ptr<PstReader> reader) : reader_(*reader) {
    shared_.reader = std::move(reader);
  }

  const char* ReaderName() const override { return "lumivex"; }
  bool Unicode() const override { return !reader_.Ansi(); }
  bool Offline() const override { return reader_.Offline(); }
  bool Concurrent() const override { return true; }
  bool Changed(bool ask) override { return ask ? reader_.CheckChanged() : reader_.Changed(); }

  std::unique_ptr<ItemImpl> RootFolder(QString& why) override {
    auto item = ItemById(pst::kNidRootFolder);
    if (!item) why = QStringLiteral(" (the store has no root folder)");
    return item;
  }
  std::unique_ptr<ItemImpl> MessageStore() override { return ItemById(pst::kNidMessageStore); }

  std::unique_ptr<ItemImpl> ItemById(uint32_t id) override {
    const Lock lock(shared_.mutex);
    try {
      const auto node = reader_.FindNode(id);
      if (node) return std::make_unique<ReaderItem>(shared_, *node);
    } catch (const PstError&) {
    }
    return nullptr;
  }

  std::unique_ptr<NamedKey> Named(uint32_t localId, const ItemImpl&, int) override {
    if (localId > 0xFFFF) return nullptr;
    const Lock lock(shared_.mutex);
    try {
      const auto& map = reader_.NameMap();
      const auto found = map.find(static_cast<uint16_t>(localId));
      if (found == map.end()) return nullptr;
      auto key = std::make_unique<NamedKey>();
      key->guid = found->second.guid;
      key->byName = found->second.byName;
      key->number = found->second.number;
      key->name = QString::fromStdU16String(found->second.name);
      return key;
    } catch (const PstError&) {
      return nullptr;
    }
  }

  QString NameMapFailure() override {
    const Lock lock(shared_.mutex);
    try {
      reader_.NameMap();
      return {};
    } catch (const PstError& error) {
      return QString::fromUtf8(error.what());
    }
  }

 private:
  SharedReader shared_;
  PstReader& reader_;
};

}  // namespace

std::unique_ptr<FileImpl> OpenWithPstReader(const QString& path, QString& declined, bool* damaged,
                                            bool whole) {
  if (damaged != nullptr) *damaged = false;
  try {
    std::string why;
    auto reader = PstReader::Open(QFile::encodeName(path).toStdString(), why);
    if (!reader) {
      declined = QString::fromStdString(why);
      return nullptr;
    }
    if (whole) {
      // The whole node tree is checked now, so that a damaged one is refused at the start, as
      // libpff refuses it, instead of failing entry by entry later.
      reader->CheckNodeTree();
      if (!reader->FindNode(pst::kNidRootFolder) || !reader->FindNode(pst::kNidMessageStore)) {
        declined = QStringLiteral("the store has no root folder");
        if (damaged != nullptr) *damaged = true;
        return nullptr;
      }
    }
    return std::make_unique<ReaderFile>(std::move(reader));
  } catch (const PstError& error) {
    declined = QString::fromUtf8(error.what());
    if (damaged != nullptr) *damaged = true;
    return nullptr;
  }
}

}  // namespace lumivex::storefile::detail
