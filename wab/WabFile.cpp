#include "wab/WabFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace lumivex::wab {

using namespace layout;

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Bounds-checked little-endian reads over the whole file. Every access goes through here.
class Reader {
 public:
  Reader(const std::vector<uint8_t>& bytes, const std::string& name) : b_(bytes), name_(name) {}

  size_t Size() const { return b_.size(); }

  bool Fits(uint64_t offset, uint64_t length) const {
    return offset <= b_.size() && length <= b_.size() - offset;
  }

  uint32_t U32(uint64_t offset, const char* what) const {
    Need(offset, 4, what);
    const uint8_t* p = b_.data() + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }

  std::vector<uint8_t> Bytes(uint64_t offset, uint64_t length, const char* what) const {
    Need(offset, length, what);
    return {b_.begin() + static_cast<std::ptrdiff_t>(offset),
            b_.begin() + static_cast<std::ptrdiff_t>(offset + length)};
  }

  void Need(uint64_t offset, uint64_t length, const char* what) const {
    if (!Fits(offset, length))
      Fail(std::string(what) + " lies outside the file (offset " + std::to_string(offset) + ", " +
           std::to_string(length) + " bytes, file size " + std::to_string(b_.size()) + ")");
  }

  [[noreturn]] void Fail(const std::string& why) const {
    throw WabError(name_ + ": the address book is damaged: " + why);
  }

 private:
  const std::vector<uint8_t>& b_;
  const std::string& name_;
};

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  void U32(uint32_t v) {
    out_.push_back(uint8_t(v));
    out_.push_back(uint8_t(v >> 8));
    out_.push_back(uint8_t(v >> 16));
    out_.push_back(uint8_t(v >> 24));
  }
  void Bytes(const std::vector<uint8_t>& data) {
    out_.insert(out_.end(), data.begin(), data.end());
  }
  void Zeros(size_t n) { out_.insert(out_.end(), n, 0); }
  void PutU32(size_t at, uint32_t v) {
    out_[at] = uint8_t(v);
    out_[at + 1] = uint8_t(v >> 8);
    out_[at + 2] = uint8_t(v >> 16);
    out_[at + 3] = uint8_t(v >> 24);
  }
  size_t Size() const { return out_.size(); }

 private:
  std::vector<uint8_t>& out_;
};

