// [MS-PST] 2.2 NDB layer, as the reader sees it: the header (2.2.2.6), the node and block
// B-trees and their pages (2.2.2.7), blocks, data trees and subnode trees (2.2.2.8), in the ANSI,
// Unicode and 4 KB-page layouts, with the file read through a mapping or with pread. The heap and
// tables on top of it: PstReaderLtp.cpp; the name-to-id map: PstReaderNameMap.cpp.
#include "source/PstReader.h"
#include "source/PstReaderLayout.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_set>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace lumivex::pst {

namespace {

// File header. The first 512 bytes are read; an ANSI header is shorter than a Unicode one.
constexpr size_t kHeaderSize = 564;
constexpr size_t kHeaderVersion = 10;

// B-tree pages.
constexpr size_t kPageCacheBytes = 512 * 1024;  // then the cache starts over
constexpr uint64_t kMappedResidentBytes = 4 * 1024 * 1024;
// The mapping's pages are let go by stretches of this many bytes (log2): only those read since
// the last time, so that the pages of the rest of the file are not walked again each time.
constexpr int kStretchShift = 21;
// The file's size and modification time are looked at after every so many bytes read.
constexpr uint64_t kChangeCheckBytes = 64 * 1024;

// The three layouts (PstReaderLayout.h says what each field is).
constexpr Layout kUnicode = {8, 224, 240, 513, 512, 488, 1, 496, 500, 16, 4, 8, 64, false, 8};
constexpr Layout kAnsi = {4, 188, 196, 461, 512, 496, 1, 500, 508, 12, 8, 4, 64, false, 4};
constexpr Layout kOst4k = {8, 224, 240, 513, 4096, 4056, 2, 4072, 4076, 24, 4, 8, 512, true, 8};

}  // namespace

ByteVector PstReader::TakeBuffer() {
  if (spare_.empty()) return {};
  ByteVector buffer = std::move(spare_.back());
  spare_.pop_back();
  return buffer;
}

void PstReader::GiveBuffer(ByteVector&& buffer) {
  if (spare_.size() < 32) spare_.push_back(std::move(buffer));
}

std::unique_ptr<PstReader> PstReader::Open(const std::string& path, std::string& declined,
                                           Access access) {
  std::unique_ptr<PstReader> reader(new PstReader());
  reader->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (reader->fd_ < 0) Damaged(std::strerror(errno));
  struct stat info {};
  if (::fstat(reader->fd_, &info) != 0) Damaged(std::strerror(errno));
  reader->size_ = static_cast<uint64_t>(info.st_size);
  reader->modified_ = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  reader->regular_ = S_ISREG(info.st_mode);
  if (S_ISBLK(info.st_mode)) {  // a disk holding a store: its size is where it ends
    const off_t end = ::lseek(reader->fd_, 0, SEEK_END);
    reader->size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
  }
  if (reader->size_ < kHeaderSize) Damaged("the file is shorter than its header");
  // A regular file is read through a read-only mapping: a page or block is then checked and
  // decoded where it lies, with no system call and no copy. A file that cannot be mapped (a disk,
  // a pipe, a file system without mappings) is read with pread. Should the file shrink while it
  // is mapped, a read past its new end raises SIGBUS: the guard reads zeros there instead and
  // the file counts as changed, as it does when its size or modification time moves.
  if (access == Access::kMapped && S_ISREG(info.st_mode) && reader->size_ <= SIZE_MAX) {
    void* map =
        ::mmap(nullptr, static_cast<size_t>(reader->size_), PROT_READ, MAP_PRIVATE, reader->fd_, 0);
    if (map != MAP_FAILED) {
      reader->map_ = static_cast<const uint8_t*>(map);
      reader->guard_ = std::make_unique<MappingGuard>(map, static_cast<size_t>(reader->size_));
      // Without a guard a shrinking file would end the process: read with pread instead.
      if (!reader->guard_->Guarded()) {
        reader->guard_.reset();
        ::munmap(map, static_cast<size_t>(reader->size_));
        reader->map_ = nullptr;
      }
    }
  }
  std::array<uint8_t, kHeaderSize> h{};
  reader->ReadExact(0, h);
  if (std::memcmp(h.data(), kHeaderMagic, 4) != 0) Damaged("no store signature");
  const uint16_t version = U16(h, kHeaderVersion);
  const bool ansi = version >= kVersionAnsiFirst && version <= kVersionAnsiLast;
  if (!ansi && version != kVersionUnicode && version != kVersionOst4k) {
    declined = "a store version this reader does not know";
    return nullptr;
  }
  reader->layout_ = ansi ? &kAnsi : version == kVersionOst4k ? &kOst4k : &kUnicode;
  reader->pages_.resize(kPageCacheBytes / reader->layout_->pageSize);
  reader->pageShift_ = std::countr_zero(reader->layout_->pageSize);
  if (reader->map_ != nullptr) {
    reader->checked_.assign(reader->size_ / reader->layout_->pageSize / 64 + 1, 0);
    reader->touched_.assign((reader->size_ >> kStretchShift) / 64 + 1, 0);
  }
  if (!ChecksumHolds(Crc32(std::span(h).subspan(8, 471)), U32(h, 4)) ||
      (!ansi && !ChecksumHolds(Crc32(std::span(h).subspan(8, 516)), U32(h, 524))))
    Damaged("mismatch in file header checksum");
  const Layout& layout = *reader->layout_;
  reader->crypt_ = h[layout.crypt];
  if (reader->crypt_ > kCryptCyclic) {
    declined = "a data encoding this reader does not know";
    return nullptr;
  }
  if (layout.compressed && reader->crypt_ != 0) {
    // Whether such blocks are decoded before or after they are inflated, no file at hand shows.
    declined = "an encoded store with compressed blocks";
    return nullptr;
  }
  reader->offline_ = h[8] == 'S' && h[9] == 'O';
  reader->nbtRoot_ = Id(h, layout.nbtRoot, layout);
  reader->bbtRoot_ = Id(h, layout.bbtRoot, layout);
  reader->ReadPage(reader->nbtRoot_, kPtypeNbt);
  reader->ReadPage(reader->bbtRoot_, kPtypeBbt);
  return reader;
}

