// The layout of a Windows Address Book file (.wab), in one place. No official description of the
// format exists: what is known comes from reading real files. Every value whose meaning is
// unknown is a named constant here, with what is known of it, so that it can be changed in one
// spot when more is learnt. All numbers in the file are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumivex::wab::layout {

// ---- Header -------------------------------------------------------------------------------

// The first 16 bytes name the kind of book. Unicode books (version 5 and later), the kind we write:
inline constexpr std::array<uint8_t, 16> kUnicodeGuid = {
    0x9C, 0xCB, 0xCB, 0x8D, 0x13, 0x75, 0xD2, 0x11, 0x91, 0x58, 0x00, 0xC0, 0x4F, 0x79, 0x56, 0xA4};
// Older ANSI books: read (their strings are 8-bit), never written.
inline constexpr std::array<uint8_t, 16> kAnsiGuid = {
    0x81, 0x32, 0x84, 0xC1, 0x85, 0x05, 0xD0, 0x11, 0xB2, 0x90, 0x00, 0xAA, 0x00, 0x3C, 0xF6, 0x76};

inline constexpr uint32_t kGuidOffset = 0x00;
// Unknown u32; in real files it looks like the next record id to hand out, and that is what we
// keep there (one more than the highest id in the book).
inline constexpr uint32_t kNextIdOffset = 0x10;
// Unknown u32. We write kHeaderUnknown14 and keep whatever a book already holds.
inline constexpr uint32_t kUnknown14Offset = 0x14;
inline constexpr uint32_t kHeaderUnknown14 = 0;

// Six table descriptors follow, 16 bytes each: type, size, offset (absolute), count.
inline constexpr uint32_t kDescriptorOffset = 0x18;
inline constexpr uint32_t kDescriptorSize = 16;
inline constexpr int kTableCount = 6;
inline constexpr uint32_t kHeaderSize = kDescriptorOffset + kTableCount * kDescriptorSize;  // 0x78
// Within a descriptor.
inline constexpr uint32_t kDescType = 0;
// The meaning of "size" is unknown; real files are consistent with a capacity in entries, and
// that is what we write (and what we read back as the table's room).
inline constexpr uint32_t kDescCapacity = 4;
inline constexpr uint32_t kDescOffset = 8;
inline constexpr uint32_t kDescCount = 12;

// Which descriptor holds which table.
enum Table : int {
  kIndexTable = 0,        // record id -> record offset
  kDisplayNameTable = 1,  // text tables: display names,
  kLastNameTable = 2,     // last names,
  kFirstNameTable = 3,    // first names,
  kEmailTable = 4,        // e-mail addresses
  kUnknownTable = 5,      // content unknown; we keep it empty
};

// ---- Tables -------------------------------------------------------------------------------

// Index table: entries of record id (u32) and absolute record offset (u32).
inline constexpr uint32_t kIndexTableType = 0x0FA0;
inline constexpr uint32_t kIndexEntrySize = 8;
// Text table: 32 UTF-16LE code units, zero-padded (at most 31 and a terminating zero), then the
// record id (u32).
inline constexpr uint32_t kTextTableType = 0x84D0;
inline constexpr uint32_t kTextUnits = 32;
inline constexpr uint32_t kTextEntrySize = kTextUnits * 2 + 4;  // 68
// Table 5's type in real files is unknown to us; we describe it as an index-shaped table, empty.
inline constexpr uint32_t kUnknownTableType = kIndexTableType;

// Room of each table in a new book, in entries. Real templates' values are unknown; tables grow
// by doubling from here when a book holds more.
inline constexpr uint32_t kInitialCapacity = 100;

// ---- Records ------------------------------------------------------------------------------

