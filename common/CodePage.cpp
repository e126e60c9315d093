#include "common/CodePage.h"

#include <iconv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace lumivex {

namespace {

int overrideCodePage = 0;

struct LanguageCodePage {
  const char* language;
  int codePage;
};

// Language (and, for Chinese, region) to Windows code page. Languages not listed use 1252.
constexpr LanguageCodePage kLanguages[] = {
    {"zh_TW", 950}, {"zh_HK", 950}, {"zh_MO", 950}, {"zh", 936},  {"ja", 932},  {"ko", 949},
    {"th", 874},    {"vi", 1258},   {"pl", 1250},   {"cs", 1250}, {"sk", 1250}, {"hu", 1250},
    {"sl", 1250},   {"hr", 1250},   {"ro", 1250},   {"sq", 1250}, {"bs", 1250}, {"ru", 1251},
    {"uk", 1251},   {"be", 1251},   {"bg", 1251},   {"mk", 1251}, {"sr", 1251}, {"kk", 1251},
    {"ky", 1251},   {"mn", 1251},   {"tt", 1251},   {"el", 1253}, {"tr", 1254}, {"az", 1254},
    {"he", 1255},   {"iw", 1255},   {"yi", 1255},   {"ar", 1256}, {"fa", 1256}, {"ur", 1256},
    {"et", 1257},   {"lv", 1257},   {"lt", 1257},
};

std::string IconvName(int codePage) {
  return "CP" + std::to_string(codePage);
}

// iconv descriptors are opened once per code page and direction and kept for the process.
class Converters {
 public:
  Converters() = default;
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;
  ~Converters() {
    for (auto& [key, cd] : open_)
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  iconv_t Get(const std::string& to, const std::string& from) {
    std::lock_guard lock(mutex_);
    const std::string key = to + "<" + from;
    auto it = open_.find(key);
    if (it == open_.end()) it = open_.emplace(key, iconv_open(to.c_str(), from.c_str())).first;
    return it->second;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, iconv_t> open_;
};

Converters& SharedConverters() {
  static Converters converters;
  return converters;
}

// The byte of each UTF-16 code unit in a single-byte code page, 0 for the units it does not hold
// as they are (they go through iconv, which also finds their nearest letter). Built once per
// code page and run: iconv costs about a microsecond a call, a look-up here a nanosecond.
struct SingleByteTable {
  std::array<uint8_t, 0x10000> code{};
  // What iconv makes of each unit that `code` does not hold, filled in as units are met (from
  // any thread: a value is whole in one word, so a race only converts a unit twice). The low byte
  // is the length + 1, then up to 7 bytes; 0 is not known yet, kLongSubstitute longer than that.
  std::unique_ptr<std::atomic<uint64_t>[]> substitutes { new std::atomic<uint64_t>[ 0x10000 ]() };
};

constexpr uint64_t kLongSubstitute = 0xFF;

// Every byte from 0x80 up is decoded, and the character it gives is encoded back through the
// same converter ToAnsi uses; the table takes the pair only where both agree, so that a unit
// found in the table gives the very byte ToAnsi would give.
std::unique_ptr<SingleByteTable> BuildTable(int codePage) {
  const std::string name = IconvName(codePage);
  iconv_t decode = iconv_open("UTF-16LE", name.c_str());
  iconv_t encode = iconv_open((name + "//TRANSLIT").c_str(), "UTF-16LE");
  auto table = std::make_unique<SingleByteTable>();
  if (decode != reinterpret_cast<iconv_t>(-1) && encode != reinterpret_cast<iconv_t>(-1)) {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
      char in = static_cast<char>(byte);
      char16_t unit[4] = {};
      char* src = &in;
      size_t srcLeft = 1;
      char* dst = reinterpret_cast<char*>(unit);
      size_t dstLeft = sizeof unit;
      iconv(decode, nullptr, nullptr, nullptr, nullptr);
      if (iconv(decode, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) continue;
      iconv(decode, nullptr, nullptr, &dst, &dstLeft);  // 1258 holds a letter back
      if (sizeof unit - dstLeft != 2 || unit[0] < 0x80 || (unit[0] >= 0xD800 && unit[0] < 0xE000))
        continue;
      char back[8] = {};
      src = reinterpret_cast<char*>(unit);
      srcLeft = 2;
      dst = back;
      dstLeft = sizeof back;
      iconv(encode, nullptr, nullptr, nullptr, nullptr);
      if (iconv(encode, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) continue;
      iconv(encode, nullptr, nullptr, &dst, &dstLeft);
      if (sizeof back - dstLeft == 1 && static_cast<uint8_t>(back[0]) == byte &&
          table->code[unit[0]] == 0)
        table->code[unit[0]] = static_cast<uint8_t>(byte);
    }
  }
  if (decode != reinterpret_cast<iconv_t>(-1)) iconv_close(decode);
  if (encode != reinterpret_cast<iconv_t>(-1)) iconv_close(encode);
  return table;
}

// The table of a single-byte code page; null for the double-byte ones. The tables of the code
// pages a locale gives are kept where one load finds them: a conversion asks for one per text.
std::array<std::atomic<const SingleByteTable*>, 10> knownTables{};  // 1250-1258, 874

size_t KnownTableSlot(int codePage) {
  return codePage == 874 ? 9 : static_cast<size_t>(codePage - 1250);
}

[[gnu::noinline]] const SingleByteTable* BuiltTableFor(int codePage) {
  if (IsDoubleByteCodePage(codePage)) return nullptr;
  const size_t slot = KnownTableSlot(codePage);
  static std::mutex mutex;
  static std::map<int, std::unique_ptr<SingleByteTable>> tables;
  std::lock_guard lock(mutex);
  auto& table = tables[codePage];
  if (!table) table = BuildTable(codePage);
  if (slot < knownTables.size()) knownTables[slot].store(table.get(), std::memory_order_release);
  return table.get();
}

inline const SingleByteTable* TableFor(int codePage) {
  const size_t slot = KnownTableSlot(codePage);
  if (slot < knownTables.size()) {
    const SingleByteTable* table = knownTables[slot].load(std::memory_order_acquire);
    if (table != nullptr) return table;
  }
  return BuiltTableFor(codePage);
}

// Combining marks, a bit for each code unit: iconv may take one with the letter before it, so
// neither is converted alone.
constexpr std::array<uint64_t, 0x10000 / 64> kCombining = [] {
  std::array<uint64_t, 0x10000 / 64> bits{};
  for (const auto& [first, last] :
       {std::pair{0x0300, 0x036F}, std::pair{0x1AB0, 0x1AFF}, std::pair{0x1DC0, 0x1DFF},
        std::pair{0x20D0, 0x20FF}, std::pair{0xFE20, 0xFE2F}})
    for (int unit = first; unit <= last; ++unit)
      bits[size_t(unit) / 64] |= uint64_t(1) << (unit % 64);
  return bits;
}();

bool IsCombining(char16_t unit) {
  return (kCombining[unit / 64] >> (unit % 64)) & 1;
}

// Whether the 8 code units at `src` are all ASCII; if so, they are written to `dst` as bytes.
inline bool AsciiRun(const char16_t* src, char* dst) {
#if defined(__SSE2__)
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(-0x80)),
                                        _mm_setzero_si128())) != 0xFFFF)
    return false;
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(units, units));
#else
  char16_t units[8];
  std::memcpy(units, src, sizeof units);
  char16_t any = 0;
  for (char16_t unit : units) any |= unit;
  if (any >= 0x80) return false;
  for (int k = 0; k < 8; ++k) dst[k] = static_cast<char>(units[k]);