uint32_t EntrySize(uint32_t type) {
  if (type == kIndexTableType) return kIndexEntrySize;
  if (type == kTextTableType) return kTextEntrySize;
  return 0;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2 + 2);
  for (char16_t u : text) {
    out.push_back(uint8_t(u));
    out.push_back(uint8_t(u >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::vector<uint8_t> U32Bytes(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<uint8_t> U64Bytes(uint64_t v) {
  std::vector<uint8_t> out(8);
  for (int i = 0; i < 8; ++i) out[size_t(i)] = uint8_t(v >> (8 * i));
  return out;
}

// A string value's text: up to the first zero character, or the whole value without one.
std::u16string DecodeUtf16(const std::vector<uint8_t>& data) {
  std::u16string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t u = char16_t(data[i] | data[i + 1] << 8);
    if (u == 0) break;
    text += u;
  }
  return text;
}

std::string DecodeString8(const std::vector<uint8_t>& data) {
  std::string text;
  for (uint8_t c : data) {
    if (c == 0) break;
    text += char(c);
  }
  return Cp1252ToUtf8(text);
}

Record ParseRecord(const Reader& r, uint32_t id, uint32_t offset) {
  Record record;
  record.id = id;
  record.offset = offset;
  const std::string where = "record " + std::to_string(id);
  r.Need(offset, kRecordHeaderSize, where.c_str());
  const uint32_t live = r.U32(offset + kRecLive, "a record header");
  const uint32_t storedId = r.U32(offset + kRecId, "a record header");
  const uint32_t count = r.U32(offset + kRecPropCount, "a record header");
  const uint32_t valueLength = r.U32(offset + kRecValueLength, "a record header");
  if (storedId != id)
    r.Fail(where + " at offset " + std::to_string(offset) + " holds id " +
           std::to_string(storedId));
  record.live = live != kRecordDeleted;

  const uint64_t tagsAt = uint64_t(offset) + kRecordHeaderSize;
  const uint64_t tagsSize = uint64_t(count) * 4;
  r.Need(tagsAt, tagsSize, (where + "'s property tags").c_str());
  const uint64_t valuesAt = tagsAt + tagsSize;
  r.Need(valuesAt, valueLength, (where + "'s values").c_str());
  const uint64_t end = valuesAt + valueLength;

  auto need = [&](uint64_t at, uint64_t length) {
    if (at > end || length > end - at)
      r.Fail(where + ": a property value runs past the record's value area");
  };
  uint64_t at = valuesAt;
  record.properties.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    Property property;
    property.tag = r.U32(tagsAt + 4ull * i, "a property tag");
    need(at, 4);
    const uint32_t repeated = r.U32(at, "a property tag");
    if (repeated != property.tag)
      r.Fail(where + ": property " + std::to_string(i) + " is tagged differently in the list (" +
             std::to_string(property.tag) + ") and in the values (" + std::to_string(repeated) +
             ")");
    at += 4;
    if (property.MultiValued()) {
      need(at, 8);
      const uint32_t values = r.U32(at, "a value count");
      at += 8;  // the count, then the total size, which we do not rely on
      if (uint64_t(values) * 4 > end - at) r.Fail(where + ": a value count is too large");
      property.values.reserve(values);
      for (uint32_t v = 0; v < values; ++v) {
        need(at, 4);
        const uint32_t size = r.U32(at, "a value size");
        at += 4;
        need(at, size);
        property.values.push_back(r.Bytes(at, size, "a value"));
        at += size;
      }
    } else {
      need(at, 4);
      const uint32_t size = r.U32(at, "a value size");
      at += 4;
      need(at, size);
      property.data = r.Bytes(at, size, "a value");
      at += size;
    }
    record.properties.push_back(std::move(property));
  }
  record.raw = r.Bytes(offset, end - offset, "a record");
  return record;
}

void SerializeRecord(const Record& record, Writer& w) {
  if (!record.raw.empty()) {
    w.Bytes(record.raw);
    return;
  }
  const size_t start = w.Size();
  const uint32_t count = uint32_t(record.properties.size());
  w.U32(record.live ? kRecordLive : kRecordDeleted);
  w.U32(kRecordField2);
  w.U32(record.id);
  w.U32(count);
  w.U32(kRecordField5);
  w.U32(count * 4);
  w.U32(count * 4);
  w.U32(0);  // value length, filled in below
  for (const Property& p : record.properties) w.U32(p.tag);
  const size_t valuesAt = w.Size();
  for (const Property& p : record.properties) {
    w.U32(p.tag);
    if (p.MultiValued()) {
      uint64_t total = 0;
      for (const auto& v : p.values) total += 4 + v.size();
      w.U32(uint32_t(p.values.size()));
      w.U32(uint32_t(total));
      for (const auto& v : p.values) {
        w.U32(uint32_t(v.size()));
        w.Bytes(v);
      }
    } else {
      w.U32(uint32_t(p.data.size()));
      w.Bytes(p.data);
    }
  }
  w.PutU32(start + kRecValueLength, uint32_t(w.Size() - valuesAt));
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t c = uint8_t(text[i]);
    char32_t cp = kReplacement;
    size_t length = 1;
    if (c < 0x80) {
      cp = c;
    } else {
      const int extra = c >= 0xC2 && c <= 0xDF   ? 1
                        : c >= 0xE0 && c <= 0xEF ? 2
                        : c >= 0xF0 && c <= 0xF4 ? 3
                                                 : 0;
      if (extra > 0 && i + size_t(extra) < text.size()) {
        char32_t value = c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; ok && k <= extra; ++k) {
          const uint8_t next = uint8_t(text[i + size_t(k)]);
          if ((next & 0xC0) != 0x80) ok = false;
          value = value << 6 | (next & 0x3F);
        }
        const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
        if (ok && value >= minimum && value <= 0x10FFFF && !(value >= 0xD800 && value < 0xE000)) {
          cp = value;
          length = size_t(extra) + 1;
        }
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
    i += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view text) {
  // 0x80..0x9F; the five unassigned positions map to themselves, as Windows does.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  for (char ch : text) {
    const uint8_t c = uint8_t(ch);
    AppendUtf8(out, c >= 0x80 && c < 0xA0 ? char32_t(kHigh[c - 0x80]) : char32_t(c));
  }
  return out;
}

const Property* Record::Find(uint32_t tag) const {
  for (const Property& p : properties)
    if (p.tag == tag) return &p;
  return nullptr;
}

std::optional<std::string> Record::Text(uint32_t tag) const {
  const Property* p = Find(tag);
  if (!p || p->MultiValued()) return std::nullopt;
  if (p->Type() == kPtUnicode) return Utf16ToUtf8(DecodeUtf16(p->data));
  if (p->Type() == kPtString8) return DecodeString8(p->data);
  return std::nullopt;
}

Book ParseBook(const std::vector<uint8_t>& bytes, const std::string& name) {
  Reader r(bytes, name);
  if (bytes.size() < kHeaderSize)
    throw WabError(name + ": not a Windows Address Book file (only " +
                   std::to_string(bytes.size()) + " bytes, too short for the header)");
  Book book;
  if (std::equal(kUnicodeGuid.begin(), kUnicodeGuid.end(), bytes.begin())) {
    book.unicode = true;
  } else if (std::equal(kAnsiGuid.begin(), kAnsiGuid.end(), bytes.begin())) {
    book.unicode = false;
  } else {
    throw WabError(name +
                   ": not a Windows Address Book file (its first bytes are not an "
                   "address book's signature)");
  }
  book.nextId = r.U32(kNextIdOffset, "the header");
  book.unknown14 = r.U32(kUnknown14Offset, "the header");
  for (int t = 0; t < kTableCount; ++t) {
    const uint32_t at = kDescriptorOffset + uint32_t(t) * kDescriptorSize;
    TableInfo& info = book.tables[size_t(t)];
    info.type = r.U32(at + kDescType, "a table descriptor");
    info.capacity = r.U32(at + kDescCapacity, "a table descriptor");
    info.offset = r.U32(at + kDescOffset, "a table descriptor");
    info.count = r.U32(at + kDescCount, "a table descriptor");
    // A table's room lies in the file. A capacity beyond the file's end is damage: the book
    // keeps only the room the file has, so that writing it back does not reserve the rest.
    const uint64_t room = info.offset < bytes.size() ? bytes.size() - info.offset : 0;
    const uint32_t entry = std::max<uint32_t>(EntrySize(info.type), 1);
    info.capacity = uint32_t(std::min<uint64_t>(info.capacity, room / entry));
  }

  auto table = [&](int t, uint32_t expectedType) -> const TableInfo& {
    const TableInfo& info = book.tables[size_t(t)];
    if (info.type != expectedType)
      r.Fail("table " + std::to_string(t) + " has type " + std::to_string(info.type) +
             ", expected " + std::to_string(expectedType));
    r.Need(info.offset, uint64_t(info.count) * EntrySize(info.type),
           ("table " + std::to_string(t)).c_str());
    return info;
  };

  const TableInfo& index = table(kIndexTable, kIndexTableType);
  book.records.reserve(index.count);
  uint64_t recordBytes = 0;
  for (uint32_t i = 0; i < index.count; ++i) {
    const uint64_t at = uint64_t(index.offset) + uint64_t(i) * kIndexEntrySize;
    const uint32_t id = r.U32(at, "an index entry");
    const uint32_t offset = r.U32(at + 4, "an index entry");
    book.records.push_back(ParseRecord(r, id, offset));
    // Records do not overlap, so together they are never larger than the file; an index that
    // points many times at one large record is damage, and must not make us copy it each time.
    recordBytes += book.records.back().raw.size();
    if (recordBytes > bytes.size()) r.Fail("the index lists overlapping records");
    if (id >= book.nextId && id != std::numeric_limits<uint32_t>::max()) book.nextId = id + 1;
  }

  for (int t = kDisplayNameTable; t <= kEmailTable; ++t) {
    const TableInfo& info = table(t, kTextTableType);
    auto& entries = book.text[size_t(t)];
    entries.reserve(info.count);
    for (uint32_t i = 0; i < info.count; ++i) {
      const uint64_t at = uint64_t(info.offset) + uint64_t(i) * kTextEntrySize;
      std::vector<uint8_t> units = r.Bytes(at, kTextUnits * 2, "a text-table entry");
      entries.push_back({DecodeUtf16(units), r.U32(at + kTextUnits * 2, "a text-table entry")});
    }
  }

  const TableInfo& unknown = book.tables[kUnknownTable];
  if (const uint32_t size = EntrySize(unknown.type); size != 0) {
    book.unknownTableEntries = r.Bytes(unknown.offset, uint64_t(unknown.count) * size, "table 5");
  }
  return book;
}

Book ReadBook(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw WabError(path + ": cannot open the address book (" + std::strerror(errno) + ")");
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) throw WabError(path + ": cannot read the address book");
  return ParseBook(bytes, path);
}

std::vector<Contact> LiveContacts(const Book& book) {
  std::vector<Contact> contacts;
  for (const Record& record : book.records) {
    if (!record.live) continue;
    Contact contact;
    contact.id = record.id;
    contact.displayName = record.Text(kTagDisplayName)
                              .value_or(record.Text(kTagDisplayNameA).value_or(std::string()));
    if (auto email = record.Text(kTagEmailAddress)) {
      contact.email = *email;
    } else if (auto ansi = record.Text(kTagEmailAddressA)) {
      contact.email = *ansi;
    } else if (const Property* list = record.Find(kTagContactEmailAddresses);
               list && list->MultiValued() && !list->values.empty()) {
      contact.email = Utf16ToUtf8(DecodeUtf16(list->values.front()));
    }
    contacts.push_back(std::move(contact));
  }
  return contacts;
}

Book EmptyBook() {
  Book book;
  book.tables[kIndexTable].type = kIndexTableType;
  for (int t = kDisplayNameTable; t <= kEmailTable; ++t)
    book.tables[size_t(t)].type = kTextTableType;
  book.tables[kUnknownTable].type = kUnknownTableType;
  return book;
}

uint32_t TableCapacity(uint32_t count, uint32_t current) {
  uint64_t capacity = kInitialCapacity;
  while (capacity < count) capacity *= 2;
  return uint32_t(std::max<uint64_t>(std::min<uint64_t>(capacity, 0xFFFFFFFFu), current));
}

uint64_t AppendRecord(std::vector<uint8_t>& out, uint64_t at, const Record& record) {
  Writer w(out);
  const uint64_t padding = (kRecordAlignment - at % kRecordAlignment) % kRecordAlignment;
  w.Zeros(size_t(padding));
  SerializeRecord(record, w);
  return at + padding;
}

uint32_t TableEntrySize(uint32_t type) {
  return EntrySize(type);
}

BookLayout LayOut(const Book& book, const std::array<uint32_t, kTableCount>& counts,
                  uint64_t recordsSize) {
  const uint32_t unknownType = EntrySize(book.tables[kUnknownTable].type) != 0
                                   ? book.tables[kUnknownTable].type
                                   : kUnknownTableType;
  BookLayout where;
  uint64_t offset = kHeaderSize;
  for (int t = 0; t < kTableCount; ++t) {
    TableInfo& info = where.tables[size_t(t)];
    info.type = t == kIndexTable     ? kIndexTableType
                : t == kUnknownTable ? unknownType
                                     : kTextTableType;
    info.count = t == kUnknownTable
                     ? uint32_t(book.unknownTableEntries.size() / EntrySize(unknownType))
                     : counts[size_t(t)];
    info.capacity = TableCapacity(info.count, book.tables[size_t(t)].capacity);
    info.offset = uint32_t(offset);
    offset += uint64_t(info.capacity) * EntrySize(info.type);
  }
  // Records come after the tables, at offsets aligned as they are among themselves.
  where.recordsAt = (offset + kRecordAlignment - 1) / kRecordAlignment * kRecordAlignment;
  if (where.recordsAt + recordsSize > std::numeric_limits<uint32_t>::max())
    throw WabError("the address book would grow past 4 GiB, the most its offsets can reach");
  return where;
}

std::vector<uint8_t> SerializeHeader(const Book& book, const BookLayout& where) {
  std::vector<uint8_t> out;
  Writer w(out);
  const auto& guid = book.unicode ? kUnicodeGuid : kAnsiGuid;
  out.insert(out.end(), guid.begin(), guid.end());
  w.U32(book.nextId);
  w.U32(book.unknown14);
  for (const TableInfo& info : where.tables) {
    w.U32(info.type);
    w.U32(info.capacity);
    w.U32(info.offset);
    w.U32(info.count);
  }
  return out;
}

void AppendIndexEntry(std::vector<uint8_t>& out, uint32_t id, uint32_t offset) {
  Writer w(out);
  w.U32(id);
  w.U32(offset);
}

void AppendTextEntry(std::vector<uint8_t>& out, std::u16string_view text, uint32_t id) {
  const std::u16string slot = SlotText(text);
  for (char16_t u : slot) out.insert(out.end(), {uint8_t(u), uint8_t(u >> 8)});
  out.resize(out.size() + (kTextUnits - slot.size()) * 2, 0);
  Writer(out).U32(id);
}

std::vector<uint8_t> Serialize(const Book& book) {
  std::vector<uint8_t> records;
  std::vector<RecordPlace> places;
  places.reserve(book.records.size());
  for (const Record& record : book.records)
    places.push_back({record.id, AppendRecord(records, records.size(), record)});
  std::array<uint32_t, kTableCount> counts{};
  counts[kIndexTable] = uint32_t(places.size());
  for (int t = kDisplayNameTable; t <= kEmailTable; ++t)
    counts[size_t(t)] = uint32_t(book.text[size_t(t)].size());
  const BookLayout where = LayOut(book, counts, records.size());

  // Each table's entries, then zeros for the rest of its room; then the records.
  std::vector<uint8_t> out = SerializeHeader(book, where);
  auto endTable = [&](int t) {
    const TableInfo& info = where.tables[size_t(t)];
    out.resize(info.offset + uint64_t(info.capacity) * EntrySize(info.type), 0);
  };
  for (const RecordPlace& place : places)
    AppendIndexEntry(out, place.id, uint32_t(where.recordsAt + place.offset));
  endTable(kIndexTable);
  for (int t = kDisplayNameTable; t <= kEmailTable; ++t) {
    for (const TextEntry& entry : book.text[size_t(t)]) AppendTextEntry(out, entry.text, entry.id);
    endTable(t);
  }
  out.insert(out.end(), book.unknownTableEntries.begin(), book.unknownTableEntries.end());
  endTable(kUnknownTable);
  out.resize(size_t(where.recordsAt), 0);
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

std::u16string SlotText(std::u16string_view text) {
  size_t length = std::min<size_t>(text.size(), kTextUnits - 1);
  if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 && text[length - 1] < 0xDC00)
    --length;  // do not leave half of a surrogate pair in the slot
  return std::u16string(text.substr(0, length));
}

uint32_t AddContact(Book& book, std::u16string_view displayName, std::u16string_view email,
                    uint64_t fileTime) {
  const uint32_t id = std::max(book.nextId, kFirstRecordId);
  if (id == std::numeric_limits<uint32_t>::max())
    throw WabError("the address book has no record ids left");
  Record record;
  record.id = id;
  auto single = [&](uint32_t tag, std::vector<uint8_t> data) {
    record.properties.push_back({tag, std::move(data), {}});
  };
  single(kTagObjectType, U32Bytes(kObjectTypeMailUser));
  single(kTagEntryId, U32Bytes(id));
  single(kTagRecordKey, U32Bytes(id));
  single(kTagDisplayName, Utf16Bytes(displayName));
  if (!email.empty()) {
    const std::u16string smtp(std::begin(kSmtp), std::end(kSmtp) - 1);
    single(kTagAddrType, Utf16Bytes(smtp));
    single(kTagEmailAddress, Utf16Bytes(email));
    // The search key is the address type and address, upper-cased, as 8-bit text with a zero.
    std::string key = std::string(kSmtp) + ":" + Utf16ToUtf8(email);
    for (char& c : key)
      if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    std::vector<uint8_t> keyBytes(key.begin(), key.end());
    keyBytes.push_back(0);
    single(kTagSearchKey, std::move(keyBytes));
    record.properties.push_back({kTagContactAddrTypes, {}, {Utf16Bytes(smtp)}});
    record.properties.push_back({kTagContactEmailAddresses, {}, {Utf16Bytes(email)}});
    single(kTagContactDefaultAddressIndex, U32Bytes(0));
  }
  single(kTagCreationTime, U64Bytes(fileTime));
  single(kTagLastModificationTime, U64Bytes(fileTime));

  book.records.push_back(std::move(record));
  book.nextId = id + 1;
  book.text[kDisplayNameTable].push_back({SlotText(displayName), id});
  if (!email.empty()) book.text[kEmailTable].push_back({SlotText(email), id});
  return id;
}

uint64_t FileTimeNow() {
  // SOURCE_DATE_EPOCH (whole seconds since 1970), the reproducible-builds convention, fixes the
  // clock: the same export then gives the same bytes, which is what checks of output rely on.
  if (const char* fixed = std::getenv("SOURCE_DATE_EPOCH"); fixed != nullptr && *fixed != '\0') {
    char* end = nullptr;
    errno = 0;
    const unsigned long long seconds = std::strtoull(fixed, &end, 10);
    if (errno == 0 && *end == '\0' && seconds < (UINT64_MAX - kFileTimeUnixEpoch) / 10000000)
      return kFileTimeUnixEpoch + uint64_t(seconds) * 10000000;
  }
  using namespace std::chrono;
  const auto since = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return kFileTimeUnixEpoch + uint64_t(since) * 10;
}

}  // namespace lumivex::wab
