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

// Where the two layouts put the parts of a 512-byte page. Unicode pages hold 488 bytes of B-tree
// entries and a 16-byte trailer (ptype, ptype, wSig, dwCRC, 64-bit bid); ANSI pages hold 496
// bytes of entries and a 12-byte trailer (ptype, ptype, wSig, 32-bit bid, dwCRC). The map pages
// of ANSI files start with four bytes of padding, so their 496 bytes of bits end at the trailer
// as well.
struct PageShape {
  size_t entries;   // bytes of B-tree entries; cEnt, cEntMax, cbEnt and cLevel follow
  size_t trailer;   // offset of the trailer; the checksum covers the bytes before it
  size_t crc;       // offset of dwCRC in the page
  size_t bid;       // offset of the page's bid in the page
  size_t map_bits;  // offset of the bits of an allocation, page or free map
};
constexpr PageShape kUnicodePage = {488, 496, 500, 504, 0};
constexpr PageShape kAnsiPage = {496, 500, 508, 504, 4};

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

NdbWriter::NdbWriter(const std::string& path, Encoding encoding, FileLayout layout)
    : path_(path),
      temp_path_(path + ".part"),
      encoding_(encoding),
      layout_(layout),
      ansi_(layout == FileLayout::Ansi),
      id_size_(ansi_ ? 4 : 8),
      max_block_(MaxBlockData(layout)),
      cursor_(kFirstAMap) {
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

void NdbWriter::PutId(uint8_t* p, uint64_t v) const {
  if (ansi_)
    Put32(p, static_cast<uint32_t>(v));
  else
    Put64(p, v);
}

Bid NdbWriter::NewBlockId(bool internal) {
  return (next_block_++ << 2) | (internal ? kBidInternal : 0);
}

Bid NdbWriter::WriteBlock(std::span<const uint8_t> payload, bool internal) {
  if (payload.size() > max_block_)
    throw PstError("block payload larger than " + std::to_string(max_block_) + " bytes");
  // The trailer: cb, wSig, then dwCRC and a 64-bit bid (Unicode) or a 32-bit bid and dwCRC (ANSI).
  const size_t trailer_size = ansi_ ? 12 : 16;
  const uint64_t total = AlignUp(payload.size() + trailer_size, 64);
  const uint64_t ib = Allocate(total, 64);
  const Bid bid = NewBlockId(internal);
  std::vector<uint8_t> block(total, 0);
  std::memcpy(block.data(), payload.data(), payload.size());
  if (!internal && encoding_ == Encoding::Compressible)
    EncodePermute(std::span(block.data(), payload.size()));
  if (!internal && encoding_ == Encoding::Cyclic)
    CryptCyclic(std::span(block.data(), payload.size()), static_cast<uint32_t>(bid));
  uint8_t* trailer = block.data() + total - trailer_size;
  Put16(trailer, static_cast<uint16_t>(payload.size()));
  Put16(trailer + 2, BlockSignature(ib, bid));
  const uint32_t crc = Crc32(std::span(block.data(), payload.size()));
  if (ansi_) {
    Put32(trailer + 4, static_cast<uint32_t>(bid));
    Put32(trailer + 8, crc);
  } else {
    Put32(trailer + 4, crc);
    Put64(trailer + 8, bid);
  }
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
  // 1021 block ids of 8 bytes (Unicode) or 2043 of 4 bytes (ANSI) after the 8-byte header.
  const size_t per_xblock = (max_block_ - 8) / id_size_;
  if (blocks.size() > per_xblock * per_xblock) throw PstError("value too large for one node");
  // One XBLOCK per that many data blocks, and one XXBLOCK above them when there are several.
  std::vector<std::pair<Bid, uint32_t>> xblocks;  // bid, bytes below it
  for (size_t first = 0; first < blocks.size(); first += per_xblock) {
    const size_t count = std::min(per_xblock, blocks.size() - first);
    Bytes x(8 + id_size_ * count, 0);
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i) {
      PutId(x.data() + 8 + id_size_ * i, WriteDataBlock(blocks[first + i]));
      total += blocks[first + i].size();
    }
    x[0] = 0x01;
    x[1] = 1;
    Put16(x.data() + 2, static_cast<uint16_t>(count));
    Put32(x.data() + 4, static_cast<uint32_t>(total));
    xblocks.emplace_back(WriteBlock(x, true), static_cast<uint32_t>(total));
  }
  if (xblocks.size() == 1) return xblocks[0].first;
  Bytes xx(8 + id_size_ * xblocks.size(), 0);
  uint64_t total = 0;
  for (size_t i = 0; i < xblocks.size(); ++i) {
    PutId(xx.data() + 8 + id_size_ * i, xblocks[i].first);
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
  // Both blocks start with btype, cLevel and cEnt; Unicode ones add four bytes of padding. Their
  // entries hold a node id and one (index) or two (leaf) block ids, each of the layout's width:
  // 340 leaf and 510 index entries a block in Unicode files, 681 and 1022 in ANSI files.
  const size_t header = ansi_ ? 4 : 8;
  const size_t sl_entry = 3 * id_size_, si_entry = 2 * id_size_;
  const size_t per_sl = (max_block_ - header) / sl_entry;
  const size_t per_si = (max_block_ - header) / si_entry;
  std::vector<std::pair<Nid, Bid>> leaves;
  for (size_t first = 0; first < entries.size(); first += per_sl) {
    const size_t count = std::min(per_sl, entries.size() - first);
    Bytes sl(header + sl_entry * count, 0);
    sl[0] = 0x02;
    sl[1] = 0;
    Put16(sl.data() + 2, static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) {
      const SubnodeEntry& e = entries[first + i];
      uint8_t* out = sl.data() + header + sl_entry * i;
      PutId(out, e.nid);
      PutId(out + id_size_, e.data);
      PutId(out + 2 * id_size_, e.subnodes);
    }
    leaves.emplace_back(entries[first].nid, WriteBlock(sl, true));
  }
  if (leaves.size() == 1) return leaves[0].second;
  if (leaves.size() > per_si) throw PstError("too many subnodes in one node");
  Bytes si(header + si_entry * leaves.size(), 0);
  si[0] = 0x02;
  si[1] = 1;
  Put16(si.data() + 2, static_cast<uint16_t>(leaves.size()));
  for (size_t i = 0; i < leaves.size(); ++i) {
    uint8_t* out = si.data() + header + si_entry * i;
    PutId(out, leaves[i].first);
    PutId(out + id_size_, leaves[i].second);
  }
  return WriteBlock(si, true);
}

Bid NdbWriter::WriteSubnodes(const std::vector<SubnodeImage>& subnodes) {
  std::vector<SubnodeEntry> subs;
  subs.reserve(subnodes.size());
  for (const SubnodeImage& s : subnodes) {
    const Bid data = WriteDataTree(s.blocks);
    subs.push_back({s.nid, data, WriteSubnodes(s.subnodes)});
  }
  return WriteSubnodeTree(std::move(subs));
}

Bid NdbWriter::WriteNode(Nid nid, Nid parent, const NodeImage& image) {
  const Bid data = WriteDataTree(image.blocks);
  AddNodeEntry(nid, data, WriteSubnodes(image.subnodes), parent);
  return data;
}

void NdbWriter::AddNodeEntry(Nid nid, Bid data, Bid subnodes, Nid parent) {
  nbt_.push_back({nid, data, subnodes, parent});
}

void NdbWriter::WritePage(uint64_t ib, uint8_t ptype, uint64_t bid, std::span<uint8_t, 512> page,
                          bool signed_page) {
  const PageShape& shape = ansi_ ? kAnsiPage : kUnicodePage;
  uint8_t* trailer = page.data() + shape.trailer;
  trailer[0] = ptype;
  trailer[1] = ptype;
  Put16(trailer + 2, signed_page ? BlockSignature(ib, bid) : 0);
  PutId(page.data() + shape.bid, bid);
  Put32(page.data() + shape.crc, Crc32(std::span<const uint8_t>(page.data(), shape.trailer)));
  WriteAt(ib, page);
}

template <typename Fill>
NdbWriter::BtRef NdbWriter::WriteBTree(uint8_t ptype, size_t entry_size, size_t count, Fill fill) {
  // Each level is written as full pages, from the leaves up to a single root page; a level above
  // the leaves holds (first key, bid, ib) of each page below.
  const size_t entries_bytes = (ansi_ ? kAnsiPage : kUnicodePage).entries;
  std::vector<BtRef> below;
  uint8_t level = 0;
  for (;;) {
    const size_t entry_bytes = level == 0 ? entry_size : 3 * id_size_;
    const size_t entries = level == 0 ? count : below.size();
    const size_t per_page = entries_bytes / entry_bytes;
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
          PutId(e, below[first + i].key);
          PutId(e + id_size_, below[first + i].bid);
          PutId(e + 2 * id_size_, below[first + i].ib);
        }
      }
      page[entries_bytes] = static_cast<uint8_t>(n);
      page[entries_bytes + 1] = static_cast<uint8_t>(per_page);
      page[entries_bytes + 2] = static_cast<uint8_t>(entry_bytes);
      page[entries_bytes + 3] = level;
      const uint64_t ib = Allocate(512, 512);
      const uint64_t bid = next_page_++ << 2;
      WritePage(ib, ptype, bid, page, true);
      uint64_t key = 0;
      for (size_t k = id_size_; k-- > 0 && n > 0;) key = (key << 8) | page[k];
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
  const size_t bits = (ansi_ ? kAnsiPage : kUnicodePage).map_bits;
  for (uint64_t r = 0; r < regions; ++r) {
    std::array<uint8_t, 512> page{};
    const uint64_t start = kFirstAMap + r * kAMapSpan;
    const uint64_t reserved_units = ReservedAtRegionStart(r) / 64;
    uint64_t run = 0, longest = 0;
    for (uint64_t u = 0; u < 496 * 8; ++u) {
      const uint64_t unit = r * 496 * 8 + u;
      const bool used = u < reserved_units || (unit < used_.size() && used_[unit]);
      if (used) {
        page[bits + u / 8] |= static_cast<uint8_t>(0x80 >> (u % 8));
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
      std::fill(pmap.begin() + static_cast<std::ptrdiff_t>(bits),
                pmap.begin() + static_cast<std::ptrdiff_t>(bits + 496), 0xFF);
      WritePage(start + kPageSize, kPtypePMap, start + kPageSize, pmap, false);
    }
  }
  for (uint64_t r = kFMapFirstRegion; r < regions; r += kFMapEvery) {
    std::array<uint8_t, 512> fmap{};
    for (uint64_t i = 0; i < 496 && r + i < regions; ++i) fmap[bits + i] = longest_free[r + i];
    const uint64_t ib = kFirstAMap + r * kAMapSpan + 2 * kPageSize;
    WritePage(ib, kPtypeFMap, ib, fmap, false);
  }
}

void NdbWriter::WriteHeader(uint64_t eof, uint64_t last_amap, uint64_t amap_free, const BtRef& nbt,
                            const BtRef& bbt) {
  if (ansi_) {
    WriteAnsiHeader(eof, last_amap, amap_free, nbt, bbt);
    return;
  }
  std::array<uint8_t, 564> h{};
  std::memcpy(h.data(), kHeaderMagic, 4);
  Put16(&h[8], 0x4D53);  // "SM"
  Put16(&h[10], kVersionUnicode);
  Put16(&h[12], 19);  // client version
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

// The ANSI header is 512 bytes: 32-bit bidNextB and bidNextP ahead of dwUnique and the rgnid
// array, a ROOT of 32-bit fields at 164, the header's free maps, then bSentinel and bCryptMethod
// at 460. Only the partial checksum is kept.
void NdbWriter::WriteAnsiHeader(uint64_t eof, uint64_t last_amap, uint64_t amap_free,
                                const BtRef& nbt, const BtRef& bbt) {
  std::array<uint8_t, 512> h{};
  std::memcpy(h.data(), kHeaderMagic, 4);
  Put16(&h[8], 0x4D53);  // "SM"
  Put16(&h[10], kVersionAnsiFirst);
  Put16(&h[12], 19);  // client version
  h[14] = 0x01;
  h[15] = 0x01;
  Put32(&h[24], static_cast<uint32_t>(next_block_ << 2));  // bidNextB
  Put32(&h[28], static_cast<uint32_t>(next_page_ << 2));   // bidNextP
  Put32(&h[32], 1);                                        // dwUnique
  for (int t = 0; t < 32; ++t) Put32(&h[36 + 4 * t], next_nid_index_[t]);
  uint8_t* root = &h[164];
  Put32(root + 4, static_cast<uint32_t>(eof));
  Put32(root + 8, static_cast<uint32_t>(last_amap));
  Put32(root + 12, static_cast<uint32_t>(amap_free));
  Put32(root + 16, 0);
  Put32(root + 20, static_cast<uint32_t>(nbt.bid));
  Put32(root + 24, static_cast<uint32_t>(nbt.ib));
  Put32(root + 28, static_cast<uint32_t>(bbt.bid));
  Put32(root + 32, static_cast<uint32_t>(bbt.ib));
  root[36] = 0x02;                    // the allocation maps are valid
  std::fill(&h[204], &h[460], 0xFF);  // free maps of the header: not used
  h[460] = 0x80;
  h[461] = static_cast<uint8_t>(encoding_);
  Put32(&h[4], Crc32(std::span<const uint8_t>(&h[8], 471)));
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

  // Node entries: nid, data bid, subnode bid (each of the layout's width), parent nid, and four
  // bytes of padding in Unicode files. Block entries: bid and ib, cb, reference count, and four
  // bytes of padding in Unicode files.
  const size_t id = id_size_;
  const BtRef nbt = WriteBTree(kPtypeNbt, ansi_ ? 16 : 32, nbt_.size(), [&](size_t i, uint8_t* e) {
    const NbtEntry& n = nbt_[i];
    PutId(e, n.nid);
    PutId(e + id, n.data);
    PutId(e + 2 * id, n.subnodes);
    Put32(e + 3 * id, n.parent);
  });
  const BtRef bbt = WriteBTree(kPtypeBbt, ansi_ ? 12 : 24, bbt_.size(), [&](size_t i, uint8_t* e) {
    const BbtEntry& b = bbt_[i];
    PutId(e, b.bid);
    PutId(e + id, b.ib);
    Put16(e + 2 * id, b.cb);
    Put16(e + 2 * id + 2, 2);  // references: the B-tree and the node
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
