#include "tools/pstwriter/Ltp.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace lumivex::pst {

namespace {

constexpr size_t kMaxAllocationsPerPage = 2047;

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// How full a heap page is, in the 4-bit scale of the fill-level arrays.
uint8_t FillLevel(size_t free_bytes) {
  static const size_t kThresholds[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                       512,  256,  128,  64,   32,   16,   8};
  for (uint8_t level = 0; level < 15; ++level)
    if (free_bytes >= kThresholds[level]) return level;
  return 15;
}

bool IsVariableType(uint16_t type) {
  if (type & kPtMultiFlag) return true;
  switch (type) {
    case kPtString8:
    case kPtString:
    case kPtGuid:
    case kPtBinary:
    case 0x000D:  // object
      return true;
    default:
      return false;
  }
}

}  // namespace

size_t RowWidth(uint16_t type) {
  if (IsVariableType(type)) return 4;
  switch (type) {
    case kPtBoolean:
      return 1;
    case kPtInt16:
      return 2;
    case kPtInt32:
    case kPtFloat:
    case kPtError:
      return 4;
    case kPtDouble:
    case kPtCurrency:
    case kPtAppTime:
    case kPtInt64:
    case kPtTime:
      return 8;
    default:
      return 0;
  }
}

bool IsInlineType(uint16_t type) {
  return !IsVariableType(type) && RowWidth(type) <= 4;
}

// ---------------------------------------------------------------------------------------------
// Heap-on-node

HeapBuilder::HeapBuilder(uint8_t client_signature, FileLayout layout)
    : client_signature_(client_signature), block_size_(MaxBlockData(layout)) {
  pages_.push_back({Bytes(HeaderSize(0), 0), {}});
}

size_t HeapBuilder::HeaderSize(size_t page_index) {
  if (page_index == 0) return 12;
  if (page_index >= 8 && (page_index - 8) % 128 == 0) return 66;
  return 2;
}

uint32_t HeapBuilder::Allocate(std::span<const uint8_t> bytes) {
  if (bytes.size() > kMaxHeapItem) throw PstError("heap item larger than 3580 bytes");
  auto fits = [&](const Page& p) {
    const size_t map = 4 + 2 * (p.offsets.size() + 2);
    return p.offsets.size() < kMaxAllocationsPerPage &&
           p.data.size() + bytes.size() + 1 + map <= block_size_;
  };
  if (!fits(pages_.back())) pages_.push_back({Bytes(HeaderSize(pages_.size()), 0), {}});
  Page& page = pages_.back();
  page.offsets.push_back(static_cast<uint16_t>(page.data.size()));
  page.data.insert(page.data.end(), bytes.begin(), bytes.end());
  const uint32_t block = static_cast<uint32_t>(pages_.size() - 1);
  return (block << 16) | (static_cast<uint32_t>(page.offsets.size()) << 5);
}

void HeapBuilder::Patch(uint32_t hid, std::span<const uint8_t> bytes) {
  Page& page = pages_.at(hid >> 16);
  const size_t index = ((hid >> 5) & 0x7FF) - 1;
  const size_t start = page.offsets.at(index);
  const size_t end = index + 1 < page.offsets.size() ? page.offsets[index + 1] : page.data.size();
  if (end - start != bytes.size()) throw PstError("heap item patched with a different size");
  std::copy(bytes.begin(), bytes.end(), page.data.begin() + static_cast<std::ptrdiff_t>(start));
}