bool PstReader::Ansi() const {
  return layout_ == &kAnsi;
}

PstReader::~PstReader() {
  guard_.reset();
  if (map_ != nullptr) ::munmap(const_cast<uint8_t*>(map_), static_cast<size_t>(size_));
  if (fd_ >= 0) ::close(fd_);
}

bool PstReader::CheckChanged() {
  struct stat info {};
  if (!regular_) return Changed();  // a disk or a pipe: no size or time to go by
  if (::fstat(fd_, &info) != 0 || uint64_t(info.st_size) != size_ ||
      int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec != modified_)
    changed_.store(true, std::memory_order_relaxed);
  return Changed();
}

std::span<const uint8_t> PstReader::FileBytes(uint64_t ib, size_t count, ByteVector& buffer) {
  if (ib > size_ || count > size_ - ib) Damaged("a reference points past the end of the file");
  readSinceCheck_ += count;
  if (readSinceCheck_ >= kChangeCheckBytes) {
    readSinceCheck_ = 0;
    CheckChanged();
  }
  if (Changed()) [[unlikely]]
    Damaged("the file changed or shrank while it was read");
  if (map_ != nullptr) {
    // The pages of the mapping that were read count as this process's memory until they are let
    // go: letting them go after every few megabytes keeps the process as small as one reading
    // with pread, whatever the size of the store. They stay in the system's cache, and a view
    // into them stays valid (it is read in again when used).
    mappedRead_ += count;
    if (mappedRead_ >= kMappedResidentBytes) {
      LetGoOfReadPages();
      mappedRead_ = 0;
    }
    if (count > 0)
      for (uint64_t at = ib >> kStretchShift; at <= (ib + count - 1) >> kStretchShift; ++at)
        touched_[at / 64] |= uint64_t(1) << (at % 64);
    return {map_ + ib, count};
  }
  buffer.resize(count);
  ReadExact(ib, buffer);
  return buffer;
}

void PstReader::LetGoOfReadPages() {
  // Neighbouring stretches go in one call.
  const uint64_t stretches = ((size_ - 1) >> kStretchShift) + 1;
  uint64_t at = 0;
  while (at < stretches) {
    if ((touched_[at / 64] >> (at % 64) & 1) == 0) {
      ++at;
      continue;
    }
    const uint64_t first = at;
    while (at < stretches && (touched_[at / 64] >> (at % 64) & 1) != 0) ++at;
    const uint64_t begin = first << kStretchShift;
    const uint64_t end = std::min(size_, at << kStretchShift);
    ::madvise(const_cast<uint8_t*>(map_) + begin, static_cast<size_t>(end - begin), MADV_DONTNEED);
  }
  std::fill(touched_.begin(), touched_.end(), 0);
}

