// [MS-PST] 2.3 LTP layer, as the reader sees it: the heap on a node (2.3.1), the B-tree on a heap
// (2.3.2), property contexts (2.3.3) and the row index of table contexts (2.3.4). The nodes and
// blocks under it: PstReaderNdb.cpp.
#include "source/PstReader.h"
#include "source/PstReaderLayout.h"

#include <algorithm>
#include <array>
#include <new>
#include <unordered_set>

namespace lumivex::pst {

namespace {

// Bytes of a fixed-size property type kept in the property's own record; 0 for the types kept
// in the heap or a subnode.
size_t InlineSize(uint16_t type) {
  switch (type) {
    case 0x0002:  // 16-bit integer
      return 2;
    case 0x000B:  // boolean
      return 1;
    case 0x0003:  // 32-bit integer
    case 0x0004:  // float
    case 0x000A:  // error code
      return 4;
    case 0x0000:  // unspecified and null: some writers store them; their four bytes are kept
    case 0x0001:  // as they are rather than followed as a reference, so the entry stays readable
      return 4;
    default:
      return 0;
  }
}

}  // namespace

// The heap of one node. Its blocks are read when an allocation in them is asked for and only
// the last few are kept: a contents table's heap holds a string of every row and runs to
// megabytes in a large folder, of which a walk of the row index needs a small part at a time.
// Its buffers come from the reader and go back to it, so that a heap allocates nothing once the
// reader has read a few.
class PstReader::Heap {
 public:
  Heap(PstReader& reader, Bid data) : reader_(reader) {
    if (data == 0) Damaged("a node has no data block");
    if ((data & kBidInternal) == 0) {
      single_ = data;
      count_ = 1;
    } else {
      reader.DataBlocks(data, bids_);
      count_ = bids_.size();
    }
    if (count_ == 0) Damaged("a node has no data block");
    for (Slot& slot : slots_) slot.buffer = reader_.TakeBuffer();
    const std::span<const uint8_t> first = Block(0);
    if (first.size() < 12 || first[2] != kHeapSignature)
      Damaged("a node's heap has no heap header");
    clientSignature_ = first[3];
    userRoot_ = U32(first, 4);
  }
  ~Heap() {
    for (Slot& slot : slots_) reader_.GiveBuffer(std::move(slot.buffer));
  }
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;

  uint8_t ClientSignature() const { return clientSignature_; }
  uint32_t UserRoot() const { return userRoot_; }
  // The number of its data blocks. A heap of one keeps every view it gave for as long as it
  // lives: only more blocks than its slots take one another's place.
  size_t Blocks() const { return count_; }

  // Heap allocation `hid` where it lies in the block cache (or the mapped file): valid until the
  // next allocation is asked for. Empty for hid 0.
  std::span<const uint8_t> View(uint32_t hid) {
    if (hid == 0) return {};
    if ((hid & 0x1F) != 0) Damaged("a heap reference is not a heap id");
    const uint32_t index = (hid >> 5) & 0x7FF;
    const uint32_t block = hid >> 16;
    if (block >= count_ || index == 0) Damaged("a heap id points outside its heap");
    const std::span<const uint8_t> b = Block(block);
    const uint16_t map = U16(b, 0);
    const uint16_t count = U16(b, map);
    if (index > count) Damaged("a heap id points outside its heap");
    const uint16_t begin = U16(b, map + 4 + 2 * (index - 1));
    const uint16_t end = U16(b, map + 4 + 2 * index);
    if (begin > end || end > map) Damaged("a heap allocation runs past its page");
    return b.subspan(begin, end - begin);
  }

  // Hands each leaf record of the B-tree on this heap whose header is at `hid` to `visit`, in
  // the order of the keys.
  template <typename Visit>
  void BthRecords(uint32_t hid, uint8_t& keySize, uint8_t& entrySize, Visit visit) {
    const std::span<const uint8_t> header = View(hid);
    if (header.size() < 8 || header[0] != kBthSignature)
      Damaged("a heap B-tree has no B-tree header");
    keySize = header[1];
    entrySize = header[2];
    if (keySize == 0 || keySize > 16 || entrySize > 32) Damaged("a heap B-tree has odd records");
    const uint8_t levels = header[3];
    if (levels > kMaxTreeDepth) Damaged("a heap B-tree is too deep");
    Collect(U32(header, 4), levels, keySize, entrySize, visit);
  }

 private:
  template <typename Visit>
  void Collect(uint32_t hid, int level, uint8_t keySize, uint8_t entrySize, Visit& visit) {
    if (hid == 0) return;
    // A tree of one page (every property context of a contact) cannot refer to a page twice.
    if (level > 0 || !seen_.empty()) {
      if (!seen_.insert(hid).second) Damaged("a heap B-tree refers to a page twice");
    }
    // The records are copied out: reading the pages or values they lead to may take the slot of
    // the block that holds them.
    ByteVector records = reader_.TakeBuffer();
    const std::span<const uint8_t> view = View(hid);
    records.assign(view.begin(), view.end());
    const size_t width = level > 0 ? keySize + 4u : size_t(keySize) + entrySize;
    if (records.size() % width != 0) Damaged("a heap B-tree page holds a partial record");
    for (size_t at = 0; at < records.size(); at += width) {
      if (level > 0)
        Collect(U32(records, at + keySize), level - 1, keySize, entrySize, visit);
      else
        visit(std::span<const uint8_t>(records).subspan(at, width));
    }
    reader_.GiveBuffer(std::move(records));
  }

