#include "tools/pstwriter/Ndb.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace lumivex::pst {

namespace {

constexpr uint64_t kFirstAMap = 0x4400;
constexpr uint64_t kAMapSpan = 496 * 8 * 64;  // bytes mapped by one allocation-map page
constexpr uint64_t kPageSize = 512;
constexpr uint64_t kFMapFirstRegion = 128;  // the header maps the first 128 regions itself
constexpr uint64_t kFMapEvery = 496;
constexpr uint64_t kFPMapFirstRegion = 128 * 64;  // 2 GB: beyond what this writer produces

constexpr uint8_t kPtypeBBT = 0x80;
constexpr uint8_t kPtypeNBT = 0x81;
constexpr uint8_t kPtypeFMap = 0x82;
constexpr uint8_t kPtypePMap = 0x83;
constexpr uint8_t kPtypeAMap = 0x84;

constexpr size_t kBtEntriesBytes = 488;

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t AlignUp(uint64_t v, uint64_t a) {
  return (v + a - 1) / a * a;
}

// Bytes reserved for map pages at the start of one allocation region.
uint64_t ReservedAtRegionStart(uint64_t region) {
  uint64_t reserved = kPageSize;               // the allocation map
  if (region % 8 == 0) reserved += kPageSize;  // the page map
  if (region >= kFMapFirstRegion && (region - kFMapFirstRegion) % kFMapEvery == 0)
    reserved += kPageSize;  // the free map
  return reserved;
}

}  // namespace

NdbWriter::NdbWriter(const std::string& path, Encoding encoding)
    : path_(path), temp_path_(path + ".part"), encoding_(encoding), cursor_(kFirstAMap) {
  for (auto& n : next_nid_index_) n = 0x400;
  file_ = std::fopen(temp_path_.c_str(), "wb");
  if (!file_)
    throw PstError("cannot create " + temp_path_ + ": " + std::strerror(errno) +
                   " (check that the folder exists and is writable)");
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
}

NdbWriter::~NdbWriter() {
  if (file_) std::fclose(file_);
  if (!finished_) std::remove(temp_path_.c_str());
}

void NdbWriter::Fail(const std::string& what) {
  throw PstError(what + " " + temp_path_ + ": " + std::strerror(errno));
}

uint64_t NdbWriter::Allocate(uint64_t size, uint64_t align) {
  uint64_t pos = AlignUp(cursor_, align);
  for (;;) {
    const uint64_t region = (pos - kFirstAMap) / kAMapSpan;
    if (region >= kFPMapFirstRegion)
      throw PstError("the store would grow beyond 2 GB, more than this writer supports");
    const uint64_t start = kFirstAMap + region * kAMapSpan;
    const uint64_t data_start = start + ReservedAtRegionStart(region);
    if (pos < data_start) pos = data_start;
    if (pos + size <= start + kAMapSpan) break;
    pos = start + kAMapSpan;  // allocations never straddle two regions
  }
  cursor_ = pos + size;
  const uint64_t first = (pos - kFirstAMap) / 64, last = (pos + size - kFirstAMap + 63) / 64;
  if (used_.size() < last) used_.resize(last + 4096, 0);
  std::fill(used_.begin() + static_cast<std::ptrdiff_t>(first),
            used_.begin() + static_cast<std::ptrdiff_t>(last), 1);
  return pos;
}

void NdbWriter::WriteAt(uint64_t ib, std::span<const uint8_t> bytes) {
  if (ib != file_pos_ && fseeko(file_, static_cast<off_t>(ib), SEEK_SET) != 0)
    Fail("cannot seek in");
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) Fail("cannot write");
  file_pos_ = ib + bytes.size();
}

Bid NdbWriter::NewBlockId(bool internal) {
  return (next_block_++ << 2) | (internal ? 2 : 0);
}

Bid NdbWriter::WriteBlock(std::span<const uint8_t> payload, bool internal) {
  if (payload.size() > kMaxBlockData) throw PstError("block payload larger than 8176 bytes");
  const uint64_t total = AlignUp(payload.size() + 16, 64);
  const uint64_t ib = Allocate(total, 64);
  const Bid bid = NewBlockId(internal);
  std::vector<uint8_t> block(total, 0);
  std::memcpy(block.data(), payload.data(), payload.size());
  if (!internal && encoding_ == Encoding::Compressible)
    EncodePermute(std::span(block.data(), payload.size()));
  uint8_t* trailer = block.data() + total - 16;
  Put16(trailer, static_cast<uint16_t>(payload.size()));
  Put16(trailer + 2, BlockSignature(ib, bid));
  Put32(trailer + 4, Crc32(std::span(block.data(), payload.size())));
  Put64(trailer + 8, bid);
  WriteAt(ib, block);
  bbt_.push_back({bid, ib, static_cast<uint16_t>(payload.size())});
  return bid;
}