std::vector<Bytes> HeapBuilder::Blocks() {
  std::vector<Bytes> blocks;
  std::vector<uint8_t> levels;
  for (Page& page : pages_) {
    Bytes b = std::move(page.data);
    const size_t end = b.size();
    if (b.size() % 2) b.push_back(0);
    const uint16_t ib_map = static_cast<uint16_t>(b.size());
    const size_t count = page.offsets.size();
    b.resize(b.size() + 4 + 2 * (count + 1), 0);
    uint8_t* map = b.data() + ib_map;
    Put16(map, static_cast<uint16_t>(count));
    Put16(map + 2, 0);
    for (size_t i = 0; i < count; ++i) Put16(map + 4 + 2 * i, page.offsets[i]);
    Put16(map + 4 + 2 * count, static_cast<uint16_t>(end));
    Put16(b.data(), ib_map);
    levels.push_back(FillLevel(block_size_ - b.size()));
    blocks.push_back(std::move(b));
  }
  auto fill = [&](uint8_t* out, size_t first, size_t count) {
    for (size_t i = 0; i < count && first + i < levels.size(); ++i)
      out[i / 2] |= static_cast<uint8_t>(levels[first + i] << (4 * (i % 2)));
  };
  Bytes& head = blocks[0];
  head[2] = kHeapSignature;
  head[3] = client_signature_;
  Put32(head.data() + 4, user_root_);
  fill(head.data() + 8, 0, 8);
  for (size_t i = 8; i < blocks.size(); i += 128) fill(blocks[i].data() + 2, i, 128);
  pages_.clear();
  return blocks;
}

// ---------------------------------------------------------------------------------------------
// B-tree-on-heap

uint32_t ReserveBthHeader(HeapBuilder& heap) {
  return heap.Allocate(Bytes(8, 0));
}

void BuildBth(HeapBuilder& heap, uint32_t header_hid, uint8_t key_size, uint8_t entry_size,
              std::span<const uint8_t> sorted_records) {
  Bytes header(8, 0);
  header[0] = kBthSignature;
  header[1] = key_size;
  header[2] = entry_size;
  const size_t record = key_size + entry_size;
  const size_t count = sorted_records.size() / record;
  if (count > 0) {
    // Leaves hold the records; each index level above holds (first key, heap id) pairs.
    std::vector<std::pair<Bytes, uint32_t>> nodes;  // first key, hid
    size_t per_node = kMaxHeapItem / record;
    for (size_t first = 0; first < count; first += per_node) {
      const size_t n = std::min(per_node, count - first);
      auto chunk = sorted_records.subspan(first * record, n * record);
      nodes.emplace_back(Bytes(chunk.begin(), chunk.begin() + key_size), heap.Allocate(chunk));
    }
    uint8_t levels = 0;
    per_node = kMaxHeapItem / (key_size + 4);
    while (nodes.size() > 1) {
      std::vector<std::pair<Bytes, uint32_t>> parents;
      for (size_t first = 0; first < nodes.size(); first += per_node) {
        const size_t n = std::min(per_node, nodes.size() - first);
        Bytes index;
        for (size_t i = 0; i < n; ++i) {
          index.insert(index.end(), nodes[first + i].first.begin(), nodes[first + i].first.end());
          index.resize(index.size() + 4);
          Put32(index.data() + index.size() - 4, nodes[first + i].second);
        }
        parents.emplace_back(nodes[first].first, heap.Allocate(index));
      }
      nodes = std::move(parents);
      ++levels;
    }
    header[3] = levels;
    Put32(header.data() + 4, nodes[0].second);
  }
  heap.Patch(header_hid, header);
}

// ---------------------------------------------------------------------------------------------
// Subnodes

Nid SubnodeCollector::Store(std::span<const uint8_t> value, size_t unit) {
  SubnodeImage sub;
  sub.nid = MakeNid(kNidTypeLtp, next_index_++);
  const size_t per_block = block_size_ / unit * unit;
  for (size_t first = 0; first < value.size(); first += per_block) {
    const size_t n = std::min(per_block, value.size() - first);
    sub.blocks.emplace_back(value.begin() + static_cast<std::ptrdiff_t>(first),
                            value.begin() + static_cast<std::ptrdiff_t>(first + n));
    // Rows never straddle two blocks; every block but the last is padded to its full size,
    // where readers expect the next row.
    if (unit > 1 && first + n < value.size()) sub.blocks.back().resize(block_size_, 0);
  }
  const Nid nid = sub.nid;
  out_.push_back(std::move(sub));
  return nid;
}