  // Block `index` of the heap, through a cache of one slot per index modulo its size.
  std::span<const uint8_t> Block(size_t index) {
    Slot& slot = slots_[index % slots_.size()];
    if (slot.index != index) {
      slot.index = SIZE_MAX;  // until the block has been read whole
      slot.view = reader_.ReadBlock(count_ == 1 ? single_ : bids_[index], slot.buffer);
      slot.index = index;
    }
    return slot.view;
  }

  struct Slot {
    size_t index = SIZE_MAX;
    std::span<const uint8_t> view;
    ByteVector buffer;
  };
  PstReader& reader_;
  Bid single_ = 0;         // the one data block of a small heap, without a list
  std::vector<Bid> bids_;  // the data blocks of a heap of more than one
  size_t count_ = 0;
  std::array<Slot, 8> slots_;
  std::unordered_set<uint32_t> seen_;  // B-tree pages visited, so that a loop ends
  uint8_t clientSignature_ = 0;
  uint32_t userRoot_ = 0;
};

PropertySet PstReader::ReadProperties(const NodeRef& node) {
  Heap heap(*this, node.data);
  if (heap.ClientSignature() != kClientPropertyContext) Damaged("the node holds no properties");
  uint8_t keySize = 0, entrySize = 0;
  // Values in the heap of a heap of one block (every contact's) stay where they lie while the
  // heap lives: they are copied once, into the set's block, and their records keep a view of
  // them until then. The others are gathered one after the other in a buffer that keeps its
  // room from node to node: `used` bytes of it hold them.
  const bool stays = heap.Blocks() == 1;
  size_t used = 0;
  size_t viewed = 0;  // bytes of the values left where they lie
  const auto append = [&](const uint8_t* from, size_t count) {
    if (count == 0) return;
    if (values_.size() - used < count) values_.resize(std::max(2 * values_.size(), used + count));
    std::memcpy(values_.data() + used, from, count);
    used += count;
  };
  records_.clear();
  heap.BthRecords(heap.UserRoot(), keySize, entrySize, [&](std::span<const uint8_t> record) {
    if (keySize != 2 || entrySize != 6) Damaged("the node's property records have an odd size");
    PropertyRecord p;
    p.id = U16(record, 0);
    p.type = U16(record, 2);
    const uint32_t hnid = U32(record, 4);
    const size_t at = used;
    if (const size_t inlineSize = InlineSize(p.type); inlineSize > 0) {
      append(record.data() + 4, inlineSize);
    } else if ((hnid & 0x1F) == 0) {
      const auto value = heap.View(hnid);
      if (stays && !value.empty()) {
        p.value = value;
        viewed += value.size();
      } else {
        append(value.data(), value.size());
      }
    } else {
      const auto sub = FindSubnode(node.subnodes, hnid);
      if (!sub) Damaged("property " + Hex(p.id) + " is in a subnode the node does not have");
      values_.resize(used);
      AppendData(sub->first, values_);
      used = values_.size();
    }
    // What the values take together, which a sound node keeps below the file's size.
    if (used + viewed > size_) Damaged("the node's properties are larger than the file");
    records_.push_back({p, {at, used - at}});
  });
  // One block for the records and the values after them: first those gathered, then those
  // viewed.
  const size_t recordBytes = records_.size() * sizeof(PropertyRecord);
  static_assert(sizeof(PropertyRecord) % sizeof(uint64_t) == 0 &&
                alignof(PropertyRecord) <= alignof(uint64_t));
  PropertySet set;
  set.block = std::make_unique_for_overwrite<uint64_t[]>((recordBytes + used + viewed + 7) / 8);
  auto* records = reinterpret_cast<PropertyRecord*>(set.block.get());
  uint8_t* values = reinterpret_cast<uint8_t*>(set.block.get()) + recordBytes;
  if (used > 0) std::memcpy(values, values_.data(), used);
  uint8_t* next = values + used;
  for (size_t i = 0; i < records_.size(); ++i) {
    const auto& [record, span] = records_[i];
    std::span<const uint8_t> value(values + span.first, span.second);
    if (record.value.data() != nullptr) {
      std::memcpy(next, record.value.data(), record.value.size());
      value = {next, record.value.size()};
      next += record.value.size();
    }
    new (records + i) PropertyRecord{record.id, record.type, value};
  }
  set.records = {records, records_.size()};
  return set;
}

std::vector<uint32_t> PstReader::ReadRowIds(const NodeRef& node) {
  Heap heap(*this, node.data);
  if (heap.ClientSignature() != kClientTableContext) Damaged("the node holds no table");
  const std::span<const uint8_t> info = heap.View(heap.UserRoot());
  if (info.size() < 22 || info[0] != kClientTableContext) Damaged("the table has no table header");
  const uint32_t rowIndex = U32(info, 10);
  // The row index maps each row id to its row; its records come in the order of the ids, which
  // is the order the folder's entries are listed in.
  uint8_t keySize = 0, entrySize = 0;
  std::vector<uint32_t> ids;
  heap.BthRecords(rowIndex, keySize, entrySize, [&](std::span<const uint8_t> record) {
    if (keySize != 4) Damaged("the table's row index has odd keys");
    ids.push_back(U32(record, 0));
  });
  return ids;
}

}  // namespace lumivex::pst
