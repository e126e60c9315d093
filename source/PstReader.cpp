#include "source/PstReader.h"

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
constexpr uint16_t kVersionAnsiFirst = 14;
constexpr uint16_t kVersionAnsiLast = 15;
constexpr uint16_t kVersionUnicode = 23;
constexpr uint16_t kVersionOst4k = 36;

// B-tree pages.
constexpr uint8_t kPtypeBbt = 0x80;
constexpr uint8_t kPtypeNbt = 0x81;
constexpr int kMaxTreeDepth = 8;
constexpr size_t kPageCacheBytes = 512 * 1024;  // then the cache starts over
constexpr uint64_t kMappedResidentBytes = 4 * 1024 * 1024;
// The file's size and modification time are looked at after every so many bytes read.
constexpr uint64_t kChangeCheckBytes = 64 * 1024;

// Blocks, and the encodings of data blocks (the header's bCryptMethod).
constexpr uint64_t kBidInternal = 0x2;
constexpr uint8_t kCryptPermute = 1;
constexpr uint8_t kCryptCyclic = 2;
constexpr uint8_t kBlockTypeData = 0x01;
constexpr uint8_t kBlockTypeSubnodes = 0x02;

// Heap on node and the B-tree on it.
constexpr uint8_t kHeapSignature = 0xEC;
constexpr uint8_t kClientPropertyContext = 0xBC;
constexpr uint8_t kClientTableContext = 0x7C;
constexpr uint8_t kBthSignature = 0xB5;

// Name-to-id map properties.
constexpr uint16_t kNameIdGuids = 0x0002;
constexpr uint16_t kNameIdEntries = 0x0003;
constexpr uint16_t kNameIdStrings = 0x0004;
constexpr std::array<uint8_t, 16> kPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::array<uint8_t, 16> kPsPublicStrings = {
    0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

[[noreturn, gnu::cold, gnu::noinline]] void Damaged(const std::string& what) {
  throw FormatError(what);
}

[[noreturn, gnu::cold, gnu::noinline]] void RunsPast() {
  Damaged("a structure runs past its end");
}

// A little-endian field at `p`, without a check.
template <typename T>
inline T Raw(const uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
  } else {
    T value = 0;
    for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | p[i]);
    return value;
  }
}

// Little-endian fields, checked against the bytes that hold them. They are read on every step of
// every search, so the check is one comparison and the failure path lies out of line.
template <typename T>
inline T Field(std::span<const uint8_t> b, size_t at) {
  if (at > b.size() || b.size() - at < sizeof(T)) RunsPast();
  return Raw<T>(b.data() + at);
}
inline uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return Field<uint16_t>(b, at);
}
inline uint32_t U32(std::span<const uint8_t> b, size_t at) {
  return Field<uint32_t>(b, at);
}
inline uint64_t U64(std::span<const uint8_t> b, size_t at) {
  return Field<uint64_t>(b, at);
}

// Whether a stored checksum matches the bytes it covers. The fuzz targets' build takes every
// checksum as good, so that mutated inputs reach the structures behind it.
bool ChecksumHolds(uint32_t computed, uint32_t stored) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  (void)computed;
  (void)stored;
  return true;
#else
  return computed == stored;
#endif
}

}  // namespace

// Where the layouts of the format put things. ANSI files (Outlook 97-2002) use 32-bit block ids
// and offsets where Unicode files use 64-bit ones, and so smaller entries and trailers. The
// .ost files of Outlook 2013 and later use 4 KB B-tree pages, blocks aligned on 512 bytes and
// larger, and data blocks compressed with zlib; their block entries give the inflated size too.
struct Layout {
  size_t id;           // bytes of a block id, a file offset and a B-tree key
  size_t nbtRoot;      // header: offset of the node B-tree root's file offset
  size_t bbtRoot;      // header: the same for the block B-tree
  size_t crypt;        // header: the encoding of data blocks
  size_t pageSize;     // B-tree pages
  size_t pageEntries;  // page: bytes for entries, followed by count, max, entry size, level
  size_t countBytes;   // page: bytes of the count and of the max
  size_t pageType;     // page: the trailer's page type, repeated in the next byte
  size_t pageCrc;      // page: the trailer's checksum of the bytes before the trailer
  size_t blockTrailer;
  size_t trailerCrc;  // block trailer: the checksum, then the block id
  size_t trailerBid;
  size_t blockAlign;
  bool compressed;       // blocks may be zlib streams (their entry gives the inflated size)
  size_t subnodeHeader;  // subnode block: bytes before the entries
};