// The reference stored for a variable-size value: nothing for an empty value, a heap id when it
// fits in the heap, a subnode otherwise.
static uint32_t StoreVariable(HeapBuilder& heap, SubnodeCollector& subs,
                              std::span<const uint8_t> value) {
  if (value.empty()) return 0;
  if (value.size() <= kMaxHeapItem) return heap.Allocate(value);
  return subs.Store(value);
}

// ---------------------------------------------------------------------------------------------
// Property context

NodeImage BuildPropertyContext(std::vector<Property> props, FileLayout layout) {
  std::sort(props.begin(), props.end(),
            [](const Property& a, const Property& b) { return a.id < b.id; });
  NodeImage image;
  HeapBuilder heap(kClientPropertyContext, layout);
  const uint32_t bth = ReserveBthHeader(heap);
  SubnodeCollector subs(image.subnodes, layout);
  Bytes records(props.size() * 8, 0);
  for (size_t i = 0; i < props.size(); ++i) {
    const Property& p = props[i];
    if (i > 0 && p.id == props[i - 1].id) throw PstError("a property is given twice");
    uint8_t* r = records.data() + 8 * i;
    Put16(r, p.id);
    Put16(r + 2, p.type);
    if (IsInlineType(p.type)) {
      std::memcpy(r + 4, p.value.data(), std::min<size_t>(4, p.value.size()));
    } else {
      Put32(r + 4, StoreVariable(heap, subs, p.value));
    }
  }
  BuildBth(heap, bth, 2, 6, records);
  heap.SetUserRoot(bth);
  image.blocks = heap.Blocks();
  return image;
}

// ---------------------------------------------------------------------------------------------
// Table context

TableBuilder::TableBuilder(std::vector<uint32_t> tags, FileLayout layout)
    : tags_(std::move(tags)), file_layout_(layout) {
  // Row id and version first, then 8-, 4-, 2- and 1-byte columns, then the cell bitmap.
  layout_.resize(tags_.size());
  uint16_t offset = 8;
  for (size_t width : {8, 4, 2, 1}) {
    for (size_t i = 0; i < tags_.size(); ++i) {
      const size_t w = RowWidth(static_cast<uint16_t>(tags_[i]));
      if (w == 0) throw PstError("a table column of a type tables cannot hold");
      if (w != width) continue;
      layout_[i] = {tags_[i], offset, static_cast<uint8_t>(w), static_cast<uint8_t>(i + 2)};
      offset = static_cast<uint16_t>(offset + w);
    }
    if (width == 4) end_4b_ = offset;
    if (width == 2) end_2b_ = offset;
    if (width == 1) end_1b_ = offset;
  }
  const size_t columns = tags_.size() + 2;
  row_size_ = static_cast<uint16_t>(end_1b_ + (columns + 7) / 8);
  layout_.push_back({kTagRowId, 0, 4, 0});
  layout_.push_back({kTagRowVersion, 4, 4, 1});
}

void TableBuilder::AddRow(uint32_t row_id, const std::vector<std::optional<Bytes>>& values) {
  if (file_layout_ == FileLayout::Ansi && row_ids_.size() == 0xFFFF)
    throw PstError("an ANSI store holds at most 65,535 items in a folder");
  Bytes row;
  for (size_t i = 0; i < tags_.size(); ++i) {
    const bool present = i < values.size() && values[i].has_value();
    row.push_back(present ? 1 : 0);
    if (!present) continue;
    const Bytes& v = *values[i];
    row.resize(row.size() + 4);
    Put32(row.data() + row.size() - 4, static_cast<uint32_t>(v.size()));
    row.insert(row.end(), v.begin(), v.end());
  }
  row_ids_.push_back(row_id);
  rows_.push_back(std::move(row));
}

