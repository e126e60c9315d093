// A reader of personal-folder files (.pst in the Unicode and ANSI layouts, .ost in the Unicode
// layout and in the 4 KB-page layout of Outlook 2013 and later) that goes straight to what the
// contact export needs: a node by its id, a property context's properties, a table's row ids. It
// keeps no index of the file in memory: the node and block B-trees are searched page by page
// through a small cache, so opening a store of any size takes a few page reads and reading one
// entry costs the same in a folder of 100 or 100,000 entries.
//
// It reads data blocks in each of the format's encodings: none, "compressible" (a byte
// permutation) and "high" (the cyclic encoding keyed by the block id). A store version or an
// encoding it does not know it declines at Open, and the store is read through libpff instead
// (StoreFile.cpp decides).
//
// Every structure is checked before it is used: page and block checksums and types, sizes and
// offsets against their containers, and the depth of every tree, so a damaged file gives a
// PstError and never a read out of bounds or an endless loop.
#pragma once

#include "source/MappingGuard.h"
#include "source/PstFormat.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace lumivex::pst {

using ByteVector = std::vector<uint8_t>;

// Where the file's layout (ANSI or Unicode) puts the fields of its structures.
struct Layout;

// A node's entry in the node B-tree.
struct NodeRef {
  Nid nid = 0;
  Bid data = 0;
  Bid subnodes = 0;
  Nid parent = 0;
};

// One property of a property context: its id, type and value bytes as stored (numbers
// little-endian, strings without terminator, multi-valued types in their counted layout). The
// bytes lie in the PropertySet that holds the record.
struct PropertyRecord {
  uint16_t id = 0;
  uint16_t type = 0;
  std::span<const uint8_t> value;
};

// The properties of one node, in the order of their ids, with the records and all their values
// in one block: reading a node allocates once, not once per property. It can be moved (the
// records keep pointing into the same block), not copied.
struct PropertySet {
  PropertySet() = default;
  PropertySet(PropertySet&&) = default;
  PropertySet& operator=(PropertySet&&) = default;
  PropertySet(const PropertySet&) = delete;
  PropertySet& operator=(const PropertySet&) = delete;

  std::span<const PropertyRecord> records;
  std::unique_ptr<uint64_t[]> block;  // the records, then the values
};

// One entry of the name-to-id map: a named property's set and number or name.
struct NameEntry {
  std::array<uint8_t, 16> guid{};
  bool byName = false;
  uint32_t number = 0;
  std::u16string name;
};

class PstReader {
 public:
  // How the file is read: through a read-only mapping where it can be mapped (a regular file),
  // else with pread; or with pread only.
  enum class Access { kMapped, kRead };
  // Opens `path`. Returns null, with the reason in `declined`, for a file this reader leaves to
  // libpff; throws PstError when the header or the B-tree roots are damaged.
  static std::unique_ptr<PstReader> Open(const std::string& path, std::string& declined,
                                         Access access = Access::kMapped);
  ~PstReader();
  PstReader(const PstReader&) = delete;
  PstReader& operator=(const PstReader&) = delete;

  bool Offline() const { return offline_; }

  // Whether the file changed or shrank since it was opened, as far as the reader has found: a
  // read fell on a page the file no longer has, or the file's size or modification time moved
  // (looked at every 64 KiB read, and by CheckChanged). Once found, it stays; every read after
  // it throws PstError. Any thread may ask.
  bool Changed() const {
    return changed_.load(std::memory_order_relaxed) || (guard_ && guard_->Lost());
  }
  // Looks at the file's size and modification time now.
  bool CheckChanged();
  bool Ansi() const;  // an ANSI (Outlook 97-2002) file: 8-bit strings, 32-bit ids

  // Reads every page of the node B-tree and checks it. Throws PstError at the first damage.
  void CheckNodeTree();

  // The node with this id, or nothing when the store has none. Throws PstError.
  std::optional<NodeRef> FindNode(Nid nid);

  // Subnode `nid` of `node` (an attachment table, an attachment) as a node of its own, or nothing
  // when `node` has no such subnode. Throws PstError.
  std::optional<NodeRef> FindSubnodeOf(const NodeRef& node, Nid nid);