#endif
  return true;
}

QByteArray IconvToAnsi(QStringView text, int codePage);

// What iconv makes of one character that the code page does not hold (its nearest letters, or
// "?"): a few bytes packed as in SingleByteTable::substitutes, asked of iconv once per code page.
// Text in another script repeats its letters.
uint64_t PackedSubstitute(char16_t unit, int codePage, const SingleByteTable& table) {
  std::atomic<uint64_t>& slot = table.substitutes[unit];
  uint64_t packed = slot.load(std::memory_order_relaxed);
  if (packed == 0) {
    const QChar c(unit);
    const QByteArray bytes = IconvToAnsi(QStringView(&c, 1), codePage);
    if (bytes.size() > 7) {
      packed = kLongSubstitute;
    } else {
      packed = static_cast<uint64_t>(bytes.size() + 1);
      for (qsizetype k = 0; k < bytes.size(); ++k)
        packed |= uint64_t(static_cast<uint8_t>(bytes[k])) << (8 * (k + 1));
    }
    slot.store(packed, std::memory_order_relaxed);
  }
  return packed;
}

// The substitute of the unit at src[i], which the table does not hold, where it converts by
// itself; 0 where iconv must see the text whole: double-byte code pages, 1258 (which spells
// letters with combining marks), surrogates, combining marks and substitutes longer than a
// table's slot.
inline uint64_t SubstituteByItself(const char16_t* src, qsizetype i, qsizetype size, int codePage,
                                   const SingleByteTable* table) {
  const char16_t unit = src[i];
  if (table == nullptr || codePage == 1258 || QChar::isSurrogate(unit) || IsCombining(unit) ||
      (i + 1 < size && IsCombining(src[i + 1])))
    return 0;
  const uint64_t packed = PackedSubstitute(unit, codePage, *table);
  return packed == kLongSubstitute ? 0 : packed;
}