NodeImage TableBuilder::Build() {
  // The row index maps a row id to the row's number: four bytes in Unicode files, two in ANSI
  // files, which so hold at most 65,535 rows in a table (Outlook 97-2002's limit of a folder).
  const uint8_t index_width = file_layout_ == FileLayout::Ansi ? 2 : 4;
  NodeImage image;
  HeapBuilder heap(kClientTableContext, file_layout_);
  const uint32_t row_index = ReserveBthHeader(heap);
  const size_t columns = tags_.size() + 2;
  Bytes info(22 + 8 * columns, 0);
  const uint32_t info_hid = heap.Allocate(info);
  SubnodeCollector subs(image.subnodes, file_layout_);
  const size_t ceb = end_1b_;
  Bytes matrix(rows_.size() * row_size_, 0);
  for (size_t r = 0; r < rows_.size(); ++r) {
    uint8_t* row = matrix.data() + r * row_size_;
    Put32(row, row_ids_[r]);
    Put32(row + 4, 1);
    row[ceb] |= 0xC0;  // row id and version are always there
    const uint8_t* in = rows_[r].data();
    for (size_t i = 0; i < tags_.size(); ++i) {
      if (*in++ == 0) continue;
      const uint32_t size = Get32(in);
      in += 4;
      std::span<const uint8_t> value(in, size);
      in += size;
      const Layout& col = layout_[i];
      const uint16_t type = static_cast<uint16_t>(col.tag);
      if (IsVariableType(type))
        Put32(row + col.offset, StoreVariable(heap, subs, value));
      else
        std::memcpy(row + col.offset, value.data(), std::min<size_t>(col.width, value.size()));
      row[ceb + col.bit / 8] |= static_cast<uint8_t>(0x80 >> (col.bit % 8));
    }
    Bytes().swap(rows_[r]);
  }
  rows_.clear();
  uint32_t rows_ref = 0;
  if (!matrix.empty())
    rows_ref =
        matrix.size() <= kMaxHeapItem ? heap.Allocate(matrix) : subs.Store(matrix, row_size_);

  std::vector<size_t> order(row_ids_.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return row_ids_[a] < row_ids_[b]; });
  const size_t record = 4 + index_width;
  Bytes index(order.size() * record);
  for (size_t i = 0; i < order.size(); ++i) {
    uint8_t* r = index.data() + record * i;
    Put32(r, row_ids_[order[i]]);
    if (index_width == 2)
      Put16(r + 4, static_cast<uint16_t>(order[i]));
    else
      Put32(r + 4, static_cast<uint32_t>(order[i]));
  }
  BuildBth(heap, row_index, 4, index_width, index);

  std::vector<Layout> descriptors = layout_;
  std::sort(descriptors.begin(), descriptors.end(),
            [](const Layout& a, const Layout& b) { return a.tag < b.tag; });
  info[0] = kClientTableContext;
  info[1] = static_cast<uint8_t>(columns);
  Put16(info.data() + 2, end_4b_);
  Put16(info.data() + 4, end_2b_);
  Put16(info.data() + 6, end_1b_);
  Put16(info.data() + 8, row_size_);
  Put32(info.data() + 10, row_index);
  Put32(info.data() + 14, rows_ref);
  Put32(info.data() + 18, 0);
  for (size_t i = 0; i < descriptors.size(); ++i) {
    uint8_t* d = info.data() + 22 + 8 * i;
    Put32(d, descriptors[i].tag);
    Put16(d + 4, descriptors[i].offset);
    d[6] = descriptors[i].width;
    d[7] = descriptors[i].bit;
  }
  heap.Patch(info_hid, info);
  heap.SetUserRoot(info_hid);
  image.blocks = heap.Blocks();
  return image;
}

}  // namespace lumivex::pst