void PstReader::ReadExact(uint64_t ib, std::span<uint8_t> out) {
  if (ib > size_ || out.size() > size_ - ib) Damaged("a reference points past the end of the file");
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n =
        ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(ib + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Damaged(n < 0 ? std::strerror(errno) : "the file ended early");
    done += static_cast<size_t>(n);
  }
}

const PstReader::Page& PstReader::ReadPage(uint64_t ib, uint8_t ptype) {
  // Pages are aligned on their size, and the cache has a power of two of slots.
  Page& page = pages_[(ib >> pageShift_) & (pages_.size() - 1)];
  if (page.ib == ib) {
    if (page.type != ptype) Damaged("a B-tree page is of another tree");
    return page;
  }
  page.ib = ~uint64_t(0);  // until the page has been read and checked whole
  LoadPage(ib, ptype, page);
  return page;
}

void PstReader::LoadPage(uint64_t ib, uint8_t ptype, Page& page) {
  const Layout& l = *layout_;
  const std::span<const uint8_t> b = FileBytes(ib, l.pageSize, page.own);
  if (b[l.pageType] != ptype || b[l.pageType + 1] != ptype)
    Damaged("a B-tree page at " + Hex(ib) + " has the wrong type");
  // The checksum of a page in the mapping is checked once: the node B-tree's pages are all
  // checked at the start, and then read again for every entry.
  const bool remember = map_ != nullptr && ib % l.pageSize == 0;
  const uint64_t bit = ib / l.pageSize;
  if (!remember || (checked_[bit / 64] & (uint64_t(1) << (bit % 64))) == 0) {
    if (!ChecksumHolds(Crc32(b.first(l.pageType)), U32(b, l.pageCrc)))
      Damaged("mismatch in the checksum of the B-tree page at " + Hex(ib));
    if (remember) checked_[bit / 64] |= uint64_t(1) << (bit % 64);
  }
  page.bytes = b.data();
  page.count = l.countBytes == 2 ? U16(b, l.pageEntries) : b[l.pageEntries];
  page.entrySize = b[l.pageEntries + 2 * l.countBytes];
  page.level = b[l.pageEntries + 2 * l.countBytes + 1];
  page.type = ptype;
  // Leaf entries: node id, data, subnodes and parent; block id, offset, size and count. Index
  // entries: key, block id and offset.
  const size_t leafSize = ptype == kPtypeNbt ? 4 * l.id : 3 * l.id;
  const size_t indexSize = 3 * l.id;
  if (page.entrySize != (page.level > 0 ? indexSize : leafSize) ||
      size_t(page.count) * page.entrySize > l.pageEntries || page.level > kMaxTreeDepth)
    Damaged("the B-tree page at " + Hex(ib) + " has odd entries");
  page.ib = ib;
}

namespace {

// The entry of `page` for `key`: in a leaf the entry with that key, in an index page the last
// entry whose key is not above it. -1 when there is none. Node ids take 8 bytes in a page but
// only the low 4 are the id: the rest is padding, not always zero (`nodeKeys`).
template <typename Page>
int Search(const Page& page, uint64_t key, bool exact, bool nodeKeys, const Layout& layout) {
  // LoadPage found the entries to lie within the page, each wider than its key.
  int low = 0, high = page.count - 1, found = -1;
  while (low <= high) {
    const int mid = (low + high) / 2;
    const uint8_t* at = page.bytes + size_t(mid) * page.entrySize;
    const uint64_t k = nodeKeys || layout.id == 4 ? Raw<uint32_t>(at) : Raw<uint64_t>(at);
    if (k == key) return mid;
    if (k < key) {
      found = mid;
      low = mid + 1;
    } else {
      high = mid - 1;
    }
  }
  return exact ? -1 : found;
}

}  // namespace

std::span<const uint8_t> PstReader::LeafEntry(uint8_t ptype, uint64_t key) {
  const bool nodes = ptype == kPtypeNbt;
  uint64_t ib = nodes ? nbtRoot_ : bbtRoot_;
  int expectLevel = -1;
  for (int depth = 0; depth <= kMaxTreeDepth; ++depth) {
    const Page& page = ReadPage(ib, ptype);
    if (expectLevel >= 0 && page.level != expectLevel) Damaged("a B-tree is out of order");
    const int i = Search(page, key, page.level == 0, nodes, *layout_);
    if (i < 0) return {};
    const std::span<const uint8_t> entry(page.bytes + size_t(i) * page.entrySize, page.entrySize);
    if (page.level == 0) return entry;
    expectLevel = page.level - 1;
    ib = Id(entry, 2 * layout_->id, *layout_);
  }
  Damaged("a B-tree is too deep");
}