namespace {

constexpr Layout kUnicode = {8, 224, 240, 513, 512, 488, 1, 496, 500, 16, 4, 8, 64, false, 8};
constexpr Layout kAnsi = {4, 188, 196, 461, 512, 496, 1, 500, 508, 12, 8, 4, 64, false, 4};
constexpr Layout kOst4k = {8, 224, 240, 513, 4096, 4056, 2, 4072, 4076, 24, 4, 8, 512, true, 8};

// A block id, file offset or key of the layout's width.
inline uint64_t Id(std::span<const uint8_t> b, size_t at, const Layout& layout) {
  return layout.id == 8 ? U64(b, at) : U32(b, at);
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

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

// A B-tree page: its bytes in the mapping, or in `own` for a file read a page at a time.
struct PstReader::Page {
  uint64_t ib = ~uint64_t(0);  // where it was read from; none yet
  const uint8_t* bytes = nullptr;
  ByteVector own;
  uint16_t count = 0;
  uint8_t entrySize = 0;
  uint8_t level = 0;
  uint8_t type = 0;
};

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
  // The bytes of the heap's first block: room for what most nodes' values take together.
  size_t FirstBlockSize() { return Block(0).size(); }
  uint32_t UserRoot() const { return userRoot_; }

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
  if (std::memcmp(h.data(), "!BDN", 4) != 0) Damaged("no store signature");
  const uint16_t version = U16(h, kHeaderVersion);
  const bool ansi = version >= kVersionAnsiFirst && version <= kVersionAnsiLast;
  if (!ansi && version != kVersionUnicode && version != kVersionOst4k) {
    declined = "a store version this reader does not know";
    return nullptr;
  }
  reader->layout_ = ansi ? &kAnsi : version == kVersionOst4k ? &kOst4k : &kUnicode;
  reader->pages_.resize(kPageCacheBytes / reader->layout_->pageSize);
  reader->pageShift_ = std::countr_zero(reader->layout_->pageSize);
  if (reader->map_ != nullptr)
    reader->checked_.assign(reader->size_ / reader->layout_->pageSize / 64 + 1, 0);
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
      ::madvise(const_cast<uint8_t*>(map_), static_cast<size_t>(size_), MADV_DONTNEED);
      mappedRead_ = 0;
    }
    return {map_ + ib, count};
  }
  buffer.resize(count);
  ReadExact(ib, buffer);
  return buffer;
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

PropertySet PstReader::ReadProperties(const NodeRef& node) {
  Heap heap(*this, node.data);
  if (heap.ClientSignature() != kClientPropertyContext) Damaged("the node holds no properties");
  uint8_t keySize = 0, entrySize = 0;
  // The values are gathered one after the other in a buffer that keeps its room from node to
  // node: `used` bytes of it hold them.
  size_t used = 0;
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
      append(value.data(), value.size());
    } else {
      const auto sub = FindSubnode(node.subnodes, hnid);
      if (!sub) Damaged("property " + Hex(p.id) + " is in a subnode the node does not have");
      values_.resize(used);
      AppendData(sub->first, values_);
      used = values_.size();
    }
    // What the values take together, which a sound node keeps below the file's size.
    if (used > size_) Damaged("the node's properties are larger than the file");
    records_.push_back({p, {at, used - at}});
  });
  // One block for the records and the values after them.
  const size_t recordBytes = records_.size() * sizeof(PropertyRecord);
  static_assert(sizeof(PropertyRecord) % sizeof(uint64_t) == 0 &&
                alignof(PropertyRecord) <= alignof(uint64_t));
  PropertySet set;
  set.block = std::make_unique_for_overwrite<uint64_t[]>((recordBytes + used + 7) / 8);
  auto* records = reinterpret_cast<PropertyRecord*>(set.block.get());
  uint8_t* values = reinterpret_cast<uint8_t*>(set.block.get()) + recordBytes;
  if (used > 0) std::memcpy(values, values_.data(), used);
  for (size_t i = 0; i < records_.size(); ++i) {
    const auto& [record, span] = records_[i];
    new (records + i) PropertyRecord{record.id, record.type, {values + span.first, span.second}};
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

const std::unordered_map<uint16_t, NameEntry>& PstReader::NameMap() {
  if (names_) return *names_;
  std::unordered_map<uint16_t, NameEntry> map;
  const auto node = FindNode(kNidNameToIdMap);
  if (!node) Damaged("the store has no name-to-id map");
  const PropertySet properties = ReadProperties(*node);
  auto stream = [&](uint16_t id) -> std::span<const uint8_t> {
    for (const auto& p : properties.records)
      if (p.id == id) return p.value;
    return {};
  };
  const auto guids = stream(kNameIdGuids);
  const auto entries = stream(kNameIdEntries);
  const auto strings = stream(kNameIdStrings);
  for (size_t at = 0; at + 8 <= entries.size(); at += 8) {
    NameEntry entry;
    const uint32_t key = U32(entries, at);
    const uint16_t guidAndKind = U16(entries, at + 4);
    const uint16_t index = U16(entries, at + 6);
    const uint16_t guid = guidAndKind >> 1;
    if (guid == 1) {
      entry.guid = kPsMapi;
    } else if (guid == 2) {
      entry.guid = kPsPublicStrings;
    } else if (guid >= 3 && (guid - 3u + 1) * 16 <= guids.size()) {
      std::copy_n(guids.begin() + (guid - 3) * 16, 16, entry.guid.begin());
    } else {
      continue;  // a set the map does not hold: the property stays unnamed
    }
    if (guidAndKind & 1) {
      const size_t length = key + 4 <= strings.size() ? U32(strings, key) : 0;
      if (key + 4 + length > strings.size() || length % 2 != 0) continue;
      entry.byName = true;
      for (size_t i = 0; i < length; i += 2)
        entry.name.push_back(char16_t(U16(strings, key + 4 + i)));
    } else {
      entry.number = key;
    }
    map.emplace(static_cast<uint16_t>(0x8000 + index), std::move(entry));
  }
  names_ = std::move(map);
  return *names_;
}

}  // namespace lumivex::pst
