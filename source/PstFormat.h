// What the writer and the reader of personal-folder files share: the checksum, the block
// signature, the "compressible" and "high" (cyclic) encodings of data blocks and the node id
// layout of the format.
#pragma once

#include <cstdint>
#include <span>

namespace lumivex::pst {

using Nid = uint32_t;
using Bid = uint64_t;

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
constexpr uint8_t NidTypeOf(Nid nid) {
  return nid & 0x1F;
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