std::optional<NodeRef> PstReader::FindNode(Nid nid) {
  const auto e = LeafEntry(kPtypeNbt, nid);
  if (e.empty()) return std::nullopt;
  const Layout& l = *layout_;
  return NodeRef{nid, Id(e, l.id, l), Id(e, 2 * l.id, l), U32(e, 3 * l.id)};
}

void PstReader::CheckNodeTree() {
  struct Walker {
    PstReader& reader;
    std::unordered_set<uint64_t> seen;
    void Walk(uint64_t ib, int expectLevel, int depth) {
      if (depth > kMaxTreeDepth) Damaged("the node B-tree is too deep");
      if (!seen.insert(ib).second) Damaged("the node B-tree refers to a page twice");
      // Read past the cache: a walk of the whole tree would only crowd it.
      Page page;
      reader.LoadPage(ib, kPtypeNbt, page);
      if (expectLevel >= 0 && page.level != expectLevel) Damaged("the node B-tree is out of order");
      if (page.level == 0) return;
      const std::span<const uint8_t> entries(page.bytes, size_t(page.count) * page.entrySize);
      for (int i = 0; i < page.count; ++i)
        Walk(Id(entries, size_t(i) * page.entrySize + 2 * reader.layout_->id, *reader.layout_),
             page.level - 1, depth + 1);
    }
  };
  Walker{*this, {}}.Walk(nbtRoot_, -1, 0);
}

PstReader::BlockRef PstReader::FindBlock(Bid bid) {
  const auto e = LeafEntry(kPtypeBbt, bid & ~uint64_t(1));
  if (e.empty()) Damaged("block " + Hex(bid) + " is missing from the block B-tree");
  const Layout& l = *layout_;
  const uint16_t size = U16(e, 2 * l.id);
  return {Id(e, l.id, l), size, l.compressed ? U16(e, 2 * l.id + 2) : size};
}

std::span<const uint8_t> PstReader::ReadBlock(Bid bid, ByteVector& buffer) {
  const auto [ib, size, inflated] = FindBlock(bid);
  const Layout& l = *layout_;
  const size_t stored = (size + l.blockTrailer + l.blockAlign - 1) / l.blockAlign * l.blockAlign;
  const std::span<const uint8_t> raw = FileBytes(ib, stored, buffer);
  const std::span<const uint8_t> trailer = raw.last(l.blockTrailer);
  if (U16(trailer, 0) != size ||
      (Id(trailer, l.trailerBid, l) & ~uint64_t(1)) != (bid & ~uint64_t(1)))
    Damaged("block " + Hex(bid) + " is not where the block B-tree puts it");
  if (!ChecksumHolds(Crc32(raw.first(size)), U32(trailer, l.trailerCrc)))
    Damaged("mismatch in the checksum of block " + Hex(bid));
  const bool encoded = (bid & kBidInternal) == 0 && crypt_ != 0;
  if (inflated != size) {  // only in files whose blocks are not encoded (Open declines others)
    ByteVector stream;
    if (map_ == nullptr) std::swap(stream, buffer);  // the stored bytes are in `buffer`
    const uint8_t* from = map_ != nullptr ? raw.data() : stream.data();
    buffer.resize(inflated);
    uLongf length = inflated;
    const bool ok = uncompress(buffer.data(), &length, from, size) == Z_OK && length == inflated;
    if (map_ == nullptr) GiveBuffer(std::move(stream));
    if (!ok) Damaged("block " + Hex(bid) + " does not inflate to its size");
    return std::span<const uint8_t>(buffer).first(inflated);
  }
  if (!encoded) return raw.first(size);
  if (map_ != nullptr) {
    buffer.resize(size);
    if (crypt_ == kCryptPermute) {
      DecodePermute(raw.first(size), buffer);  // decoded as it is copied out of the mapping
      return std::span<const uint8_t>(buffer).first(size);
    }
    std::memcpy(buffer.data(), raw.data(), size);
  }
  const std::span<uint8_t> bytes = std::span<uint8_t>(buffer).first(size);
  if (crypt_ == kCryptPermute) DecodePermute(bytes);
  // The key is the block id without its reserved low bit, which readers take as zero.
  if (crypt_ == kCryptCyclic) CryptCyclic(bytes, static_cast<uint32_t>(bid & ~uint64_t(1)));
  return bytes;
}

