#include "tools/pstwriter/CodePageText.h"

#include "tools/pstwriter/Ltp.h"
#include "tools/pstwriter/Values.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace lumivex::pst {

CodePageText::CodePageText(uint32_t code_page) : code_page_(code_page) {
  const std::string name = code_page == 65001 ? "UTF-8" : "CP" + std::to_string(code_page);
  iconv_t cd = iconv_open(name.c_str(), "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw PstError("code page " + std::to_string(code_page) + " has no converter on this system");
  converter_ = cd;
}

CodePageText::~CodePageText() {
  iconv_close(static_cast<iconv_t>(converter_));
}

Bytes CodePageText::FromUtf8(std::string_view utf8) {
  return FromUtf16(value::Utf16(utf8));
}

Bytes CodePageText::FromUtf16(std::span<const uint8_t> utf16le) {
  const size_t units = utf16le.size() / 2;
  bool ascii = true;
  for (size_t i = 0; i < units && ascii; ++i)
    ascii = utf16le[2 * i + 1] == 0 && utf16le[2 * i] < 0x80;
  Bytes out;
  if (ascii) {
    out.resize(units);
    for (size_t i = 0; i < units; ++i) out[i] = utf16le[2 * i];
    return out;
  }
  auto cd = static_cast<iconv_t>(converter_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  // Room for two bytes a unit, as double-byte code pages need; grown when a code page needs more.
  out.resize(2 * units + 16);
  size_t done = 0;
  auto* in = const_cast<char*>(reinterpret_cast<const char*>(utf16le.data()));
  size_t in_left = 2 * units;
  auto ensure = [&](size_t room) {
    if (out.size() - done < room) out.resize(out.size() * 2 + room);
  };
  // Converts what is left of the input, or with `flush` ends the output in the converter's
  // initial state; false when iconv stopped with errno set.
  auto convert = [&](bool flush) {
    char* to = reinterpret_cast<char*>(out.data() + done);
    size_t to_left = out.size() - done;
    const size_t r = flush ? iconv(cd, nullptr, nullptr, &to, &to_left)
                           : iconv(cd, &in, &in_left, &to, &to_left);
    done = out.size() - to_left;
    return r != static_cast<size_t>(-1);
  };
  for (;;) {
    if (in_left == 0) {
      if (convert(true)) break;
      out.resize(out.size() * 2 + 16);
      continue;
    }
    if (convert(false)) continue;
    if (errno == E2BIG) {
      out.resize(out.size() * 2 + 16);
      continue;
    }
    // A character the code page lacks (EILSEQ), or a lone surrogate at the end (EINVAL): a "?"
    // stands for it, and the conversion goes on after it.
    ensure(1);
    out[done++] = '?';
    const auto at = reinterpret_cast<const uint8_t*>(in);
    const uint16_t unit = static_cast<uint16_t>(at[0] | (at[1] << 8));
    size_t skip = 2;
    if (unit >= 0xD800 && unit < 0xDC00 && in_left >= 4) {
      const uint16_t next = static_cast<uint16_t>(at[2] | (at[3] << 8));
      if (next >= 0xDC00 && next < 0xE000) skip = 4;
    }
    skip = std::min(skip, in_left);
    in += skip;
    in_left -= skip;
  }
  out.resize(done);
  return out;
}

void CodePageText::ToString8(uint16_t& type, Bytes& value) {
  if (type == kPtString) {
    value = FromUtf16(value);
    type = kPtString8;
  } else if (type == (kPtString | kPtMultiFlag)) {
    // Count, the offsets of the values, then the values one after another.
    auto u32 = [&](size_t at) {
      if (at + 4 > value.size()) throw PstError("a multi-valued string is cut short");
      return static_cast<uint32_t>(value[at] | (value[at + 1] << 8) | (value[at + 2] << 16) |
                                   (static_cast<uint32_t>(value[at + 3]) << 24));
    };
    const uint32_t count = value.empty() ? 0 : u32(0);
    std::vector<Bytes> strings;
    for (uint32_t i = 0; i < count; ++i) {
      const size_t begin = u32(4 + 4 * i);
      const size_t end = i + 1 < count ? u32(8 + 4 * i) : value.size();
      if (begin > end || end > value.size()) throw PstError("a multi-valued string is damaged");
      strings.push_back(FromUtf16(std::span(value).subspan(begin, end - begin)));
    }
    value = value::MultiBinary(strings);
    type = kPtString8 | kPtMultiFlag;
  }
}

}  // namespace lumivex::pst