// Writes the `length` bytes of a packed substitute at `dst`.
inline void PutSubstitute(uint64_t packed, qsizetype length, char* dst, const char* end) {
  if (std::endian::native == std::endian::little && end - dst >= 8) {
    // As one word: what lies past `length` is written over by the units after it, or is past
    // the text's bytes.
    const uint64_t bytes = packed >> 8;
    std::memcpy(dst, &bytes, sizeof bytes);
  } else {
    for (qsizetype k = 0; k < length; ++k) dst[k] = static_cast<char>(packed >> (8 * (k + 1)));
  }
}

bool PutThroughTable(QStringView text, int codePage, const SingleByteTable* table, char*& dst,
                     const char* end);

// Appends `text` through the table to `out`; false, with `out` as it was, where iconv must see
// the text whole (see SubstituteByItself). Room for a byte per unit, which most text takes
// exactly; where a substitute of more bytes did not fit, once more with room for the longest.
bool AppendThroughTable(QByteArray& out, QStringView text, int codePage,
                        const SingleByteTable* table) {
  const qsizetype start = out.size();
  for (const qsizetype room : {text.size(), 8 * text.size() + 8}) {
    out.resize(start + room);
    char* dst = out.data() + start;
    if (PutThroughTable(text, codePage, table, dst, out.data() + out.size())) {
      out.truncate(dst - out.data());
      return true;
    }
  }
  out.truncate(start);
  return false;
}

}  // namespace

int CodePageForLocale(const QString& localeName) {
  const QString name = localeName.section(u'.', 0, 0).section(u'@', 0, 0);
  for (const auto& entry : kLanguages) {
    const QString prefix = QString::fromLatin1(entry.language);
    if (name == prefix || name.startsWith(prefix + u'_') ||
        (prefix.contains(u'_') && name.startsWith(prefix)))
      return entry.codePage;
  }
  return 1252;
}

int AnsiCodePage() {
  if (overrideCodePage != 0) return overrideCodePage;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return CodePageForLocale(QString::fromLocal8Bit(value));
  }
  return 1252;
}

void SetAnsiCodePage(int codePage) {
  overrideCodePage = codePage;
}