Bid NdbWriter::WriteDataBlock(std::span<const uint8_t> payload) {
  return WriteBlock(payload, false);
}

Bid NdbWriter::WriteDataTree(const std::vector<Bytes>& blocks) {
  if (blocks.empty()) return WriteDataBlock({});
  if (blocks.size() == 1) return WriteDataBlock(blocks[0]);
  constexpr size_t kPerXBlock = (kMaxBlockData - 8) / 8;  // 1021 block ids
  if (blocks.size() > kPerXBlock * kPerXBlock) throw PstError("value too large for one node");
  // One XBLOCK per 1021 data blocks, and one XXBLOCK above them when there are several.
  std::vector<std::pair<Bid, uint32_t>> xblocks;  // bid, bytes below it
  for (size_t first = 0; first < blocks.size(); first += kPerXBlock) {
    const size_t count = std::min(kPerXBlock, blocks.size() - first);
    Bytes x(8 + 8 * count, 0);
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i) {
      Put64(x.data() + 8 + 8 * i, WriteDataBlock(blocks[first + i]));
      total += blocks[first + i].size();
    }
    x[0] = 0x01;
    x[1] = 1;
    Put16(x.data() + 2, static_cast<uint16_t>(count));
    Put32(x.data() + 4, static_cast<uint32_t>(total));
    xblocks.emplace_back(WriteBlock(x, true), static_cast<uint32_t>(total));
  }
  if (xblocks.size() == 1) return xblocks[0].first;
  Bytes xx(8 + 8 * xblocks.size(), 0);
  uint64_t total = 0;
  for (size_t i = 0; i < xblocks.size(); ++i) {
    Put64(xx.data() + 8 + 8 * i, xblocks[i].first);
    total += xblocks[i].second;
  }
  xx[0] = 0x01;
  xx[1] = 2;
  Put16(xx.data() + 2, static_cast<uint16_t>(xblocks.size()));
  Put32(xx.data() + 4, static_cast<uint32_t>(total));
  return WriteBlock(xx, true);
}

Bid NdbWriter::WriteSubnodeTree(std::vector<SubnodeEntry> entries) {
  if (entries.empty()) return 0;
  std::sort(entries.begin(), entries.end(),
            [](const SubnodeEntry& a, const SubnodeEntry& b) { return a.nid < b.nid; });
  constexpr size_t kPerSL = (kMaxBlockData - 8) / 24;  // 340 leaf entries
  constexpr size_t kPerSI = (kMaxBlockData - 8) / 16;  // 510 index entries
  std::vector<std::pair<Nid, Bid>> leaves;
  for (size_t first = 0; first < entries.size(); first += kPerSL) {
    const size_t count = std::min(kPerSL, entries.size() - first);
    Bytes sl(8 + 24 * count, 0);
    sl[0] = 0x02;
    sl[1] = 0;
    Put16(sl.data() + 2, static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) {
      const SubnodeEntry& e = entries[first + i];
      Put64(sl.data() + 8 + 24 * i, e.nid);
      Put64(sl.data() + 16 + 24 * i, e.data);
      Put64(sl.data() + 24 + 24 * i, e.subnodes);
    }
    leaves.emplace_back(entries[first].nid, WriteBlock(sl, true));
  }
  if (leaves.size() == 1) return leaves[0].second;
  if (leaves.size() > kPerSI) throw PstError("too many subnodes in one node");
  Bytes si(8 + 16 * leaves.size(), 0);
  si[0] = 0x02;
  si[1] = 1;
  Put16(si.data() + 2, static_cast<uint16_t>(leaves.size()));
  for (size_t i = 0; i < leaves.size(); ++i) {
    Put64(si.data() + 8 + 16 * i, leaves[i].first);
    Put64(si.data() + 16 + 16 * i, leaves[i].second);
  }
  return WriteBlock(si, true);
}