// Records start at offsets that are multiples of this (seen in every real file).
inline constexpr uint32_t kRecordAlignment = 4;
// A record opens with eight u32 fields.
inline constexpr uint32_t kRecordHeaderSize = 32;
inline constexpr uint32_t kRecLive = 0;          // 1 live, 0 deleted
inline constexpr uint32_t kRecUnknown1 = 4;      // always 1 in real files; meaning unknown
inline constexpr uint32_t kRecId = 8;            // record id, as in the index
inline constexpr uint32_t kRecPropCount = 12;    // N, number of properties
inline constexpr uint32_t kRecUnknown0x20 = 16;  // always 0x20 (perhaps this header's size)
inline constexpr uint32_t kRecTagsSizeA = 20;    // fields 6 and 7: equal, meaning unknown;
inline constexpr uint32_t kRecTagsSizeB = 24;    //   we write 4*N, the size of the tag list
inline constexpr uint32_t kRecValueLength = 28;  // bytes in the value area
inline constexpr uint32_t kRecordLive = 1;
inline constexpr uint32_t kRecordDeleted = 0;
inline constexpr uint32_t kRecordField2 = 1;
inline constexpr uint32_t kRecordField5 = 0x20;

// The first id handed out in a new book. Real files' first ids are unknown (folder, or
// "identity", records may take low numbers in them); 1 is what we start from.
inline constexpr uint32_t kFirstRecordId = 1;

// ---- Properties ---------------------------------------------------------------------------

// Property types (the low 16 bits of a tag). Multi-valued types carry kMultiValued.
inline constexpr uint32_t kPtLong = 0x0003;
inline constexpr uint32_t kPtBoolean = 0x000B;
inline constexpr uint32_t kPtString8 = 0x001E;
inline constexpr uint32_t kPtUnicode = 0x001F;
inline constexpr uint32_t kPtSysTime = 0x0040;
inline constexpr uint32_t kPtBinary = 0x0102;
inline constexpr uint32_t kMultiValued = 0x1000;
// In a multi-valued property, after the value count, a u32 "total bytes" whose exact reach is
// unknown; we write the size of the value list that follows it (each value's u32 byte count and
// its bytes), and readers do not rely on it.

inline constexpr uint32_t kTagObjectType = 0x0FFE0003;     // 6: a mail user
inline constexpr uint32_t kTagEntryId = 0x0FFF0102;        // we write the 4-byte record id
inline constexpr uint32_t kTagRecordKey = 0x0FF90102;      // the same 4 bytes
inline constexpr uint32_t kTagDisplayName = 0x3001001F;    // PR_DISPLAY_NAME_W
inline constexpr uint32_t kTagDisplayNameA = 0x3001001E;   // PR_DISPLAY_NAME (ANSI books)
inline constexpr uint32_t kTagAddrType = 0x3002001F;       // PR_ADDRTYPE_W
inline constexpr uint32_t kTagEmailAddress = 0x3003001F;   // PR_EMAIL_ADDRESS_W
inline constexpr uint32_t kTagEmailAddressA = 0x3003001E;  // PR_EMAIL_ADDRESS (ANSI books)
inline constexpr uint32_t kTagCreationTime = 0x30070040;   // FILETIME
inline constexpr uint32_t kTagLastModificationTime = 0x30080040;
inline constexpr uint32_t kTagSearchKey = 0x300B0102;         // "SMTP:" + address upper-cased
inline constexpr uint32_t kTagGivenName = 0x3A06001F;         // PR_GIVEN_NAME_W
inline constexpr uint32_t kTagSurname = 0x3A11001F;           // PR_SURNAME_W
inline constexpr uint32_t kTagContactAddrTypes = 0x3A54101F;  // {"SMTP"}
inline constexpr uint32_t kTagContactDefaultAddressIndex = 0x3A550003;  // 0
inline constexpr uint32_t kTagContactEmailAddresses = 0x3A56101F;       // {address}

inline constexpr uint32_t kObjectTypeMailUser = 6;
inline constexpr char kSmtp[] = "SMTP";
// Named properties (0x8000 and up) exist in real files with an unknown mapping: never written.
inline constexpr uint32_t kFirstNamedPropertyId = 0x8000;

// Windows FILETIME of the Unix epoch, in 100 ns units since 1601-01-01.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

}  // namespace lumivex::wab::layout