bool IsDoubleByteCodePage(int codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

bool AppendAnsiByItself(QByteArray& out, QStringView text, int codePage) {
  return AppendThroughTable(out, text, codePage, TableFor(codePage));
}

bool PutAnsiByItself(QStringView text, int codePage, char*& dst, const char* end) {
  return PutThroughTable(text, codePage, TableFor(codePage), dst, end);
}

namespace {

bool PutThroughTable(QStringView text, int codePage, const SingleByteTable* table, char*& dst,
                     const char* end) {
  const qsizetype size = text.size();
  if (end - dst < size) return false;
  const char16_t* src = text.utf16();
  char* out = dst;
  qsizetype i = 0;
  while (i < size) {
    qsizetype stop = size;
    if (size - i >= 8) {
      // Eight units at a time while they are all ASCII, as most text is; else these eight one
      // by one, then eight at a time again.
      if (AsciiRun(src + i, out)) {
        out += 8;
        i += 8;
        continue;
      }
      stop = i + 8;
    }
    for (; i < stop; ++i) {
      const char16_t unit = src[i];
      if (unit < 0x80) {
        *out++ = static_cast<char>(unit);
      } else if (table != nullptr && table->code[unit] != 0) {
        *out++ = static_cast<char>(table->code[unit]);
      } else if (const uint64_t packed = SubstituteByItself(src, i, size, codePage, table)) {
        const qsizetype length = static_cast<qsizetype>(packed & 0xFF) - 1;
        // Room for this unit's bytes and a byte for each unit after it.
        if (end - out < length + (size - i - 1)) return false;
        PutSubstitute(packed, length, out, end);
        out += length;
      } else {
        return false;
      }
    }
  }
  dst = out;
  return true;
}

}  // namespace

void AppendAnsi(QByteArray& out, QStringView text, int codePage) {
  // Every Windows code page holds ASCII as it is, and a single-byte one each of its letters:
  // most text needs no converter.
  if (!AppendThroughTable(out, text, codePage, TableFor(codePage)))
    out += IconvToAnsi(text, codePage);
}

QByteArray ToAnsi(QStringView text, int codePage) {
  if (text.isEmpty()) return {};
  QByteArray direct;
  if (AppendThroughTable(direct, text, codePage, TableFor(codePage))) return direct;
  return IconvToAnsi(text, codePage);
}

namespace {

QByteArray IconvToAnsi(QStringView text, int codePage) {
  if (text.isEmpty()) return {};
  iconv_t cd = SharedConverters().Get(IconvName(codePage) + "//TRANSLIT", "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return text.toLatin1();
  static std::mutex convertMutex;
  std::lock_guard lock(convertMutex);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  QByteArray out(text.size() * 2 + 4, Qt::Uninitialized);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.utf16()));
  size_t inLeft = static_cast<size_t>(text.size()) * 2;
  char* dst = out.data();
  size_t outLeft = static_cast<size_t>(out.size());
  auto grow = [&] {
    const qsizetype used = dst - out.data();
    out.resize(out.size() * 2);
    dst = out.data() + used;
    outLeft = static_cast<size_t>(out.size() - used);
  };
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    // No room left, also when the next code unit is one that does not convert: more room.
    if (errno == E2BIG || outLeft == 0) {
      grow();
      continue;
    }
    // A code unit that does not convert at all (a lone surrogate): "?" in its place.
    *dst++ = '?';
    --outLeft;
    in += 2;
    inLeft -= 2;
  }
  // Stateful converters (1258 among them) may still hold the last character back.
  if (outLeft < 16) grow();
  iconv(cd, nullptr, nullptr, &dst, &outLeft);
  out.truncate(dst - out.data());
  return out;
}

}  // namespace

QByteArray ToAnsi(QStringView text) {
  return ToAnsi(text, AnsiCodePage());
}

QString FromAnsi(QByteArrayView bytes, int codePage) {
  if (bytes.isEmpty()) return {};
  iconv_t cd = SharedConverters().Get("UTF-16LE", IconvName(codePage));
  if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(bytes);
  static std::mutex convertMutex;
  std::lock_guard lock(convertMutex);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  QString out(bytes.size() + 1, Qt::Uninitialized);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = static_cast<size_t>(bytes.size());
  char* dst = reinterpret_cast<char*>(out.data());
  size_t outLeft = static_cast<size_t>(out.size()) * 2;
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) break;  // cannot happen: one byte never gives more than one UTF-16 unit
    // An invalid or truncated sequence: U+FFFD for its first byte, then go on.
    if (outLeft < 2) break;
    *reinterpret_cast<char16_t*>(dst) = u'\uFFFD';
    dst += 2;
    outLeft -= 2;
    ++in;
    --inLeft;
  }
  // The 1258 converter holds each character back until it knows whether a combining mark
  // follows: the last one comes out only when the converter is flushed.
  iconv(cd, nullptr, nullptr, &dst, &outLeft);
  out.truncate((dst - reinterpret_cast<char*>(out.data())) / 2);
  return out;
}

bool CodePageHolds(QStringView text, int codePage) {
  // Every code page holds ASCII: most texts are decided without converting anything.
  if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
    return true;
  return FromAnsi(ToAnsi(text, codePage), codePage) == text;
}

}  // namespace lumivex
