// The list/table layer: heap-on-node (HN), B-tree-on-heap (BTH), property contexts (PC) and
// table contexts (TC). Everything here builds the bytes of one node (a NodeImage) in memory;
// the node/block layer puts them in the file. The two file layouts differ here only in the size
// of a block (8176 or 8180 bytes), which bounds heap pages and the blocks of a table's rows, and
// in the row index of a table, whose row numbers take four bytes (Unicode) or two (ANSI).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tools/pstwriter/Ndb.h"

namespace lumivex::pst {

// The largest value kept inside a heap; larger ones go to a subnode of their own.

// Bytes a value of this type takes in a table row (variable-size values take a 4-byte heap
// reference); 0 for a type a row cannot hold.
size_t RowWidth(uint16_t type);
// Whether a value of this type is stored in place of its reference (4 bytes or less).
bool IsInlineType(uint16_t type);

// One property as the layer above hands it over: its tag parts and its value bytes, already in
// their stored form (little-endian numbers, UTF-16LE strings without terminator, the counted
// layout of multi-valued types).
struct Property {
  uint16_t id = 0;
  uint16_t type = 0;
  Bytes value;
};

// A heap spread over as many blocks as it needs. Allocate() returns a heap id.
class HeapBuilder {
 public:
  explicit HeapBuilder(uint8_t client_signature, FileLayout layout = FileLayout::Unicode);
  uint32_t Allocate(std::span<const uint8_t> bytes);
  // Overwrites an earlier allocation with bytes of the same size.
  void Patch(uint32_t hid, std::span<const uint8_t> bytes);
  void SetUserRoot(uint32_t hid) { user_root_ = hid; }
  // The heap's blocks; the heap is emptied by it.
  std::vector<Bytes> Blocks();

 private:
  struct Page {
    Bytes data;  // header space followed by the allocations
    std::vector<uint16_t> offsets;
  };
  static size_t HeaderSize(size_t page_index);
  uint8_t client_signature_;
  size_t block_size_;
  uint32_t user_root_ = 0;
  std::vector<Page> pages_;
};

// Reserves the 8-byte header of a B-tree on the heap. Readers look for the first B-tree of a
// property or table context at the heap's first allocation, so it is reserved before anything
// else is allocated.
uint32_t ReserveBthHeader(HeapBuilder& heap);
// Writes a B-tree on the heap from records sorted by key (each cbKey + cbEnt bytes) and fills in
// the header reserved at `header`.
void BuildBth(HeapBuilder& heap, uint32_t header, uint8_t key_size, uint8_t entry_size,
              std::span<const uint8_t> sorted_records);

// Hands out subnode ids and collects subnodes for one node.
class SubnodeCollector {
 public:
  SubnodeCollector(std::vector<SubnodeImage>& out, FileLayout layout)
      : out_(out), block_size_(MaxBlockData(layout)) {}
  // Stores `value` in a subnode of its own, cut into blocks of whole `unit`s.
  Nid Store(std::span<const uint8_t> value, size_t unit = 1);

 private:
  std::vector<SubnodeImage>& out_;
  size_t block_size_;
  uint32_t next_index_ = 1;
};

// The node image of a property context holding `props` (ids need not be sorted; each id once).
NodeImage BuildPropertyContext(std::vector<Property> props,
                               FileLayout layout = FileLayout::Unicode);

// A table context built row by row. The row id and row version columns are added in front.
class TableBuilder {
 public:
  struct Column {
    uint32_t tag;  // id << 16 | type
  };
  explicit TableBuilder(std::vector<uint32_t> tags, FileLayout layout = FileLayout::Unicode);
  // `values` follows the order of the tags given at construction; an absent value is nullopt.
  void AddRow(uint32_t row_id, const std::vector<std::optional<Bytes>>& values);
  // Builds the table; the rows are released as they are laid out, so a table builds once.
  NodeImage Build();

 private:
  struct Layout {
    uint32_t tag;
    uint16_t offset;
    uint8_t width;
    uint8_t bit;
  };
  std::vector<uint32_t> tags_;
  FileLayout file_layout_;
  std::vector<Layout> layout_;  // per tag, plus the two leading columns at the end
  uint16_t end_4b_ = 0, end_2b_ = 0, end_1b_ = 0, row_size_ = 0;
  std::vector<uint32_t> row_ids_;
  // Rows kept compact: per column a presence byte, then a 32-bit length and the bytes.
  std::vector<Bytes> rows_;
};

}  // namespace lumivex::pst
