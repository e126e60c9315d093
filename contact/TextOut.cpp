#include "contact/TextOut.h"

#include <array>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace lumivex::contact {

namespace {

// What each ASCII character becomes under each rule.
enum Action : uint8_t {
  kCopy,
  kBackslash,    // escaped with a backslash
  kDoubleQuote,  // doubled
  kDrop,         // a control character no format here can hold
  kLineBreak,    // CR, LF: one line break (CR LF counts once)
};

using ActionTable = std::array<std::array<uint8_t, 128>, 4>;

constexpr ActionTable MakeActions() {
  ActionTable table{};
  for (size_t rule = 0; rule < table.size(); ++rule) {
    for (size_t c = 0; c < 128; ++c) {
      uint8_t action = kCopy;
      if (c == '\r' || c == '\n')
        action = kLineBreak;
      else if ((c < 0x20 && c != '\t') || c == 0x7F)
        action = kDrop;
      else if ((rule == size_t(TextRule::kVCard) && (c == '\\' || c == ',' || c == ';')) ||
               (rule == size_t(TextRule::kVCard4Text) && (c == '\\' || c == ',')))
        action = kBackslash;
      else if (rule == size_t(TextRule::kCsv) && c == '"')
        action = kDoubleQuote;
      table[rule][c] = action;
    }
  }
  return table;
}

constexpr ActionTable kActions = MakeActions();

char* PutCodePoint(char* out, char32_t u) {
  if (u < 0x800) {
    *out++ = static_cast<char>(0xC0 | (u >> 6));
  } else if (u < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (u >> 12));
    *out++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (u >> 18));
    *out++ = static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
  }
  *out++ = static_cast<char>(0x80 | (u & 0x3F));
  return out;
}

#ifdef __SSE2__
// How many of the eight code units at `p` are plain printable ASCII that `rule` copies as they
// are: 8 when all are, else fewer (the caller then goes unit by unit).
int PlainRun(const char16_t* p, TextRule rule) {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Printable ASCII: 0x20 up to 0x7E (signed compares: units from 0x8000 up count as below).
  __m128i odd = _mm_or_si128(_mm_cmplt_epi16(units, _mm_set1_epi16(0x20)),
                             _mm_cmpgt_epi16(units, _mm_set1_epi16(0x7E)));
  auto is = [&units](char16_t c) { return _mm_cmpeq_epi16(units, _mm_set1_epi16(short(c))); };
  switch (rule) {
    case TextRule::kVCard:
      odd = _mm_or_si128(odd, _mm_or_si128(is(u'\\'), _mm_or_si128(is(u','), is(u';'))));
      break;
    case TextRule::kVCard4Text:
      odd = _mm_or_si128(odd, _mm_or_si128(is(u'\\'), is(u',')));
      break;
    case TextRule::kCsv:
      odd = _mm_or_si128(odd, is(u'"'));
      break;
    case TextRule::kSingleLine:
      break;
  }
  return _mm_movemask_epi8(odd) == 0 ? 8 : 0;
}
#endif

}  // namespace

// Three bytes a code unit are the most one takes: an escape takes two, a surrogate pair four
// for its two units.
char* PutUtf8(char* dst, QStringView text, TextRule rule) {
  const char16_t* p = text.utf16();
  const qsizetype size = text.size();
  const std::array<uint8_t, 128>& actions = kActions[static_cast<size_t>(rule)];
  for (qsizetype i = 0; i < size; ++i) {
#ifdef __SSE2__
    // Runs of plain ASCII, most of any text, eight code units at a time.
    if (p[i] < 0x80 && actions[p[i]] == kCopy) {
      while (i + 8 <= size && PlainRun(p + i, rule) == 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(units, units));
        dst += 8;
        i += 8;
      }
      if (i == size) break;
    }
#endif
    const char16_t c = p[i];
    if (c < 0x80) {
      switch (actions[c]) {
        case kCopy:
          break;
        case kBackslash:
          *dst++ = '\\';
          break;
        case kDoubleQuote:
          *dst++ = '"';
          break;
        case kDrop:
          continue;
        case kLineBreak:
          if (c == u'\r' && i + 1 < size && p[i + 1] == u'\n') ++i;
          if (rule == TextRule::kVCard || rule == TextRule::kVCard4Text) {
            *dst++ = '\\';
            *dst++ = 'n';
          } else if (rule == TextRule::kCsv) {
            *dst++ = '\n';
          }
          continue;
      }
      *dst++ = static_cast<char>(c);
      continue;
    }
    char32_t u = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < size && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (p[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      u = 0xFFFD;
    }
    dst = PutCodePoint(dst, u);
  }
  return dst;
}

void AppendUtf8(QByteArray& out, QStringView text, TextRule rule) {
  if (text.isEmpty()) return;
  const qsizetype start = out.size();
  out.resize(start + 3 * text.size());  // what is not used is given back below
  char* const begin = out.data();
  out.truncate(PutUtf8(begin + start, text, rule) - begin);
}

}  // namespace lumivex::contact
