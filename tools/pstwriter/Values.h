// The stored form of property values: GUIDs as they lie in the file, the property sets the writer
// names, numbers, booleans, times, UTF-16 text and the multi-valued types; FILETIMEs of dates.
#pragma once

#include "tools/pstwriter/Ndb.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumivex::pst {

struct Guid {
  std::array<uint8_t, 16> bytes{};
  // "{00062004-0000-0000-C000-000000000046}" (braces optional); throws PstError when malformed.
  static Guid Parse(std::string_view text);
  auto operator<=>(const Guid&) const = default;
};

extern const Guid kPsMapi;
extern const Guid kPsPublicStrings;
extern const Guid kPsetidAddress;
extern const Guid kPsetidCommon;

// Builders of stored values.
namespace value {
Bytes Utf16(std::string_view utf8);  // throws PstError on malformed UTF-8
Bytes Int16(int16_t v);
Bytes Int32(int32_t v);
Bytes Int64(int64_t v);
Bytes Boolean(bool v);
Bytes Double(double v);
Bytes Time(uint64_t filetime);
Bytes MultiString(const std::vector<std::string>& utf8);
Bytes MultiBinary(const std::vector<Bytes>& values);
// Fixed-size multi-valued types: the values one after another.
Bytes MultiFixed(const std::vector<Bytes>& values);
}  // namespace value

// FILETIME (100 ns since 1601-01-01 UTC) of a calendar date and time in UTC.
uint64_t FileTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace lumivex::pst
