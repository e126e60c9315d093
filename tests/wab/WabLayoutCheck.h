// Checks a .wab file's bytes field by field against the known layout, without the component's
// reader: its own little-endian reads, its own offsets. A writer change that breaks the layout
// fails here even when the component's reader would follow it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace lumivex::testing {

struct RawRecord {
  uint32_t id = 0;
  uint32_t offset = 0;
  std::vector<uint32_t> tags;
  std::map<uint32_t, std::vector<uint8_t>> single;  // tag -> value bytes
  std::map<uint32_t, std::vector<std::vector<uint8_t>>> multi;
};

struct RawBook {
  uint32_t nextId = 0;
  uint32_t type[6]{}, capacity[6]{}, offset[6]{}, count[6]{};
  std::vector<RawRecord> records;
  // Text tables 1..4: (text as UTF-16 units up to the first zero, record id).
  std::vector<std::pair<std::u16string, uint32_t>> text[5];
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::u16string Units(const std::vector<uint8_t>& b) {
  std::u16string s;
  for (size_t i = 0; i + 1 < b.size(); i += 2) s += char16_t(b[i] | b[i + 1] << 8);
  return s;
}

// Parses and checks `b`; failures are reported as test failures (ADD_FAILURE) and stop the
// check early where going on would read past the end.
inline RawBook CheckLayout(const std::vector<uint8_t>& b) {
  RawBook book;
  const size_t size = b.size();
  auto u32 = [&](size_t at) -> uint32_t {
    if (at + 4 > size) {
      ADD_FAILURE() << "read past the end at " << at;
      return 0;
    }
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
  };
  if (size < 0x78) {
    ADD_FAILURE() << "file shorter than the header";
    return book;
  }
  const uint8_t guid[16] = {0x9C, 0xCB, 0xCB, 0x8D, 0x13, 0x75, 0xD2, 0x11,
                            0x91, 0x58, 0x00, 0xC0, 0x4F, 0x79, 0x56, 0xA4};
  EXPECT_TRUE(std::equal(guid, guid + 16, b.begin())) << "Unicode address-book GUID";
  book.nextId = u32(0x10);
  const uint32_t entrySize[6] = {8, 68, 68, 68, 68, 8};
  const uint32_t expectedType[6] = {0x0FA0, 0x84D0, 0x84D0, 0x84D0, 0x84D0, 0x0FA0};
  uint64_t tablesEnd = 0x78;
  for (int t = 0; t < 6; ++t) {
    const size_t d = 0x18 + 16 * size_t(t);
    book.type[t] = u32(d);
    book.capacity[t] = u32(d + 4);
    book.offset[t] = u32(d + 8);
    book.count[t] = u32(d + 12);
    EXPECT_EQ(book.type[t], expectedType[t]) << "table " << t;
    EXPECT_GE(book.capacity[t], book.count[t]) << "table " << t << " holds more than its room";
    EXPECT_GE(book.offset[t], tablesEnd) << "table " << t << " overlaps what comes before it";
    tablesEnd = uint64_t(book.offset[t]) + uint64_t(book.capacity[t]) * entrySize[t];
    if (tablesEnd > size) {
      ADD_FAILURE() << "table " << t << " runs past the end of the file";
      return book;
    }
  }
  EXPECT_EQ(book.count[5], 0u);

  std::set<uint32_t> ids;
  uint64_t previousEnd = tablesEnd;
  for (uint32_t i = 0; i < book.count[0]; ++i) {
    RawRecord r;
    r.id = u32(book.offset[0] + 8 * i);
    r.offset = u32(book.offset[0] + 8 * i + 4);
    EXPECT_TRUE(ids.insert(r.id).second) << "record id " << r.id << " twice in the index";
    EXPECT_LT(r.id, book.nextId) << "the header's next id is not past every record id";
    EXPECT_EQ(r.offset % 4, 0u) << "record " << r.id << " not 4-byte aligned";
    EXPECT_GE(r.offset, previousEnd) << "record " << r.id << " overlaps what comes before it";
    if (r.offset + 32ull > size) {
      ADD_FAILURE() << "record " << r.id << " past the end";
      return book;
    }
    const uint32_t n = u32(r.offset + 12), valueLength = u32(r.offset + 28);
    EXPECT_EQ(u32(r.offset), 1u) << "live flag";
    EXPECT_EQ(u32(r.offset + 4), 1u);
    EXPECT_EQ(u32(r.offset + 8), r.id) << "record id inside the record";
    EXPECT_EQ(u32(r.offset + 16), 0x20u);
    EXPECT_EQ(u32(r.offset + 20), 4 * n);
    EXPECT_EQ(u32(r.offset + 24), 4 * n);
    const size_t valuesAt = r.offset + 32 + 4ull * n, end = valuesAt + valueLength;
    if (end > size) {
      ADD_FAILURE() << "record " << r.id << "'s values run past the end";
      return book;
    }
    size_t at = valuesAt;
    for (uint32_t p = 0; p < n && at < end; ++p) {
      const uint32_t tag = u32(r.offset + 32 + 4 * p);
      r.tags.push_back(tag);
      EXPECT_EQ(u32(at), tag) << "tag repeated in the value area, record " << r.id;
      at += 4;
      auto value = [&]() {
        const uint32_t length = u32(at);
        at += 4;
        if (at + length > end) {
          ADD_FAILURE() << "value runs past the record's value area";
          at = end;
          return std::vector<uint8_t>();
        }
        std::vector<uint8_t> v(b.begin() + long(at), b.begin() + long(at + length));
        at += length;
        if ((tag & 0xFFFF) == 0x001F) {
          EXPECT_TRUE(length >= 2 && length % 2 == 0 && v[length - 1] == 0 && v[length - 2] == 0)
              << "Unicode string without its terminating zero";
        }
        return v;
      };
      if (tag & 0x1000) {
        const uint32_t count = u32(at), total = u32(at + 4);
        at += 8;
        const size_t listStart = at;
        for (uint32_t v = 0; v < count && at < end; ++v) r.multi[tag].push_back(value());
        EXPECT_EQ(total, at - listStart) << "multi-valued total bytes";
      } else {
        r.single[tag] = value();
      }
    }
    EXPECT_EQ(at, end) << "the value length does not match the values of record " << r.id;
    previousEnd = end;
    book.records.push_back(std::move(r));
  }
  for (int t = 1; t <= 4; ++t) {
    for (uint32_t i = 0; i < book.count[t]; ++i) {
      const size_t at = book.offset[t] + 68ull * i;
      std::u16string units =
          Units(std::vector<uint8_t>(b.begin() + long(at), b.begin() + long(at + 64)));
      const size_t zero = units.find(char16_t(0));
      if (zero == std::u16string::npos) {
        ADD_FAILURE() << "text slot without a terminating zero";
        continue;
      }
      EXPECT_EQ(units.find_first_not_of(char16_t(0), zero), std::u16string::npos)
          << "text slot not zero-padded";
      const uint32_t id = u32(at + 64);
      EXPECT_TRUE(ids.count(id)) << "text table " << t << " names an unknown record " << id;
      book.text[t].push_back({units.substr(0, zero), id});
    }
  }
  return book;
}

}  // namespace lumivex::testing