Bid NdbWriter::WriteNode(Nid nid, Nid parent, const NodeImage& image) {
  const Bid data = WriteDataTree(image.blocks);
  std::vector<SubnodeEntry> subs;
  subs.reserve(image.subnodes.size());
  for (const SubnodeImage& s : image.subnodes) subs.push_back({s.nid, WriteDataTree(s.blocks), 0});
  const Bid sub = WriteSubnodeTree(std::move(subs));
  AddNodeEntry(nid, data, sub, parent);
  return data;
}

void NdbWriter::AddNodeEntry(Nid nid, Bid data, Bid subnodes, Nid parent) {
  nbt_.push_back({nid, data, subnodes, parent});
}

void NdbWriter::WritePage(uint64_t ib, uint8_t ptype, uint64_t bid, std::span<uint8_t, 512> page,
                          bool signed_page) {
  uint8_t* trailer = page.data() + 496;
  trailer[0] = ptype;
  trailer[1] = ptype;
  Put16(trailer + 2, signed_page ? BlockSignature(ib, bid) : 0);
  Put32(trailer + 4, Crc32(std::span<const uint8_t>(page.data(), 496)));
  Put64(trailer + 8, bid);
  WriteAt(ib, page);
}

template <typename Fill>
NdbWriter::BtRef NdbWriter::WriteBTree(uint8_t ptype, size_t entry_size, size_t count, Fill fill) {
  // Each level is written as full pages, from the leaves up to a single root page; a level above
  // the leaves holds (first key, bid, ib) of each page below.
  std::vector<BtRef> below;
  uint8_t level = 0;
  for (;;) {
    const size_t entry_bytes = level == 0 ? entry_size : 24;
    const size_t entries = level == 0 ? count : below.size();
    const size_t per_page = kBtEntriesBytes / entry_bytes;
    const size_t pages = std::max<size_t>(1, (entries + per_page - 1) / per_page);
    std::vector<BtRef> written;
    written.reserve(pages);
    for (size_t p = 0; p < pages; ++p) {
      std::array<uint8_t, 512> page{};
      const size_t first = p * per_page;
      const size_t n = std::min(per_page, entries - first);
      for (size_t i = 0; i < n; ++i) {
        uint8_t* e = page.data() + i * entry_bytes;
        if (level == 0) {
          fill(first + i, e);
        } else {
          Put64(e, below[first + i].key);
          Put64(e + 8, below[first + i].bid);
          Put64(e + 16, below[first + i].ib);
        }
      }
      page[488] = static_cast<uint8_t>(n);
      page[489] = static_cast<uint8_t>(per_page);
      page[490] = static_cast<uint8_t>(entry_bytes);
      page[491] = level;
      const uint64_t ib = Allocate(512, 512);
      const uint64_t bid = next_page_++ << 2;
      WritePage(ib, ptype, bid, page, true);
      uint64_t key = 0;
      for (int k = 7; k >= 0 && n > 0; --k) key = (key << 8) | page[k];
      written.push_back({key, bid, ib});
    }
    if (pages == 1) return written[0];
    below = std::move(written);
    ++level;
  }
}

void NdbWriter::WriteMaps(uint64_t eof, uint64_t& amap_free, uint64_t& last_amap) {
  const uint64_t regions = (eof - kFirstAMap) / kAMapSpan;
  amap_free = 0;
  std::vector<uint8_t> longest_free(regions, 0);
  for (uint64_t r = 0; r < regions; ++r) {
    std::array<uint8_t, 512> page{};
    const uint64_t start = kFirstAMap + r * kAMapSpan;
    const uint64_t reserved_units = ReservedAtRegionStart(r) / 64;
    uint64_t run = 0, longest = 0;
    for (uint64_t u = 0; u < 496 * 8; ++u) {
      const uint64_t unit = r * 496 * 8 + u;
      const bool used = u < reserved_units || (unit < used_.size() && used_[unit]);
      if (used) {
        page[u / 8] |= static_cast<uint8_t>(0x80 >> (u % 8));
        run = 0;
      } else {
        amap_free += 64;
        longest = std::max(longest, ++run);
      }
    }
    longest_free[r] = static_cast<uint8_t>(std::min<uint64_t>(longest, 255));
    WritePage(start, kPtypeAMap, start, page, false);
    last_amap = start;
    if (r % 8 == 0) {
      // Page maps are no longer consulted; they are kept, all pages marked allocated.
      std::array<uint8_t, 512> pmap{};
      std::fill(pmap.begin(), pmap.begin() + 496, 0xFF);
      WritePage(start + kPageSize, kPtypePMap, start + kPageSize, pmap, false);
    }
  }
  for (uint64_t r = kFMapFirstRegion; r < regions; r += kFMapEvery) {
    std::array<uint8_t, 512> fmap{};
    for (uint64_t i = 0; i < 496 && r + i < regions; ++i) fmap[i] = longest_free[r + i];
    const uint64_t ib = kFirstAMap + r * kAMapSpan + 2 * kPageSize;
    WritePage(ib, kPtypeFMap, ib, fmap, false);
  }
}

