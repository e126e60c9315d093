// What the writer and the reader of personal-folder files share: the checksum, the block
// signature, the "compressible" and "high" (cyclic) encodings of data blocks and the node id
// layout of the format.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

namespace lumivex::pst {

using Nid = uint32_t;
using Bid = uint64_t;

// The one error of the format: a structure the reader meets is damaged or not what it expects, or
// the writer is asked for what the format cannot hold (or its file cannot be written). what() is
// the cause.
class PstError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// [MS-PST] 2.2.2.6 HEADER: the magic (dwMagic), the versions (wVer) of the layouts and the
// encodings of data blocks (bCryptMethod).
inline constexpr char kHeaderMagic[4] = {'!', 'B', 'D', 'N'};
constexpr uint16_t kVersionAnsiFirst = 14;  // ANSI (Outlook 97-2002): 14 or 15
constexpr uint16_t kVersionAnsiLast = 15;
constexpr uint16_t kVersionUnicode = 23;
constexpr uint16_t kVersionOst4k = 36;  // .ost of Outlook 2013 and later: 4 KB pages
constexpr uint8_t kCryptNone = 0;
constexpr uint8_t kCryptPermute = 1;  // "compressible"
constexpr uint8_t kCryptCyclic = 2;   // "high"

// [MS-PST] 2.2.2.7.1 PAGETRAILER: page types (ptype).
constexpr uint8_t kPtypeBbt = 0x80;
constexpr uint8_t kPtypeNbt = 0x81;
constexpr uint8_t kPtypeFMap = 0x82;
constexpr uint8_t kPtypePMap = 0x83;
constexpr uint8_t kPtypeAMap = 0x84;

// [MS-PST] 2.2.2.2 BID: the bit that marks an internal block (a data tree or subnode block).
constexpr uint64_t kBidInternal = 0x2;
// [MS-PST] 2.2.2.8.3 block types (btype): XBLOCK and XXBLOCK, SLBLOCK and SIBLOCK.
constexpr uint8_t kBlockTypeData = 0x01;
constexpr uint8_t kBlockTypeSubnodes = 0x02;

// [MS-PST] 2.3.1.2 HNHDR: the heap's signature (bSig) and its clients' (bClientSig);
// 2.3.2.1 BTHHEADER: the B-tree on a heap (bType).
constexpr uint8_t kHeapSignature = 0xEC;
constexpr uint8_t kBthSignature = 0xB5;
constexpr uint8_t kClientPropertyContext = 0xBC;
constexpr uint8_t kClientTableContext = 0x7C;
// [MS-PST] 2.3.1 the largest heap allocation.
constexpr size_t kMaxHeapItem = 3580;
// [MS-PST] 2.3.4.1 TCINFO: the two columns every table context has.
constexpr uint32_t kTagRowId = 0x67F20003;
constexpr uint32_t kTagRowVersion = 0x67F30003;

// [MS-PST] 2.4.7 the name-to-id map: the property ids of its bucket count and three streams, and
// the property sets its entries name by index 1 and 2 (GUIDs as they lie in the file).
constexpr uint16_t kNameIdBucketCount = 0x0001;
constexpr uint16_t kNameIdGuids = 0x0002;
constexpr uint16_t kNameIdEntries = 0x0003;
constexpr uint16_t kNameIdStrings = 0x0004;
constexpr std::array<uint8_t, 16> kGuidPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::array<uint8_t, 16> kGuidPsPublicStrings = {
    0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// The checksum used throughout the format: CRC-32 (polynomial 0xEDB88320) started at `crc`,
// without the usual final inversion.
uint32_t Crc32(std::span<const uint8_t> data, uint32_t crc = 0);
// The block signature of the format: the low 16 bits of (ib ^ bid) folded with its high half.
uint16_t BlockSignature(uint64_t ib, uint64_t bid);
// The "compressible" encoding of data blocks: a fixed byte permutation and its inverse.
void EncodePermute(std::span<uint8_t> data);
void DecodePermute(std::span<uint8_t> data);
// Decodes `from` into `to` (of the same size) in the same pass that copies it.
void DecodePermute(std::span<const uint8_t> from, std::span<uint8_t> to);
// The "high" (cyclic) encoding of data blocks: three substitutions keyed by the block's id and
// the byte's position. It is its own inverse: the same call encodes and decodes. `key` is the
// low 32 bits of the block id.
void CryptCyclic(std::span<uint8_t> data, uint32_t key);

// Property value types: the low 16 bits of a property tag. A multi-valued type is its
// single-valued one with kPtMultiFlag set.
enum PropType : uint16_t {
  kPtInt16 = 0x0002,
  kPtInt32 = 0x0003,
  kPtFloat = 0x0004,
  kPtDouble = 0x0005,
  kPtCurrency = 0x0006,
  kPtAppTime = 0x0007,
  kPtError = 0x000A,
  kPtBoolean = 0x000B,
  kPtInt64 = 0x0014,
  kPtString8 = 0x001E,
  kPtString = 0x001F,
  kPtTime = 0x0040,
  kPtGuid = 0x0048,
  kPtBinary = 0x0102,
  kPtMultiFlag = 0x1000,
};

// Node id types (low five bits of a node id).
enum NidType : uint8_t {
  kNidTypeHid = 0x00,
  kNidTypeInternal = 0x01,
  kNidTypeNormalFolder = 0x02,
  kNidTypeSearchFolder = 0x03,
  kNidTypeNormalMessage = 0x04,
  kNidTypeAttachment = 0x05,
  kNidTypeAssocMessage = 0x08,
  kNidTypeHierarchyTable = 0x0D,
  kNidTypeContentsTable = 0x0E,
  kNidTypeAssocContentsTable = 0x0F,
  kNidTypeLtp = 0x1F,
};

constexpr Nid MakeNid(uint8_t type, uint32_t index) {
  return (index << 5) | type;
}
constexpr uint32_t NidIndexOf(Nid nid) {
  return nid >> 5;
}

// Fixed node ids of every store.
constexpr Nid kNidMessageStore = 0x21;
constexpr Nid kNidNameToIdMap = 0x61;
constexpr Nid kNidRootFolder = 0x122;

// The largest payload of one data block, and the largest single heap allocation.
constexpr size_t kMaxBlockData = 8176;

}  // namespace lumivex::pst
