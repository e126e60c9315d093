#include "contact/TextOut.h"

namespace lumivex::contact {

namespace {

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

}  // namespace

void AppendUtf8(QByteArray& out, QStringView text, TextRule rule) {
  const char16_t* p = text.utf16();
  const qsizetype size = text.size();
  if (size == 0) return;
  // Room for the most a code unit can take: three bytes (an escape takes two, a surrogate pair
  // four for its two units); what is not used is given back at the end.
  const qsizetype start = out.size();
  out.resize(start + 3 * size);
  char* const begin = out.data();
  char* dst = begin + start;
  for (qsizetype i = 0; i < size; ++i) {
    const char16_t c = p[i];
    if (c < 0x80) {
      if (c == u'\r' || c == u'\n') {
        if (c == u'\r' && i + 1 < size && p[i + 1] == u'\n') ++i;
        if (rule == TextRule::kVCard || rule == TextRule::kVCard4Text) {
          *dst++ = '\\';
          *dst++ = 'n';
        } else if (rule == TextRule::kCsv) {
          *dst++ = '\n';
        }
        continue;
      }
      if ((c < 0x20 && c != u'\t') || c == 0x7F) continue;
      if ((rule == TextRule::kVCard && (c == u'\\' || c == u',' || c == u';')) ||
          (rule == TextRule::kVCard4Text && (c == u'\\' || c == u',')))
        *dst++ = '\\';
      else if (rule == TextRule::kCsv && c == u'"')
        *dst++ = '"';
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
  out.truncate(dst - begin);
}

}  // namespace lumivex::contact