void NdbWriter::WriteHeader(uint64_t eof, uint64_t last_amap, uint64_t amap_free, const BtRef& nbt,
                            const BtRef& bbt) {
  std::array<uint8_t, 564> h{};
  std::memcpy(h.data(), "!BDN", 4);
  Put16(&h[8], 0x4D53);  // "SM"
  Put16(&h[10], 23);     // Unicode
  Put16(&h[12], 19);     // client version
  h[14] = 0x01;
  h[15] = 0x01;
  Put64(&h[32], next_page_ << 2);  // bidNextP
  Put32(&h[40], 1);                // dwUnique
  for (int t = 0; t < 32; ++t) Put32(&h[44 + 4 * t], next_nid_index_[t]);
  uint8_t* root = &h[180];
  Put64(root + 4, eof);
  Put64(root + 12, last_amap);
  Put64(root + 20, amap_free);
  Put64(root + 28, 0);
  Put64(root + 36, nbt.bid);
  Put64(root + 44, nbt.ib);
  Put64(root + 52, bbt.bid);
  Put64(root + 60, bbt.ib);
  root[68] = 0x02;                    // the allocation maps are valid
  std::fill(&h[256], &h[512], 0xFF);  // free maps of the header: not used
  h[512] = 0x80;
  h[513] = static_cast<uint8_t>(encoding_);
  Put64(&h[516], next_block_ << 2);  // bidNextB
  Put32(&h[4], Crc32(std::span<const uint8_t>(&h[8], 471)));
  Put32(&h[524], Crc32(std::span<const uint8_t>(&h[8], 516)));
  WriteAt(0, h);
}

void NdbWriter::Finish() {
  if (finished_) return;
  std::sort(nbt_.begin(), nbt_.end(),
            [](const NbtEntry& a, const NbtEntry& b) { return a.nid < b.nid; });
  std::sort(bbt_.begin(), bbt_.end(),
            [](const BbtEntry& a, const BbtEntry& b) { return a.bid < b.bid; });
  for (size_t i = 1; i < nbt_.size(); ++i)
    if (nbt_[i].nid == nbt_[i - 1].nid) throw PstError("two nodes with the same id");

  const BtRef nbt = WriteBTree(kPtypeNBT, 32, nbt_.size(), [&](size_t i, uint8_t* e) {
    const NbtEntry& n = nbt_[i];
    Put64(e, n.nid);
    Put64(e + 8, n.data);
    Put64(e + 16, n.subnodes);
    Put32(e + 24, n.parent);
  });
  const BtRef bbt = WriteBTree(kPtypeBBT, 24, bbt_.size(), [&](size_t i, uint8_t* e) {
    const BbtEntry& b = bbt_[i];
    Put64(e, b.bid);
    Put64(e + 8, b.ib);
    Put16(e + 16, b.cb);
    Put16(e + 18, 2);  // references: the B-tree and the node
  });

  // The file ends at the end of the last allocation region.
  const uint64_t eof =
      kFirstAMap + AlignUp(std::max<uint64_t>(cursor_, kFirstAMap + 1) - kFirstAMap, kAMapSpan);
  uint64_t amap_free = 0, last_amap = kFirstAMap;
  WriteMaps(eof, amap_free, last_amap);
  WriteHeader(eof, last_amap, amap_free, nbt, bbt);
  if (std::fflush(file_) != 0) Fail("cannot write");
  if (std::fclose(file_) != 0) {
    file_ = nullptr;
    Fail("cannot write");
  }
  file_ = nullptr;
  std::error_code ec;
  std::filesystem::resize_file(temp_path_, eof, ec);
  if (!ec) std::filesystem::rename(temp_path_, path_, ec);
  if (ec) throw PstError("cannot put " + path_ + " in place: " + ec.message());
  finished_ = true;
}

}  // namespace lumivex::pst