void PstReader::DataBlocks(Bid bid, std::vector<Bid>& out, uint64_t* total) {
  out.clear();
  if (bid == 0) return;
  if ((bid & kBidInternal) == 0) {
    out.push_back(bid);
    return;
  }
  // An XBLOCK (level 1) lists data blocks; an XXBLOCK (level 2) lists XBLOCKs.
  struct Walker {
    PstReader& reader;
    std::vector<Bid>& out;
    uint64_t size = 0;
    void Walk(Bid bid, int expectLevel) {
      const std::span<const uint8_t> block =
          reader.ReadBlock(bid, reader.treeBlocks_[expectLevel < 0 ? 0 : 1]);
      if (block.size() < 8 || block[0] != kBlockTypeData)
        Damaged("a data tree block has the wrong type");
      const int level = block[1];
      if (level < 1 || level > 2 || (expectLevel >= 0 && level != expectLevel))
        Damaged("a data tree has an odd depth");
      if (expectLevel < 0) size = U32(block, 4);
      const uint16_t count = U16(block, 2);
      const Layout& l = *reader.layout_;
      if (8 + size_t(count) * l.id > block.size()) Damaged("a data tree block holds too many ids");
      for (uint16_t i = 0; i < count; ++i) {
        const Bid child = Id(block, 8 + size_t(i) * l.id, l);
        if (((child & kBidInternal) != 0) != (level == 2)) Damaged("a data tree has an odd depth");
        if (level == 2)
          Walk(child, 1);  // in the other buffer: `block` stays valid
        else
          out.push_back(child);
      }
    }
  };
  Walker walker{*this, out};
  walker.Walk(bid, -1);
  if (walker.size > size_) Damaged("a data tree is larger than the file");
  if (total != nullptr) *total = walker.size;
}

void PstReader::AppendData(Bid bid, ByteVector& out) {
  if (bid != 0 && (bid & kBidInternal) == 0) {
    const std::span<const uint8_t> bytes = ReadBlock(bid, dataBlock_);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return;
  }
  uint64_t total = 0;
  DataBlocks(bid, dataBids_, &total);
  const size_t start = out.size();
  for (Bid block : dataBids_) {
    const std::span<const uint8_t> bytes = ReadBlock(block, dataBlock_);
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (out.size() - start > total) break;
  }
  if (out.size() - start != total) Damaged("a data tree's blocks do not add up to its size");
}

std::optional<std::pair<Bid, Bid>> PstReader::FindSubnode(Bid subnodes, Nid nid) {
  Bid bid = subnodes;
  for (int depth = 0; depth <= kMaxTreeDepth && bid != 0; ++depth) {
    const std::span<const uint8_t> block = ReadBlock(bid, subnodeBlock_);
    const Layout& l = *layout_;
    if (block.size() < l.subnodeHeader || block[0] != kBlockTypeSubnodes || block[1] > 1)
      Damaged("a subnode tree block has the wrong type");
    // Leaf entries: node id, data and subnodes; index entries: node id and block.
    const bool leaf = block[1] == 0;
    const size_t width = (leaf ? 3 : 2) * l.id;
    const uint16_t count = U16(block, 2);
    if (l.subnodeHeader + count * width > block.size())
      Damaged("a subnode tree block holds too many entries");
    int found = -1;
    for (int i = 0; i < count; ++i) {
      // The id's padding in a Unicode file is not always zero.
      const uint32_t key = U32(block, l.subnodeHeader + i * width);
      if (key == nid || (!leaf && key < nid)) found = i;
      if (key >= nid) break;
    }
    if (found < 0) return std::nullopt;
    const size_t at = l.subnodeHeader + found * width;
    if (leaf) return std::pair{Id(block, at + l.id, l), Id(block, at + 2 * l.id, l)};
    bid = Id(block, at + l.id, l);
  }
  Damaged("a subnode tree is too deep");
}

std::optional<NodeRef> PstReader::FindSubnodeOf(const NodeRef& node, Nid nid) {
  if (node.subnodes == 0) return std::nullopt;
  const auto sub = FindSubnode(node.subnodes, nid);
  if (!sub) return std::nullopt;
  return NodeRef{nid, sub->first, sub->second, node.nid};
}

}  // namespace lumivex::pst
