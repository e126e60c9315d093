// The node/block layer of a personal-folder file: the header, the allocation maps, the node and
// block B-trees, data blocks, data trees (XBLOCK/XXBLOCK) and subnode trees (SLBLOCK/SIBLOCK),
// in the Unicode layout (Outlook 2003 and later) or the ANSI one (Outlook 97-2002).
//
// NdbWriter writes a file forward: every block goes to disk as soon as it is handed over, and
// only the B-tree entries stay in memory until Finish() writes the B-tree pages, the maps and
// the header. The file is written under a temporary name and renamed into place by Finish(), so
// a failed run leaves no half-written store behind.
#pragma once

#include "source/PstFormat.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivex::pst {

using Bytes = std::vector<uint8_t>;
// How data blocks are stored: as they are, through the byte permutation that the format calls
// "compressible" encoding, or through the cyclic encoding keyed by each block's id that the
// mail client writes for stores with high encryption. The value is the header's bCryptMethod.
enum class Encoding : uint8_t {
  None = kCryptNone,
  Compressible = kCryptPermute,
  Cyclic = kCryptCyclic
};

// The two layouts of the file. ANSI files (wVer 14) have 32-bit block ids and file offsets where
// Unicode files (wVer 23) have 64-bit ones, and so smaller B-tree entries, block trailers and
// subnode entries; their strings are 8-bit text in a code page. Both stay below 2 GB here.
enum class FileLayout : uint8_t { Unicode, Ansi };

// The largest payload of one data block in a layout: 8192 bytes less the block trailer.
constexpr size_t MaxBlockData(FileLayout layout) {
  return layout == FileLayout::Ansi ? 8180 : kMaxBlockData;
}

// The bytes of one node as the upper layers build them: its data as a list of block payloads
// (each at most MaxBlockData() bytes, cut where the layer above needs it cut) and its subnodes.
// A subnode may have subnodes of its own (an attachment object keeps its large values there).
struct SubnodeImage {
  Nid nid = 0;
  std::vector<Bytes> blocks;
  std::vector<SubnodeImage> subnodes;
};
struct NodeImage {
  std::vector<Bytes> blocks;
  std::vector<SubnodeImage> subnodes;
};

class NdbWriter {
 public:
  NdbWriter(const std::string& path, Encoding encoding, FileLayout layout = FileLayout::Unicode);
  ~NdbWriter();
  NdbWriter(const NdbWriter&) = delete;
  NdbWriter& operator=(const NdbWriter&) = delete;

  // Writes one node: its data tree, its subnodes' data trees and its subnode tree, and records
  // its node B-tree entry. Returns the bid of the node's data.
  Bid WriteNode(Nid nid, Nid parent, const NodeImage& image);
  // The same node data again under another node id (the table templates share their blocks).
  void AddNodeEntry(Nid nid, Bid data, Bid subnodes, Nid parent);

  // Lower-level writers, exposed for the tests of this layer.
  Bid WriteDataBlock(std::span<const uint8_t> payload);
  Bid WriteDataTree(const std::vector<Bytes>& blocks);
  struct SubnodeEntry {
    Nid nid;
    Bid data;
    Bid subnodes;
  };
  Bid WriteSubnodeTree(std::vector<SubnodeEntry> entries);
  // Writes subnodes' data trees and, below each that has subnodes, its own subnode tree;
  // returns the subnode tree that holds them (0 when there are none).
  Bid WriteSubnodes(const std::vector<SubnodeImage>& subnodes);

  // Sets the next node index of one node type (the header's rgnid array).
  void SetNextNidIndex(uint8_t type, uint32_t index) { next_nid_index_[type] = index; }
  // Writes the B-trees, the maps and the header, and puts the file in place.
  void Finish();

  FileLayout Layout() const { return layout_; }
  uint64_t BytesWritten() const { return cursor_; }

 private:
  struct NbtEntry {
    uint64_t nid;
    Bid data;
    Bid subnodes;
    Nid parent;
  };
  struct BbtEntry {
    Bid bid;
    uint64_t ib;
    uint16_t cb;
  };
  struct BtRef {
    uint64_t key;
    Bid bid;
    uint64_t ib;
  };

  uint64_t Allocate(uint64_t size, uint64_t align);
  Bid WriteBlock(std::span<const uint8_t> payload, bool internal);
  Bid NewBlockId(bool internal);
  void WriteAt(uint64_t ib, std::span<const uint8_t> bytes);
  // A block id, file offset or B-tree key in the layout's width.
  void PutId(uint8_t* p, uint64_t v) const;
  // Puts the page trailer on a 512-byte page and writes it.
  void WritePage(uint64_t ib, uint8_t ptype, uint64_t bid, std::span<uint8_t, 512> page,
                 bool signed_page);
  // Writes a B-tree whose leaf entry i is put in place by fill(i, out); returns its root.
  template <typename Fill>
  BtRef WriteBTree(uint8_t ptype, size_t entry_size, size_t count, Fill fill);
  void WriteMaps(uint64_t eof, uint64_t& amap_free, uint64_t& last_amap);
  void WriteHeader(uint64_t eof, uint64_t last_amap, uint64_t amap_free, const BtRef& nbt,
                   const BtRef& bbt);
  void WriteAnsiHeader(uint64_t eof, uint64_t last_amap, uint64_t amap_free, const BtRef& nbt,
                       const BtRef& bbt);
  void Fail(const std::string& what);

  std::string path_;
  std::string temp_path_;
  Encoding encoding_;
  FileLayout layout_;
  bool ansi_;         // layout_ == FileLayout::Ansi
  size_t id_size_;    // bytes of a block id, file offset or B-tree key: 4 or 8
  size_t max_block_;  // MaxBlockData(layout_)
  std::FILE* file_ = nullptr;
  uint64_t file_pos_ = 0;  // where the stream stands, to avoid needless seeks
  uint64_t cursor_;        // the next free byte
  uint64_t next_block_ = 1;
  uint64_t next_page_ = 1;
  uint32_t next_nid_index_[32];
  std::vector<NbtEntry> nbt_;
  std::vector<BbtEntry> bbt_;
  std::vector<uint8_t> used_;  // one flag per 64-byte unit after the first map, set when allocated
  bool finished_ = false;
};

}  // namespace lumivex::pst
