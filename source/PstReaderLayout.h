// What the layers of the reader share (PstReaderNdb.cpp, PstReaderLtp.cpp, PstReaderNameMap.cpp):
// where each layout of the file puts things, little-endian fields read with a bounds check, the
// one way a damaged structure is reported, and a B-tree page as the page cache holds it.
#pragma once

#include "source/PstReader.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

namespace lumivex::pst {

// The deepest B-tree (node, block, subnode or heap) the reader follows.
constexpr int kMaxTreeDepth = 8;

[[noreturn, gnu::cold, gnu::noinline]] inline void Damaged(const std::string& what) {
  throw PstError(what);
}

[[noreturn, gnu::cold, gnu::noinline]] inline void RunsPast() {
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
inline bool ChecksumHolds(uint32_t computed, uint32_t stored) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  (void)computed;
  (void)stored;
  return true;
#else
  return computed == stored;
#endif
}

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

// A block id, file offset or key of the layout's width.
inline uint64_t Id(std::span<const uint8_t> b, size_t at, const Layout& layout) {
  return layout.id == 8 ? U64(b, at) : U32(b, at);
}

inline std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

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

}  // namespace lumivex::pst