  // The properties of the property context in `node`, in the order of their ids.
  PropertySet ReadProperties(const NodeRef& node);
  // The row ids of the table context in `node`, in ascending order.
  std::vector<uint32_t> ReadRowIds(const NodeRef& node);
  // The store's name-to-id map, by local id (0x8000 and up). Read once, then kept.
  const std::unordered_map<uint16_t, NameEntry>& NameMap();

 private:
  PstReader() = default;
  struct Page;
  class Heap;
  // A B-tree page where it lies in the page cache (or, for a mapped file, in the mapping): valid
  // until the next page is read.
  const Page& ReadPage(uint64_t ib, uint8_t ptype);
  // Reads and checks the page at `ib` into `page`, whose buffer keeps its room from page to page.
  void LoadPage(uint64_t ib, uint8_t ptype, Page& page);
  // The leaf entry for `key` in the node or block B-tree (by page type), empty when there is
  // none. It lies in the page cache: use it before the next page is read.
  std::span<const uint8_t> LeafEntry(uint8_t ptype, uint64_t key);
  // The block's entry in the block B-tree: where it is, its stored and its inflated size.
  struct BlockRef {
    uint64_t ib;
    uint16_t size;
    uint16_t inflated;
  };
  BlockRef FindBlock(Bid bid);
  // The decoded bytes of block `bid`: a view into the mapped file where the block is stored as it
  // is, else into `buffer`, which keeps its room from one block to the next. Valid until `buffer`
  // is used again.
  std::span<const uint8_t> ReadBlock(Bid bid, ByteVector& buffer);
  // The data blocks of the data tree whose root is `bid` into `out`, and the size the tree
  // declares.
  void DataBlocks(Bid bid, std::vector<Bid>& out, uint64_t* total = nullptr);
  // Appends the whole data of the data tree whose root is `bid` to `out`.
  void AppendData(Bid bid, ByteVector& out);
  // The data and subnode tree of subnode `nid` in the subnode tree at `subnodes`.
  std::optional<std::pair<Bid, Bid>> FindSubnode(Bid subnodes, Nid nid);
  // `count` bytes of the file from `ib`: a view into the mapping, or read into `buffer`.
  std::span<const uint8_t> FileBytes(uint64_t ib, size_t count, ByteVector& buffer);
  void ReadExact(uint64_t ib, std::span<uint8_t> out);
  // Lets go of the pages of the stretches of the mapping read since the last time.
  void LetGoOfReadPages();
  // Buffers that outlive the calls using them, so that reading an entry allocates no block.
  ByteVector TakeBuffer();
  void GiveBuffer(ByteVector&& buffer);

  const Layout* layout_ = nullptr;
  int fd_ = -1;
  const uint8_t* map_ = nullptr;         // the whole file, where it could be mapped
  std::unique_ptr<MappingGuard> guard_;  // reads of the mapping past a new end of the file
  int64_t modified_ = 0;                 // the file's modification time at Open, in ns
  bool regular_ = false;                 // a regular file, whose size and time tell a change
  std::atomic<bool> changed_ = false;
  uint64_t readSinceCheck_ = 0;  // bytes read since the file was last looked at
  uint64_t mappedRead_ = 0;      // bytes read from the mapping since its pages were let go
  // Mapped file: the stretches of the mapping read since its pages were let go, a bit each.
  std::vector<uint64_t> touched_;
  uint64_t size_ = 0;
  bool offline_ = false;
  uint8_t crypt_ = 0;
  uint64_t nbtRoot_ = 0;
  uint64_t bbtRoot_ = 0;
  std::vector<Page> pages_;               // the page cache: each page has one slot, by its offset
  int pageShift_ = 0;                     // log2 of the page size
  std::vector<uint64_t> checked_;         // mapped file: the pages whose checksum held, a bit each
  std::vector<ByteVector> spare_;         // TakeBuffer / GiveBuffer
  ByteVector subnodeBlock_;               // FindSubnode
  ByteVector dataBlock_;                  // AppendData
  std::array<ByteVector, 2> treeBlocks_;  // DataBlocks: an XXBLOCK and an XBLOCK
  std::vector<Bid> dataBids_;             // AppendData
  std::optional<std::unordered_map<uint16_t, NameEntry>> names_;
  // ReadProperties: the records, with the offset and size of each value, and the values.
  std::vector<std::pair<PropertyRecord, std::pair<size_t, size_t>>> records_;
  ByteVector values_;
};

}  // namespace lumivex::pst
