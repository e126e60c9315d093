// A Windows Address Book file in memory: reading one from bytes (defensively: a damaged file gives
// a WabError, never a crash), the contact records the component writes, and writing a whole book
// back out. The layout's constants are in WabLayout.h.
//
// Text crosses this interface as UTF-8 std::string; inside the file it is UTF-16LE. Invalid
// UTF-8 and lone surrogates turn into U+FFFD.
#pragma once

#include "wab/WabLayout.h"

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lumivex::wab {

// A failure of the address-book component or its reader. what() is one line: what failed,
// which file, and what to do where that helps.
class WabError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// Windows code page 1252, the 8-bit text of older ANSI books.
std::string Cp1252ToUtf8(std::string_view text);

struct Property {
  uint32_t tag = 0;
  std::vector<uint8_t> data;                 // single-valued: the value's bytes
  std::vector<std::vector<uint8_t>> values;  // multi-valued: each value's bytes

  bool MultiValued() const { return (tag & layout::kMultiValued) != 0; }
  uint32_t Type() const { return tag & 0xFFFF; }
};

struct Record {
  uint32_t id = 0;
  uint32_t offset = 0;  // where it lies in the file it was read from; 0 for a new record
  bool live = true;
  std::vector<Property> properties;
  // The record's bytes as read (header to end of the value area); kept so that a book that is
  // written back keeps what we do not understand of it. Empty for a new record.
  std::vector<uint8_t> raw;

  const Property* Find(uint32_t tag) const;
  // A text property as UTF-8 (UTF-16 in Unicode books, code page 1252 in ANSI ones).
  std::optional<std::string> Text(uint32_t tag) const;
};

struct TableInfo {
  uint32_t type = 0;
  uint32_t capacity = 0;  // the descriptor's "size" field
  uint32_t offset = 0;
  uint32_t count = 0;
};

struct TextEntry {
  std::u16string text;  // at most 31 code units
  uint32_t id = 0;
};

struct Book {
  bool unicode = true;
  uint32_t nextId = layout::kFirstRecordId;
  uint32_t unknown14 = layout::kHeaderUnknown14;
  std::array<TableInfo, layout::kTableCount> tables{};  // as read; rewritten by Serialize
  std::vector<Record> records;                          // in index order
  // Text tables 1 to 4 (display names, last names, first names, e-mail addresses); [0] unused.
  std::array<std::vector<TextEntry>, 5> text;
  // Table 5's entries, as raw bytes, when its type is one whose entry size we know.
  std::vector<uint8_t> unknownTableEntries;
};

struct Contact {
  uint32_t id = 0;
  std::string displayName;
  std::string email;
};

// Reads a book from its bytes. Throws WabError (naming `name`) when the bytes are not an address
// book or are damaged.
Book ParseBook(const std::vector<uint8_t>& bytes, const std::string& name);
// Reads the file at `path`. Throws WabError when it cannot be read or is not an address book.
Book ReadBook(const std::string& path);
// The live records' display names and e-mail addresses, in index order.
std::vector<Contact> LiveContacts(const Book& book);

// A new book with no contacts: the template the tool copies before each export.
Book EmptyBook();
// The whole file: header, the six tables (each with room for its entries, growing by doubling
// from the initial capacity) and the records at 4-byte-aligned offsets.
std::vector<uint8_t> Serialize(const Book& book);

// The parts of Serialize, for a book whose records and table entries are written one after
// another elsewhere (files beside the target) and put together at the end.
//
// A record's id and where it begins among the records, each at an offset aligned to 4.
struct RecordPlace {
  uint32_t id = 0;
  uint64_t offset = 0;
};
// Appends `record`'s bytes to `out`, after the padding it needs at offset `at` of the records;
// returns the offset where it begins.
uint64_t AppendRecord(std::vector<uint8_t>& out, uint64_t at, const Record& record);
// Where the parts of a book lie: each table's descriptor (type, room, offset, count), one after
// the other behind the header, and where the records begin.
struct BookLayout {
  std::array<TableInfo, layout::kTableCount> tables{};
  uint64_t recordsAt = 0;
};
// The layout of `book` with `counts` entries in its index and text tables (table 5 holds
// `book.unknownTableEntries`) and `recordsSize` bytes of records. Throws WabError when the whole
// book would pass 4 GiB. `book.records` and `book.text` are not looked at.
BookLayout LayOut(const Book& book, const std::array<uint32_t, layout::kTableCount>& counts,
                  uint64_t recordsSize);
// The header with the table descriptors: the first kHeaderSize bytes of the file.
std::vector<uint8_t> SerializeHeader(const Book& book, const BookLayout& where);
// Appends an index-table entry (kIndexEntrySize bytes) and a text-table entry (kTextEntrySize
// bytes: the slot's text, zero-padded, then the id).
void AppendIndexEntry(std::vector<uint8_t>& out, uint32_t id, uint32_t offset);
void AppendTextEntry(std::vector<uint8_t>& out, std::u16string_view text, uint32_t id);
// The entry size of a table of `type`; 0 for a type whose entries are unknown.
uint32_t TableEntrySize(uint32_t type);

// Adds one contact record with its text-table entries and returns its id.
uint32_t AddContact(Book& book, std::u16string_view displayName, std::u16string_view email,
                    uint64_t fileTime);
// A text-table slot's text: the first 31 code units, one fewer when the cut would split a
// surrogate pair.
std::u16string SlotText(std::u16string_view text);
// The room a table gets for `count` entries, never less than `current`.
uint32_t TableCapacity(uint32_t count, uint32_t current = 0);
// Now, as a Windows FILETIME; SOURCE_DATE_EPOCH (seconds since 1970), when set, stands for now.
uint64_t FileTimeNow();

}  // namespace lumivex::wab
