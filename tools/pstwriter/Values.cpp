#include "tools/pstwriter/Values.h"

#include "tools/pstwriter/LittleEndian.h"

#include <bit>
#include <cstring>

namespace lumivex::pst {

Guid Guid::Parse(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  auto bad = [&] { return PstError("not a GUID: \"" + std::string(text) + "\""); };
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
    throw bad();
  std::string hex;
  for (char c : text)
    if (c != '-') hex.push_back(c);
  uint8_t raw[16];
  for (int i = 0; i < 16; ++i) {
    auto nibble = [&](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      throw bad();
    };
    raw[i] = static_cast<uint8_t>(nibble(hex[2 * i]) * 16 + nibble(hex[2 * i + 1]));
  }
  // The first three groups are stored little-endian.
  Guid g;
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g.bytes[i] = raw[order[i]];
  return g;
}

const Guid kPsMapi{kGuidPsMapi};
const Guid kPsPublicStrings{kGuidPsPublicStrings};
const Guid kPsetidAddress = Guid::Parse("{00062004-0000-0000-C000-000000000046}");
const Guid kPsetidCommon = Guid::Parse("{00062008-0000-0000-C000-000000000046}");

namespace value {

Bytes Utf16(std::string_view s) {
  Bytes out;
  out.reserve(s.size() * 2);
  auto unit = [&](uint32_t u) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      throw PstError("text is not valid UTF-8");
    }
    if (i + len > s.size()) throw PstError("text is not valid UTF-8");
    for (size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) throw PstError("text is not valid UTF-8");
      cp = (cp << 6) | (cc & 0x3F);
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

Bytes Int16(int16_t v) {
  Bytes b(2);
  Put16(b.data(), static_cast<uint16_t>(v));
  return b;
}
Bytes Int32(int32_t v) {
  Bytes b(4);
  Put32(b.data(), static_cast<uint32_t>(v));
  return b;
}
Bytes Int64(int64_t v) {
  Bytes b(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
  return b;
}
Bytes Boolean(bool v) {
  return Bytes{static_cast<uint8_t>(v ? 1 : 0)};
}
Bytes Double(double v) {
  return Int64(std::bit_cast<int64_t>(v));
}
Bytes Time(uint64_t filetime) {
  return Int64(static_cast<int64_t>(filetime));
}

Bytes MultiBinary(const std::vector<Bytes>& values) {
  Bytes out(4 + 4 * values.size());
  Put32(out.data(), static_cast<uint32_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) {
    Put32(out.data() + 4 + 4 * i, static_cast<uint32_t>(out.size()));
    Append(out, values[i]);
  }
  return out;
}
Bytes MultiString(const std::vector<std::string>& utf8) {
  std::vector<Bytes> values;
  for (const std::string& s : utf8) values.push_back(Utf16(s));
  return MultiBinary(values);
}
Bytes MultiFixed(const std::vector<Bytes>& values) {
  Bytes out;
  for (const Bytes& v : values) Append(out, v);
  return out;
}

}  // namespace value

uint64_t FileTime(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1601-01-01 to the date (proleptic Gregorian calendar).
  auto days_from_civil = [](int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;  // days since 1970-01-01
  };
  const int64_t days = days_from_civil(year, static_cast<unsigned>(month),
                                       static_cast<unsigned>(day)) +
                       134774;  // 1601-01-01 to 1970-01-01
  const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<uint64_t>(seconds) * 10000000ull;
}

}  // namespace lumivex::pst
