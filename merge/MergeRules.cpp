#include "merge/MergeRules.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <tuple>

#include <QHash>
#include <QLocale>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace lumivex::merge {

namespace {

using contact::Contact;

// QChar::isSpace without its table look-up for the letters of most scripts: no character from
// 0x80 up to 0x1680 is white space but 0x85 and 0xA0, and none above 0x3000 (ideographs, Hangul).
[[gnu::always_inline]] inline bool IsSpace(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x80) return u == u' ' || (u >= u'\t' && u <= u'\r');
  if (u < 0x1680) return u == 0x85 || u == 0xA0;
  return u <= 0x3000 && c.isSpace();
}

// FoldCase from 0x80 up.
char16_t FoldCaseAbove(char16_t u) {
  static const auto table = [] {
    std::array<char16_t, 0x530> folded{};
    for (size_t i = 0; i < folded.size(); ++i)
      folded[i] = QChar(char16_t(i)).toCaseFolded().unicode();
    return folded;
  }();
  return u < table.size() ? table[u] : QChar(u).toCaseFolded().unicode();
}
// QChar::toCaseFolded, looked up in a table of its own for the Latin, Greek and Cyrillic
// letters, as names are mostly written in.
[[gnu::always_inline]] inline char16_t FoldCase(char16_t u) {
  if (u < 0x80) return u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u;
  return FoldCaseAbove(u);
}

// Room for a text made from another, on the caller's stack where it fits, else on the heap.
// (QVarLengthArray calls out of line on every resize, even within the room it has.)
template <qsizetype N>
class Units {
 public:
  char16_t* Room(qsizetype n) {
    if (n <= N) return stack_;
    heap_ = std::make_unique_for_overwrite<char16_t[]>(size_t(n));
    return heap_.get();
  }

 private:
  char16_t stack_[N];
  std::unique_ptr<char16_t[]> heap_;
};

// A text of a few parts in the form ComparableName makes it, without a QString: runs of white
// space as one space (none at the ends, one between parts), case folded.
using Folded = Units<128>;
QStringView Fold(std::initializer_list<QStringView> parts, Folded& out) {
  // At most every unit and a space before each part: written through a pointer, no check each.
  qsizetype room = 0;
  for (const QStringView part : parts) room += part.size() + 1;
  char16_t* const begin = out.Room(room);
  char16_t* to = begin;
  bool space = false;
  // One unit: white space as one space between words, any other unit case folded.
  const auto put = [&](char16_t u) {
    if (IsSpace(QChar(u))) {
      space = to != begin;
      return;
    }
    if (space) *to++ = u' ';
    space = false;
    *to++ = FoldCase(u);
  };
  for (const QStringView part : parts) {
    space = to != begin;
    const char16_t* units = part.utf16();
    const char16_t* const end = units + part.size();
#ifdef __SSE2__
    // Eight units at once where all are printable ASCII (no white space): capitals made small.
    // Eight that are not are put one by one.
    for (; end - units >= 8; units += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
      // Signed compares: a unit of 0x8000 or above is negative, so below '!' as well.
      const __m128i outside = _mm_or_si128(_mm_cmplt_epi16(v, _mm_set1_epi16(0x21)),
                                           _mm_cmpgt_epi16(v, _mm_set1_epi16(0x7E)));
      if (_mm_movemask_epi8(outside) != 0) {
        for (int k = 0; k < 8; ++k) put(units[k]);
        continue;
      }
      const __m128i capital = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16(u'A' - 1)),
                                            _mm_cmplt_epi16(v, _mm_set1_epi16(u'Z' + 1)));
      if (space) *to++ = u' ';
      space = false;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                       _mm_add_epi16(v, _mm_and_si128(capital, _mm_set1_epi16(32))));
      to += 8;
    }
#endif
    while (units != end) put(*units++);
  }
  return QStringView(begin, to - begin);
}

// A 64-bit hash of the parts, the rule first: the same values always give the same key, and a key
// of one rule never equals one of another. Each part goes in as its length, then its UTF-16
// units, so that ("ab","c") differs from ("a","bc"); four units at a time are mixed in by one
// folded 128-bit product, the last ones padded with zeros. (A byte-wise hash such as FNV-1a
// chains two multiplications per unit, and was most of the keys' cost.) Only which keys are
// equal matters: the groups found, and so the output, do not depend on the order of the hashes.
class KeyHash {
 public:
  explicit KeyHash(MatchRule rule) : hash_(kSeed ^ static_cast<uint64_t>(rule)) {}
  KeyHash& Add(QStringView text) {
    const char16_t* units = text.utf16();
    qsizetype n = text.size();
    hash_ = Mix(hash_ ^ static_cast<uint64_t>(n));
    uint64_t word;
    for (; n >= 4; n -= 4, units += 4) {
      std::memcpy(&word, units, sizeof word);
      hash_ = Mix(hash_ ^ word);
    }
    if (n > 0) {
      // The last units, the rest of the word 0: the length tells them apart. Read as one, two
      // or three units rather than copied by a call.
      word = units[0];
      if (n >= 2) word |= uint64_t(units[1]) << 16;
      if (n == 3) word |= uint64_t(units[2]) << 32;
      hash_ = Mix(hash_ ^ word);
    }
    return *this;
  }
  // Bytes, sixteen at a time: the two halves multiplied, one with the hash so far mixed in, and
  // the product folded (as wyhash does), the last ones padded with zeros.
  KeyHash& AddBytes(QByteArrayView bytes) {
    const char* at = bytes.data();
    qsizetype n = bytes.size();
    hash_ = Mix(hash_ ^ static_cast<uint64_t>(n));
    uint64_t words[2];
    for (; n >= 16; n -= 16, at += 16) {
      std::memcpy(words, at, sizeof words);
      hash_ = Multiply(words[0] ^ 0xa0761d6478bd642full, words[1] ^ hash_);
    }
    if (n > 0) {
      words[0] = words[1] = 0;
      std::memcpy(words, at, size_t(n));
      hash_ = Multiply(words[0] ^ 0xa0761d6478bd642full, words[1] ^ hash_);
    }
    return *this;
  }
  // A number, mixed in as it is: no text is made of it.
  KeyHash& AddNumber(uint64_t n) {
    hash_ = Mix(Mix(hash_ ^ kNumber) ^ n);
    return *this;
  }
  uint64_t Value() const { return hash_; }
  // One step: a 64-bit value spread over all 64 bits.
  static uint64_t Mix(uint64_t x) {
    return Multiply(x ^ 0xa0761d6478bd642full, 0xe7037ed1a0b428dbull);
  }

 private:
  // The 128-bit product of a and b, its halves folded into one.
  static uint64_t Multiply(uint64_t a, uint64_t b) {
    __extension__ using Wide = unsigned __int128;
    const Wide product = Wide(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  }

  static constexpr uint64_t kNumber = 0x9e3779b97f4a7c15ull;  // a number follows, not a text
  static constexpr uint64_t kSeed = 0x243f6a8885a308d3ull;
  uint64_t hash_;
};

// Country calling codes of two digits; those starting with 1 or 7 have one, all others three.
bool TwoDigitCountryCode(int code) {
  static constexpr std::array<int, 44> kCodes = {
      20, 27, 30, 31, 32, 33, 34, 36, 39, 40, 41, 43, 44, 45, 46, 47, 48, 49, 51, 52, 53, 54,
      55, 56, 57, 58, 60, 61, 62, 63, 64, 65, 66, 81, 82, 84, 86, 90, 91, 92, 93, 94, 95, 98};
  return std::binary_search(kCodes.begin(), kCodes.end(), code);
}

bool SameText(const QString& a, const QString& b) {
  return a == b || a.compare(b, Qt::CaseInsensitive) == 0;  // mostly written alike
}

// Whether `notes` hold `note` whole (both trimmed): as their whole text, or as one of the notes
// a merge put one after another, parted by kNoteSeparator; each also without the "Earlier: ..."
// lines a merge puts after the notes. A note that is only a part of another ("flat 1" of
// "Door code 1234, flat 12") is not held: it says something else.
bool HoldsNote(QStringView notes, QStringView note) {
  const auto holds = [note](QStringView text) {
    for (text = text.trimmed();; text = text.trimmed()) {
      if (text == note) return true;
      const qsizetype line = text.lastIndexOf(u'\n');
      if (line < 0 || !text.sliced(line + 1).trimmed().startsWith(u"Earlier: ")) return false;
      text.truncate(line);
    }
  };
  if (holds(notes)) return true;
  const QStringView separator(kNoteSeparator);
  qsizetype from = 0;
  for (qsizetype end; (end = notes.indexOf(separator, from)) >= 0; from = end + separator.size())
    if (holds(notes.sliced(from, end - from))) return true;
  return from > 0 && holds(notes.sliced(from));
}

// Whether `text` holds more than blanks: looked at from its start, where most texts have their
// first letter, without the call trimmed() takes.
bool HasText(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return !IsSpace(c); });
}

void TakeIfEmpty(QString& newer, const QString& older) {
  if (newer.isEmpty() && !older.isEmpty()) newer = older;
}

using PhoneBuffer = Units<64>;
QStringView PhoneDigits(QStringView number, int homeCode, PhoneBuffer& buffer);

// text.simplified(), without a new string where the text is simple already, as most are.
QString Simplified(const QString& text) {
  bool space = true;  // a space here would lead
  for (const QChar c : text) {
    if (!IsSpace(c)) {
      space = false;
      continue;
    }
    if (space || c != u' ') return text.simplified();
    space = true;
  }
  return space && !text.isEmpty() ? text.simplified() : text;
}

QString PhoneKey(const contact::Phone& phone) {
  const QString digits = ComparablePhone(phone.number, HomeCallingCode());
  return digits.isEmpty() ? Simplified(phone.number) : digits;
}

}  // namespace

QString RuleText(MatchRule rule) {
  switch (rule) {
    case MatchRule::kNone:
      return {};
    case MatchRule::kSameEntry:
      return QStringLiteral("same entry");
    case MatchRule::kEqual:
      return QStringLiteral("every field equal");
    case MatchRule::kEmail:
      return QStringLiteral("same e-mail address");
    case MatchRule::kPhone:
      return QStringLiteral("same phone number");
    case MatchRule::kNameAndCompany:
      return QStringLiteral("same name and company");
    case MatchRule::kList:
      return QStringLiteral("same list name and members");
    case MatchRule::kEmailOtherSurname:
      return QStringLiteral("same e-mail address, another surname");
  }
  return {};
}

namespace {

// The address itself: without the spaces around it, a "mailto:" before it, or a name it is
// written after ("Per Lund <per@lund.example>").
QStringView BareAddress(QStringView address) {
  // Most addresses have no blanks around them: trimmed only where one has.
  if (!address.isEmpty() && (IsSpace(address.front()) || IsSpace(address.back())))
    address = address.trimmed();
  if (address.endsWith(u'>')) {
    const qsizetype open = address.lastIndexOf(u'<');
    if (open >= 0) address = address.sliced(open + 1, address.size() - open - 2).trimmed();
  }
  // Most addresses begin otherwise: the case-blind comparison only where one may be "mailto:".
  if ((address.startsWith(u'm') || address.startsWith(u'M')) &&
      address.startsWith(u"mailto:", Qt::CaseInsensitive))
    address = address.sliced(7);
  return address;
}

}  // namespace

QString ComparableEmail(const QString& address) {
  return BareAddress(address).toString().toCaseFolded();
}

namespace {

// The digit of a letter's key on a telephone ('a' to 'z', small): abc 2, def 3, ... wxyz 9.
char16_t KeyDigit(char16_t letter) {
  static constexpr char kKeys[] = "22233344455566677778889999";
  return char16_t(kKeys[letter - u'a']);
}

// The number a telephone is compared by (ComparablePhone), made in `buffer` on the caller's
// stack: no string is made, as merging takes them of every telephone of every entry. Empty when
// fewer than five digits remain.
QStringView PhoneDigits(QStringView number, int homeCode, PhoneBuffer& buffer) {
  // The number's digits, then its extension's, each in room of its own: as many as the number
  // has units at most.
  PhoneBuffer digitRoom, extensionRoom;
  char16_t* const digits = digitRoom.Room(number.size());
  char16_t* const extension = extensionRoom.Room(number.size());
  // Digits go to `put`: the number's until an extension begins ("ext. 12", "x12", "#12": a
  // letter, '#' or ',' after a digit), then the extension's.
  char16_t* put = digits;
  bool international = false, inExtension = false;
  qsizetype end = 0;
  // A North American number may be written with letters for digits, as on a telephone's keys
  // ("1-800-FLOWERS", "+1 212 55 CALL-NOW"): a letter that comes before the number has its ten
  // digits (and the 1 before them) stands for its key's digit; after them, it begins an
  // extension ("x12") or a word of its own ("(home)").
  // How it begins, past any blanks.
  // (Its first units compared as they are: a call each took as long as the rest.)
  qsizetype first = 0;
  while (first < number.size() && IsSpace(number[first])) ++first;
  const auto at = [&](qsizetype k) {
    return first + k < number.size() ? number[first + k] : QChar();
  };
  const bool keys = (at(0) == u'+' && at(1) == u'1') ||
                    (homeCode == 1 && at(0) != u'+' && !(at(0) == u'0' && at(1) == u'0'));
  for (const QChar c : number) {
    const char16_t u = c.unicode();
    if (char16_t(u - u'0') < 10) {
      *put++ = u;
    } else if (u < 0x80 && u != u'+' && u != u'#' && u != u',' &&
               char16_t((u | 0x20) - u'a') >= 26) {
      continue;  // a blank, dash, dot or bracket between digits: nothing to any rule below
    } else if (u >= 0x80 && c.isDigit()) {
      *put++ = char16_t(u'0' + c.digitValue());
    } else if (inExtension) {
      continue;
    } else if (u == u'+') {
      international = international || put == digits;
    } else if (keys && put != digits && char16_t((u | 0x20) - u'a') < 26 &&
               put - digits < (digits[0] == u'1' ? 11 : 10)) {
      *put++ = KeyDigit(char16_t(u | 0x20));
    } else if (put != digits && (u == u'#' || u == u',' || (u >= u'A' && c.isLetter()))) {
      inExtension = true;
      end = put - digits;
      put = extension;
    }
  }
  if (!inExtension) end = put - digits;
  const qsizetype extensionEnd = inExtension ? put - extension : 0;
  qsizetype start = 0;
  if (!international && end >= 2 && digits[0] == u'0' && digits[1] == u'0') {
    international = true;
    start = 2;
  }
  // The country code (12 units at most), the digits, "x" and the extension.
  char16_t* const begin = buffer.Room(number.size() + 13);
  char16_t* to = begin;
  int country = 0;  // the number's country code, else the user's; 0 where neither is known
  if (international) {
    qsizetype code = 3;
    if (start < end && (digits[start] == u'1' || digits[start] == u'7'))
      code = 1;
    else if (end - start >= 2 &&
             TwoDigitCountryCode((digits[start] - u'0') * 10 + (digits[start + 1] - u'0')))
      code = 2;
    code = std::min<qsizetype>(code, end - start);
    for (qsizetype k = 0; k < code; ++k) country = country * 10 + (digits[start + k] - u'0');
    to = std::copy_n(digits + start, code, to);
    start += code;
  } else {
    country = homeCode;
    if (homeCode == 1 && end == 11 && digits[0] == u'1') start = 1;  // North America's trunk 1
    // No country code: the user's own country's, else a "0" that no code begins with. Its
    // digits written here, not made into a string for every number.
    char16_t home[12];
    qsizetype length = 0;
    for (int code = homeCode > 0 ? homeCode : 0; length == 0 || code > 0; code /= 10)
      home[length++] = char16_t(u'0' + code % 10);
    std::reverse(home, home + length);
    to = std::copy_n(home, length, to);
  }
  // A trunk prefix, also where it is written after the country code ("+44 (0)20 ..."). Italy,
  // San Marino and the Vatican City have none: their numbers keep the 0 they begin with, and
  // "+39 0331 234567" (a landline) is another number than "+39 331 234567" (a mobile).
  if (country != 39 && country != 378 && country != 379)
    while (start < end && digits[start] == u'0') ++start;
  if (end - start < 5) return {};
  to = std::copy_n(digits + start, end - start, to);
  if (extensionEnd != 0) {
    *to++ = u'x';
    to = std::copy_n(extension, extensionEnd, to);
  }
  return QStringView(begin, to - begin);
}

}  // namespace

QString ComparablePhone(const QString& number, int homeCode) {
  PhoneBuffer digits;
  return PhoneDigits(number, homeCode, digits).toString();
}

int CallingCode(QStringView territory) {
  static const QHash<QString, int> codes = [] {
    const std::pair<const char*, int> table[] = {
        {"US", 1},   {"CA", 1},   {"GB", 44},  {"DE", 49},  {"FR", 33},  {"ES", 34},  {"IT", 39},
        {"NL", 31},  {"BE", 32},  {"CH", 41},  {"AT", 43},  {"SE", 46},  {"NO", 47},  {"DK", 45},
        {"FI", 358}, {"PL", 48},  {"CZ", 420}, {"SK", 421}, {"PT", 351}, {"IE", 353}, {"GR", 30},
        {"RU", 7},   {"KZ", 7},   {"UA", 380}, {"TR", 90},  {"JP", 81},  {"CN", 86},  {"KR", 82},
        {"IN", 91},  {"PK", 92},  {"AU", 61},  {"NZ", 64},  {"BR", 55},  {"MX", 52},  {"AR", 54},
        {"ZA", 27},  {"EG", 20},  {"IL", 972}, {"SA", 966}, {"AE", 971}, {"SG", 65},  {"HK", 852},
        {"TW", 886}, {"HU", 36},  {"RO", 40},  {"BG", 359}, {"HR", 385}, {"SI", 386}, {"LU", 352},
        {"IS", 354}, {"EE", 372}, {"LV", 371}, {"LT", 370}, {"CL", 56},  {"CO", 57},  {"PE", 51},
        {"VE", 58},  {"TH", 66},  {"MY", 60},  {"ID", 62},  {"PH", 63},  {"VN", 84},  {"NG", 234},
        {"KE", 254}, {"MA", 212}, {"RS", 381}, {"BY", 375}, {"CY", 357}, {"MT", 356}};
    QHash<QString, int> map;
    for (const auto& [letters, code] : table) map.insert(QString::fromLatin1(letters), code);
    return map;
  }();
  return codes.value(territory.toString().toUpper(), 0);
}

int HomeCallingCode() {
  static const int code = [] {
    const QLocale locale = QLocale::system();
    return locale.territory() == QLocale::AnyTerritory
               ? 0
               : CallingCode(QLocale::territoryToCode(locale.territory()));
  }();
  return code;
}

QString ComparableName(const Contact& c) {
  QString name = c.displayName.simplified();
  if (name.isEmpty())
    name = QStringList{c.givenName, c.middleName, c.surname}.join(u' ').simplified();
  return name.toCaseFolded();
}

namespace {

constexpr qsizetype kNameRoom = 64;
using NameBuffer = Units<kNameRoom>;

// What a character is in a name as it is compared, for those from 0x80 up: the letter its
// canonical decomposition leaves once the accents are taken off, case folded; kDrop for an
// accent alone; kWhole where more than one character would remain (a ligature; a Hangul syllable,
// decomposed by FoldNamePart itself) or for half of a surrogate pair: the name is then
// decomposed whole. Looked up in tables of 256 characters, each made the first time one of its
// characters is met (most names meet a few).
constexpr char16_t kDrop = 0, kWhole = 0xFFFF;
// Whether a character is an accent, dropped from a name as it is compared: a combining mark of
// the blocks of diacritics (those of Latin, Greek and Cyrillic letters among them), Cyrillic's
// titlo and its kin, Hebrew points and Arabic harakat. Other combining marks are letters of their
// script: a Thai, Lao, Khmer or Myanmar vowel sign or tone mark, a Devanagari, Bengali or Tamil
// vowel sign (ติ๊ก and ตุ๊ก, मेघा and मघा are other names), and are kept.
bool Accent(QChar c) {
  static constexpr std::pair<char16_t, char16_t> kAccents[] = {
      {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05C7}, {0x0610, 0x061A},
      {0x064B, 0x065F}, {0x0670, 0x0670}, {0x06D6, 0x06ED}, {0x1AB0, 0x1AFF},
      {0x1DC0, 0x1DFF}, {0x20D0, 0x20FF}, {0xFE20, 0xFE2F}};
  const char16_t u = c.unicode();
  return std::any_of(std::begin(kAccents), std::end(kAccents),
                     [u](const auto& range) { return u >= range.first && u <= range.second; }) &&
         c.category() == QChar::Mark_NonSpacing;
}
std::atomic<const char16_t*> foldedPages[256];
const char16_t* MakeFoldedPage(char16_t high) {
  auto made = std::make_unique<char16_t[]>(256);
  for (unsigned k = 0; k < 256; ++k) {
    const auto c = char16_t(high << 8 | k);
    if (QChar::isSurrogate(c)) {
      made[k] = kWhole;
      continue;
    }
    QString left;
    for (const QChar d : QString(QChar(c)).normalized(QString::NormalizationForm_D))
      if (!Accent(d)) left += d;
    made[k] = left.isEmpty() ? kDrop : left.size() == 1 ? FoldCase(left[0].unicode()) : kWhole;
  }
  // Made by one thread, or by two at once: the first kept, the other let go.
  const char16_t* page = nullptr;
  if (foldedPages[high].compare_exchange_strong(page, made.get(), std::memory_order_acq_rel))
    page = made.release();
  return page;
}
inline char16_t FoldedBase(char16_t u) {
  const char16_t* page = foldedPages[u >> 8].load(std::memory_order_acquire);
  if (!page) page = MakeFoldedPage(char16_t(u >> 8));
  return page[u & 0xFF];
}

// A Hangul syllable's canonical decomposition: its leading consonant, vowel and, where it has
// one, trailing consonant (jamo, which have no case and no accents).
constexpr char16_t kHangulFirst = 0xAC00, kHangulLast = 0xD7A3;
char16_t* PutJamo(char16_t syllable, char16_t* to) {
  const unsigned index = syllable - kHangulFirst;
  *to++ = char16_t(0x1100 + index / 588);
  *to++ = char16_t(0x1161 + index % 588 / 28);
  if (index % 28 != 0) *to++ = char16_t(0x11A7 + index % 28);
  return to;
}

// The kana (hiragana and katakana, U+3041 to U+30FF but for the voicing marks), and those marks
// written apart from their kana.
inline bool Kana(char16_t u) {
  return u >= 0x3041 && u <= 0x30FF && !(u >= 0x3099 && u <= 0x309C);
}
inline bool VoicingMark(char16_t u) {
  return u == 0x3099 || u == 0x309A;
}
// A kana with the voicing mark `mark` written after it, as one character where there is one
// (こ and U+3099: ご); else the kana as it is, the mark left out.
char16_t Voiced(char16_t kana, char16_t mark) {
  if (!Kana(kana)) return kana;
  const QChar pair[2] = {QChar(kana), QChar(mark)};
  const QString joined = QString(pair, 2).normalized(QString::NormalizationForm_C);
  return joined.size() == 1 ? joined[0].unicode() : kana;
}
inline bool SharpS(char16_t u) {
  return u == 0xDF || u == 0x1E9E;
}

constexpr bool Ideograph(char16_t u) {
  return u >= 0x4E00 && u <= 0x9FFF;
}
constexpr bool Hangul(char16_t u) {
  return u >= kHangulFirst && u <= kHangulLast;
}

// The units of `from` folded as FoldNamePart folds them, put from `to` on; where the end.
// `tabled`: `from` is as written, each character from 0x80 up looked up in the tables; null
// where one is of kWhole (the name must be decomposed whole first). Else `from` is decomposed
// already, and its accents are dropped as they come.
char16_t* PutFolded(QStringView from, char16_t* to, bool tabled, bool dotSpaces) {
  char16_t* const begin = to;
  bool space = false;
  for (const QChar unit : from) {
    char16_t u = unit.unicode();
    // Most units are ASCII letters: taken, the capitals made small, without the tests below.
    if (char16_t(u - u'a') < 26 || char16_t(u - u'A') < 26) {
      if (space) *to++ = u' ';
      space = false;
      *to++ = u <= u'Z' ? char16_t(u + 32) : u;
      continue;
    }
    if (u >= 0x80 && VoicingMark(u)) {
      if (to != begin && !space) to[-1] = Voiced(to[-1], u);
      continue;
    }
    if (u >= 0x80 && SharpS(u)) {
      if (space) *to++ = u' ';
      space = false;
      *to++ = u's';
      *to++ = u's';
      continue;
    }
    if (u == 0x131) {
      u = u'i';
    } else if (Kana(u)) {
      // kept as it is
    } else if (!tabled) {
      if (Accent(unit)) continue;
      u = FoldCase(u);
    } else if (Hangul(u)) {
      if (space) *to++ = u' ';
      space = false;
      to = PutJamo(u, to);
      continue;
    } else if (u >= 0x80 && !Ideograph(u)) {
      u = FoldedBase(u);
      if (u == kDrop) continue;
      if (u == kWhole) return nullptr;
    }
    if (dotSpaces && u == u'.') {
      space = to != begin;
      continue;
    }
    if (u == u'.' || u == u',') continue;
    if (IsSpace(QChar(u)) || u == u'-') {
      space = to != begin;
      continue;
    }
    if (space) *to++ = u' ';
    space = false;
    *to++ = u;  // folded already (by the table or FoldCase), or ASCII that folding keeps
  }
  return to;
}

// A part of a name as it is compared: accents taken off, case folded, dots and commas dropped,
// spacing collapsed ("Zoé  M." and "zoe m" are one).
// `dotSpaces`: a dot parts words as a space does ("K.J." is "k j"), else it is dropped.
// Made in `out`, on the caller's stack: every entry's name parts are folded.
QStringView FoldNamePart(QStringView part, NameBuffer& out, bool dotSpaces = false) {
  // The CJK ideographs (U+4E00 to U+9FFF) have no decomposition and no case: they stay as they
  // are. So do the kana, whose voicing marks are no accents: ご and こ are other sounds, and a
  // mark written apart (U+3099, U+309A) is joined to its kana. A name with a character of
  // kWhole is decomposed whole first, its accents then dropped as they come. ß is "ss" and the
  // dotless ı an i, as a name written in capitals ("STRAUSS", "IŞIK") has them.
  // A folded unit takes three at most (a Hangul syllable's jamo): a short part, as most are, is
  // folded at once on the stack, and looked at again only where it must be decomposed.
  if (part.size() <= kNameRoom / 3) {
    char16_t* const begin = out.Room(part.size() * 3);
    if (const char16_t* end = PutFolded(part, begin, true, dotSpaces))
      return QStringView(begin, end - begin);
  }
  QString decomposed;
  QStringView from = part;
  qsizetype syllables = 0;
  for (const QChar c : part) {
    const char16_t u = c.unicode();
    if (u < 0x80 || Ideograph(u) || Kana(u) || VoicingMark(u)) continue;
    if (Hangul(u) || SharpS(u)) {
      ++syllables;
    } else if (FoldedBase(u) == kWhole) {
      decomposed = part.toString().normalized(QString::NormalizationForm_D);
      from = decomposed;
      break;
    }
  }
  const bool tabled = decomposed.isNull();
  // The folded form is never longer but for the syllables, three jamo at most each, and each ß
  // two units (counted among the syllables; not counted where the name is decomposed whole).
  char16_t* const begin = out.Room(from.size() + (tabled ? 2 * syllables : from.size()));
  return QStringView(begin, PutFolded(from, begin, tabled, dotSpaces) - begin);
}
QString FoldNamePart(QStringView part, bool dotSpaces = false) {
  NameBuffer folded;
  return FoldNamePart(part, folded, dotSpaces).toString();
}

uint32_t PartHash(QStringView folded) {
  if (folded.isEmpty()) return 0;
  const uint64_t h = KeyHash(MatchRule::kNone).Add(folded).Value();
  const auto small = static_cast<uint32_t>(h ^ (h >> 32));
  return small == 0 ? 1 : small;
}

// A generation written in one of its forms, given in the one it is compared in ("Junior" and
// "Jr." are one, "2nd" and "II"); other words as they are.
QStringView GenerationForm(QStringView folded) {
  static constexpr std::pair<QStringView, QStringView> kForms[] = {
      {u"junior", u"jr"}, {u"jnr", u"jr"},  {u"senior", u"sr"}, {u"snr", u"sr"},
      {u"2nd", u"ii"},    {u"3rd", u"iii"}, {u"4th", u"iv"}};
  for (const auto& [word, form] : kForms)
    if (folded == word) return form;
  return folded;
}

// The generations a name shown alone may end with (a suffix field holds any).
bool IsGeneration(QStringView folded) {
  static constexpr QStringView kGenerations[] = {u"jr", u"sr", u"ii", u"iii", u"iv"};
  const QStringView form = GenerationForm(folded);
  return std::find(std::begin(kGenerations), std::end(kGenerations), form) !=
         std::end(kGenerations);
}

// Degrees and titles written after a name ("PhD", "M.D.", "Esq."): one entry of a person has
// them where another has not, so they tell nobody apart.
bool IsDegree(QStringView folded) {
  static constexpr QStringView kDegrees[] = {u"phd", u"md",  u"dds", u"dmd", u"dvm",
                                             u"esq", u"cpa", u"mba", u"rn"};
  return std::find(std::begin(kDegrees), std::end(kDegrees), folded) != std::end(kDegrees);
}

// The words of a suffix, parted by anything but letters, digits and dots ("Jr., MD", "Jr./MD",
// "III,PhD"), each given to `word` folded.
template <typename F>
void SuffixWords(QStringView suffix, F&& word) {
  qsizetype start = 0;
  for (qsizetype i = 0; i <= suffix.size(); ++i) {
    if (i < suffix.size() && (suffix[i].isLetterOrNumber() || suffix[i] == u'.')) continue;
    if (i > start) {
      NameBuffer buffer;
      if (const QStringView folded = FoldNamePart(suffix.mid(start, i - start), buffer);
          !folded.isEmpty())
        word(folded);
    }
    start = i + 1;
  }
}

// The PartHash of what in a suffix tells people apart: every word of it but the degrees, a
// generation in one form ("Jr.", "jr" and "Junior" are one). Any other word counts (a suffix
// field holds generations in many languages: "fils", "Filho", "мл."); 0 where nothing is left
// (no suffix, or degrees only).
uint32_t SuffixHash(QStringView suffix) {
  if (suffix.isEmpty()) return 0;  // most names have none
  QString kept;
  SuffixWords(suffix, [&](QStringView folded) {
    if (IsDegree(folded)) return;
    if (!kept.isEmpty()) kept += u' ';
    kept += GenerationForm(folded);
  });
  return PartHash(kept);
}

// Whether `word`, the last of a name shown alone, is no part of the name itself: a generation,
// or a degree written as one: with a dot, or a capital after its first letter ("MD", "PhD",
// "Esq."), not as a name is ("Mba" is a surname). In a name written all in capitals, only a
// degree with a dot, or one no surname is spelt like ("PhD", "Esq").
bool IsSuffix(QStringView word, bool capitals) {
  NameBuffer buffer;
  const QStringView folded = FoldNamePart(word, buffer);
  if (IsGeneration(folded)) return true;
  if (!IsDegree(folded)) return false;
  if (word.contains(u'.') || folded == u"phd" || folded == u"esq") return true;
  if (capitals) return false;
  for (qsizetype i = 1; i < word.size(); ++i)
    if (word[i].isUpper()) return true;
  return false;
}

// The middle names: their first two initials, and the whole name's hash where every part of it
// is written out (an initial agrees with any name it begins, so it is not hashed).
void SetMiddle(Identity& id, QStringView middle) {
  if (middle.isEmpty()) return;  // most names have none
  // "K.J." is two initials, as "K. J." is.
  NameBuffer buffer;
  const QStringView folded = FoldNamePart(middle, buffer, true);
  if (folded.isEmpty()) return;
  // The words are parted by one space each: a word of one letter is an initial.
  bool whole = true;
  int word = 0;
  qsizetype start = 0;
  for (qsizetype i = 0; i <= folded.size(); ++i) {
    if (i < folded.size() && folded[i] != u' ') continue;
    if (word < 2) id.middleInitials[word] = folded[start].unicode();
    whole = whole && i - start > 1;
    ++word;
    start = i + 1;
  }
  if (whole) id.middle = PartHash(folded);
}

void SetGiven(Identity& id, QStringView folded) {
  if (folded.isEmpty()) return;
  const char16_t first = folded.front().unicode();
  id.givenInitial = first;
  // "J" or "J." is an initial only: it agrees with any given name it begins. One ideograph or
  // kana is a whole name (伟 is not an initial of 伟明).
  const bool whole = (first >= 0x3041 && first <= 0x30FF) || (first >= 0x3400 && first <= 0x9FFF) ||
                     (first >= 0xF900 && first <= 0xFAFF);
  if (folded.size() > 1 || whole) id.given = PartHash(folded);
}

// What one word of a title says, folded (case, accents and dots): a man ("mr", "herr",
// "senor"), a woman ("mrs", "frau", "senora"), or neither ("dr", "prof").
Identity::Sex SexOfWord(QStringView word) {
  static constexpr QStringView kMen[] = {u"mr",    u"mister", u"herr",   u"monsieur", u"m",
                                         u"senor", u"sr",     u"signor", u"sig",      u"dhr"};
  static constexpr QStringView kWomen[] = {
      u"mrs",          u"ms",        u"miss",    u"frau", u"fraulein", u"madame", u"mme",
      u"mademoiselle", u"mlle",      u"senora",  u"sra",  u"senorita", u"srta",   u"signora",
      u"sigra",        u"signorina", u"mevrouw", u"mevr", u"mw"};
  const auto in = [word](const auto& words) {
    return std::find(std::begin(words), std::end(words), word) != std::end(words);
  };
  return in(kMen) ? Identity::kMan : in(kWomen) ? Identity::kWoman : Identity::kUnknown;
}

// What a title (the name's prefix) says of the person. "M." is "Monsieur" here, where only a
// title is written.
Identity::Sex SexOfTitle(QStringView prefix) {
  if (prefix.isEmpty()) return Identity::kUnknown;  // most entries have none
  NameBuffer buffer;
  const QStringView folded = FoldNamePart(prefix, buffer);
  bool man = false, woman = false;
  for (const QStringView word : folded.tokenize(u' ')) {
    const Identity::Sex sex = SexOfWord(word);
    man = man || sex == Identity::kMan;
    woman = woman || sex == Identity::kWoman;
  }
  // Both ("Mr. & Mrs.") say neither one person.
  return man == woman ? Identity::kUnknown : man ? Identity::kMan : Identity::kWoman;
}

// Whether a title SexOfShownTitle reads begins with `c`.
bool TitleLetter(QChar c) {
  switch (c.unicode() | 0x20) {  // capitals made small; no other unit becomes one of these
    case u'm':
    case u'h':
    case u's':
    case u'f':
    case u'd':
      return true;
    default:
      return false;
  }
}
// What the first word of a display name says as a title ("Mrs. J. Ford", "Ford, Mr. John"), of
// the titles that are never an initial there: "M." and "Sr." may be one ("M. Ford"), and are not
// read. Most names begin with none of the letters a title begins with, and are passed at once.
Identity::Sex SexOfShownTitle(QStringView word) {
  if (word.size() < 2 || word.size() > 13 || !TitleLetter(word[0])) return Identity::kUnknown;
  // Folded here as titles are written, in ASCII but for "Señor", "Fräulein" and their kin (which
  // FoldNamePart folds): no title is longer than 13 letters.
  char16_t ascii[14];
  qsizetype n = 0;
  NameBuffer buffer;
  QStringView folded;
  for (const QChar c : word) {
    const char16_t u = c.unicode();
    if (u >= 0x80) {
      folded = FoldNamePart(word, buffer);
      break;
    }
    if (u != u'.') ascii[n++] = u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u;
  }
  if (folded.isNull()) folded = QStringView(ascii, n);
  if (folded == u"m" || folded == u"sr" || folded == u"sig") return Identity::kUnknown;
  return SexOfWord(folded);
}

// Whether '&' or '+' joins two names: written as a word of its own ("John & Jane"), or between
// two names within a word ("John&Jane"); not within a word of capitals or initials ("R&D",
// "AT&T", "M&S") nor at a word's end ("Canal+").
bool JoinedBySign(QStringView name) {
  // Looked for first in one pass: most names hold neither.
  if (std::none_of(name.begin(), name.end(), [](QChar c) { return c == u'&' || c == u'+'; }))
    return false;
  const auto nameLike = [](QStringView w) {
    return w.size() >= 2 && w[0].isUpper() &&
           std::all_of(w.begin() + 1, w.end(), [](QChar c) { return c.isLower(); });
  };
  for (const QStringView word : name.tokenize(u' ', Qt::SkipEmptyParts)) {
    if (word == u"&" || word == u"+") return true;
    qsizetype at = word.indexOf(u'&');
    if (at < 0) at = word.indexOf(u'+');
    if (at > 0 && nameLike(word.first(at)) && nameLike(word.sliced(at + 1))) return true;
  }
  return false;
}

// A word joining two given names ("John and Jane", "Hans und Eva", "Jean et Marie", "Juan y
// María", "João e Ana"). "y" and "e" only written small: written large they are initials.
bool JoiningWord(QStringView w) {
  return w == u"y" || w == u"e" || w.compare(u"and", Qt::CaseInsensitive) == 0 ||
         w.compare(u"und", Qt::CaseInsensitive) == 0 || w.compare(u"et", Qt::CaseInsensitive) == 0;
}
// Whether a joining word stands between two words of given names `given`. Without a list made:
// every entry's given name is looked at, and most have too few spaces to hold three words.
bool JoinedByWord(QStringView given) {
  // Two spaces at least, counted here rather than by a call: most names have none.
  int spaces = 0;
  for (qsizetype i = 0; i < given.size() && spaces < 2; ++i) spaces += given[i] == u' ';
  if (spaces < 2) return false;
  QStringView before, word;
  for (const QStringView next : given.tokenize(u' ', Qt::SkipEmptyParts)) {
    if (!before.isEmpty() && JoiningWord(word)) return true;
    before = word;
    word = next;
  }
  return false;
}

// The given names of a household as they are compared: each word folded, '&', '+' and the
// joining words as one "&" ("John and Jane", "JOHN & JANE" and "John+Jane" are one).
QString HouseholdGiven(QString given) {
  given.replace(u'&', QStringLiteral(" & ")).replace(u'+', QStringLiteral(" & "));
  QString folded;
  for (const QString& word : given.split(u' ', Qt::SkipEmptyParts)) {
    if (!folded.isEmpty()) folded += u' ';
    folded += JoiningWord(word) ? QStringLiteral("&") : FoldNamePart(word);
  }
  return folded;
}

// Marks `id` as a household's, its given names `given` (the words before the surname).
void SetHousehold(Identity& id, const QString& given) {
  id.household = true;
  const QString folded = HouseholdGiven(given);
  id.given = PartHash(folded);
  id.givenInitial = folded.isEmpty() ? char16_t(0) : folded.front().unicode();
}

}  // namespace

Identity IdentityOf(const Contact& c) {
  Identity id;
  if (c.birthday.IsValid())
    id.birthday = uint32_t(c.birthday.year * 10000 + c.birthday.month * 100 + c.birthday.day);
  if (c.isGroup) {
    id.list = true;
    NameBuffer name;
    id.surname = PartHash(FoldNamePart(c.displayName, name));
    return id;
  }
  id.sex = SexOfTitle(c.prefix);
  if (HasText(c.givenName) || HasText(c.surname)) {
    NameBuffer given, surname;
    if (JoinedBySign(c.givenName) || JoinedByWord(c.givenName))
      SetHousehold(id, c.givenName);
    else
      SetGiven(id, FoldNamePart(c.givenName, given));
    id.surname = PartHash(FoldNamePart(c.surname, surname));
    if (id.sex == Identity::kUnknown) {
      // The name shown's first word, found without trimming it: most begin with a letter no
      // title begins with, and are passed at once.
      const QStringView shown = c.displayName;
      qsizetype from = 0;
      while (from < shown.size() && IsSpace(shown[from])) ++from;
      if (from < shown.size() && TitleLetter(shown[from])) {
        const QStringView rest = shown.sliced(from).trimmed();
        const qsizetype space = rest.indexOf(u' ');
        id.sex = SexOfShownTitle(space < 0 ? rest : rest.first(space));
      }
    }
    SetMiddle(id, c.middleName);
    id.suffix = SuffixHash(c.suffix);
    return id;
  }
  // Only a display name: "Last, First Middle" or "First Middle Last Suffix". One that is an
  // address or a number names nobody.
  QString shown = c.displayName.simplified();
  bool letters = false, lower = false;
  for (const QChar ch : shown) {
    letters = letters || ch.isLetter();
    lower = lower || ch.isLower();
  }
  if (!letters || shown.contains(u'@')) return id;
  const bool capitals = !lower;
  const auto suffixes = [&](QStringList& words, qsizetype keep) {
    while (words.size() > keep && IsSuffix(words.back(), capitals)) {
      if (const uint32_t generation = SuffixHash(words.back())) id.suffix = generation;
      words.removeLast();
    }
  };
  // A suffix after a comma ("John Smith, Jr.", "Jane Roe, Ph.D.", "Roe, Jane, MD"): taken off
  // before a comma is read as the one after a surname.
  for (qsizetype comma = shown.lastIndexOf(u','); comma > 0; comma = shown.lastIndexOf(u',')) {
    QStringList after = shown.mid(comma + 1).split(u' ', Qt::SkipEmptyParts);
    const qsizetype words = after.size();
    suffixes(after, 0);
    if (words == 0 || !after.isEmpty()) break;
    shown = shown.left(comma).trimmed();
  }
  QStringList words;
  QString surname;
  // A title before the name ("Mrs. Jane Ford", "Ford, Mr. John") is no part of it: kept as what
  // it says.
  const auto title = [&] {
    if (words.isEmpty()) return false;
    const Identity::Sex sex = SexOfShownTitle(words.front());
    if (sex == Identity::kUnknown) return false;
    if (id.sex == Identity::kUnknown) id.sex = sex;
    words.removeFirst();
    return true;
  };
  if (const qsizetype comma = shown.indexOf(u','); comma > 0) {
    surname = shown.left(comma);
    words = shown.mid(comma + 1).split(u' ', Qt::SkipEmptyParts);
    title();
  } else {
    words = shown.split(u' ', Qt::SkipEmptyParts);
    const bool titled = words.size() > 1 && title();
    suffixes(words, 2);
    if (words.size() > 1 || (titled && words.size() == 1)) surname = words.takeLast();
  }
  suffixes(words, 1);
  id.surname = PartHash(FoldNamePart(surname));
  // Two people named together: their given names are one, compared whole. A joining word only
  // as the second word ("John and Jane Smith"): one further on may join surnames ("Ana Sousa e
  // Silva Pereira").
  if (std::any_of(words.begin(), words.end(), [](const QString& w) { return JoinedBySign(w); }) ||
      (words.size() >= 3 && JoiningWord(words[1]))) {
    SetHousehold(id, words.join(u' '));
    return id;
  }
  if (!words.isEmpty()) SetGiven(id, FoldNamePart(words.front()));
  if (words.size() > 1) SetMiddle(id, words.mid(1).join(u' '));
  return id;
}

bool Compatible(const Identity& a, const Identity& b) {
  if (a.list != b.list) return false;
  if (a.birthday != 0 && b.birthday != 0 && a.birthday != b.birthday) return false;
  if (a.list) return a.surname == b.surname;
  if (!a.Named() || !b.Named()) return true;
  // A household is never one of its people: only another household of the same name.
  if (a.household != b.household) return false;
  auto differ = [](auto x, auto y) { return x != 0 && y != 0 && x != y; };
  return !differ(a.sex, b.sex) && !differ(a.surname, b.surname) && !differ(a.given, b.given) &&
         !differ(a.givenInitial, b.givenInitial) && !differ(a.middle, b.middle) &&
         !differ(a.middleInitials[0], b.middleInitials[0]) &&
         !differ(a.middleInitials[1], b.middleInitials[1]) && a.suffix == b.suffix;
}

void Absorb(Identity& a, const Identity& b) {
  const bool named = a.Named();
  for (auto part : {&Identity::given, &Identity::surname, &Identity::birthday, &Identity::middle})
    if (a.*part == 0) a.*part = b.*part;
  if (a.givenInitial == 0) a.givenInitial = b.givenInitial;
  if (a.sex == Identity::kUnknown) a.sex = b.sex;
  for (size_t k = 0; k < 2; ++k)
    if (a.middleInitials[k] == 0) a.middleInitials[k] = b.middleInitials[k];
  if (!named) {
    a.suffix = b.suffix;
    a.household = b.household;
  }
}

bool OnlySurnameDiffers(const Identity& a, const Identity& b) {
  if (a.list || b.list || !a.Named() || !b.Named()) return false;
  if (a.surname == 0 || b.surname == 0 || a.surname == b.surname) return false;
  if (a.givenInitial == 0 || a.givenInitial != b.givenInitial) return false;
  Identity same = b;
  same.surname = a.surname;
  return Compatible(a, same);
}

uint64_t EmailKey(QStringView address) {
  Folded text;
  const QStringView folded = Fold({BareAddress(address)}, text);
  return folded.isEmpty() ? 0 : KeyHash(MatchRule::kEmail).Add(folded).Value();
}

uint64_t ListKey(uint32_t name, std::vector<uint64_t> members) {
  std::sort(members.begin(), members.end());
  KeyHash key(MatchRule::kList);
  const char16_t units[2] = {char16_t(name), char16_t(name >> 16)};
  key.Add(QStringView(units, 2));
  for (const uint64_t m : members) {
    const char16_t part[4] = {char16_t(m), char16_t(m >> 16), char16_t(m >> 32), char16_t(m >> 48)};
    key.Add(QStringView(part, 4));
  }
  return key.Value();
}

namespace {

// Telephones a household or a company shares among several people are no evidence of one.
bool OwnPhone(contact::PhoneKind kind) {
  using contact::PhoneKind;
  switch (kind) {
    case PhoneKind::kCompanyMain:
    case PhoneKind::kAssistant:
    case PhoneKind::kBusinessFax:
    case PhoneKind::kHomeFax:
    case PhoneKind::kOtherFax:
    case PhoneKind::kTelex:
      return false;
    default:
      return true;
  }
}

// Whether every word of each part of the entry's name is a word of the name shown (commas
// aside, in any case and order): "Berg, Anna" holds First name Anna and Last name Berg.
bool HeldByShown(const Contact& entry, const QString& shown) {
  const QStringList shownWords = QString(shown).replace(u',', u' ').split(u' ', Qt::SkipEmptyParts);
  for (const QString* part :
       {&entry.prefix, &entry.givenName, &entry.middleName, &entry.surname, &entry.suffix}) {
    const QStringList words = Simplified(*part).split(u' ', Qt::SkipEmptyParts);
    for (const QString& w : words)
      if (!shownWords.contains(w, Qt::CaseInsensitive)) return false;
  }
  return true;
}

}  // namespace

uint64_t EqualKey(std::initializer_list<QByteArrayView> parts) {
  KeyHash key(MatchRule::kEqual);
  for (const QByteArrayView part : parts) key.AddBytes(part);
  return key.Value();
}

void MatchKeys(const Contact& c, const Identity& identity, bool copies, std::vector<MatchKey>& out,
               bool suggestions) {
  out.clear();
  // Entries that may be copies of one: the same record key and node id (the uid). The merge
  // tells them apart by the time each was made.
  if (copies && !c.uid.isEmpty() && c.created.isValid())
    out.push_back({KeyHash(MatchRule::kSameEntry).Add(c.uid).Value(), MatchRule::kSameEntry});
  if (c.isGroup) return;  // a list's members are compared once the people are grouped
  // Each key hashed from the fields as they are, folded on the caller's stack: no text is made.
  Folded text;
  for (const contact::Email& e : c.emails)
    if (const uint64_t key = EmailKey(e.address); key != 0) out.push_back({key, MatchRule::kEmail});
  const int home = HomeCallingCode();
  for (const contact::Phone& p : c.phones) {
    if (!OwnPhone(p.kind)) continue;
    PhoneBuffer buffer;
    const QStringView digits = PhoneDigits(p.number, home, buffer);
    if (!digits.isEmpty())
      out.push_back({KeyHash(MatchRule::kPhone).Add(digits).Value(), MatchRule::kPhone});
  }
  // The name (given name or its initial, and surname) and company: a suggestion only.
  if (!suggestions || identity.surname == 0 || identity.givenInitial == 0) return;
  if (const QStringView company = Fold({c.company}, text); !company.isEmpty()) {
    const char16_t name[5] = {char16_t(identity.given), char16_t(identity.given >> 16),
                              char16_t(identity.surname), char16_t(identity.surname >> 16),
                              identity.given == 0 ? identity.givenInitial : char16_t(0)};
    out.push_back(
        {KeyHash(MatchRule::kNameAndCompany).Add(QStringView(name, 5)).Add(company).Value(),
         MatchRule::kNameAndCompany});
  }
}

void Combiner::Add(const Contact& older, QStringList* dropped) {
  Contact& newer = into_;
  // Values the form shows once: the newer entry's stays; an older one that differs is kept as an
  // "Earlier: ..." line of the notes, so that nothing is lost without a word.
  QStringList earlier;
  // Most values of copies of one person are the same as written: told apart without a copy.
  auto differs = [](const QString& a, const QString& b) {
    return !a.isEmpty() && !b.isEmpty() && a != b &&
           Simplified(a).compare(Simplified(b), Qt::CaseInsensitive) != 0;
  };
  struct Labelled {
    QString Contact::*field;
    const char* label;
  };
  // A person's name is one entry's, its parts and the name shown together: the newest entry's
  // that has one (MergeRank puts named entries first), taken whole where the contact has none
  // yet, never pieced together from several entries. An older entry's parts the contact's name
  // does not hold are told.
  static constexpr Labelled kNameParts[] = {{&Contact::prefix, "Title"},
                                            {&Contact::givenName, "First name"},
                                            {&Contact::middleName, "Middle name"},
                                            {&Contact::surname, "Last name"},
                                            {&Contact::suffix, "Suffix"}};
  auto hasParts = [](const Contact& c) {
    return std::any_of(std::begin(kNameParts), std::end(kNameParts),
                       [&c](const Labelled& t) { return HasText(c.*t.field); });
  };
  const bool newerParts = hasParts(newer);
  const bool newerNamed = newerParts || HasText(newer.displayName);
  if (!newerNamed) {
    if (hasParts(older) || HasText(older.displayName)) {
      for (const Labelled& t : kNameParts) newer.*t.field = older.*t.field;
      newer.displayName = older.displayName;
    }
  } else if (!newerParts && hasParts(older) && HeldByShown(older, newer.displayName)) {
    // The contact has only a name shown, and this entry's parts are that name's words: they are
    // the parts of the name shown, taken whole so that the card has a structured name too.
    for (const Labelled& t : kNameParts) newer.*t.field = older.*t.field;
  } else {
    // The older parts are not the contact's name: those it does not hold are told (all of them
    // where the contact has a name shown and no parts, since none of them reach its parts).
    for (const Labelled& t : kNameParts) {
      const QString& value = older.*t.field;
      if (!HasText(value)) continue;
      if (!HasText(newer.*t.field) || differs(newer.*t.field, value))
        earlier << QStringLiteral("%1: %2").arg(QLatin1String(t.label), value);
    }
  }
  // A department, an office, a manager and an assistant belong to the company they came with:
  // taken, or told where they differ, only from an older entry of the contact's company (or
  // where the contact has none). Another company's go with that company where it is kept
  // beside the newer one (its department and office on its own ORG), else into the notes.
  const bool ownCompany =
      !HasText(newer.company) || (HasText(older.company) && !differs(newer.company, older.company));
  static constexpr Labelled kTold[] = {
      {&Contact::nickname, "Nickname"},     {&Contact::department, "Department"},
      {&Contact::profession, "Profession"}, {&Contact::officeLocation, "Office"},
      {&Contact::manager, "Manager"},       {&Contact::assistant, "Assistant"},
      {&Contact::imAddress, "IM address"},  {&Contact::freeBusyUrl, "Free/busy"},
      {&Contact::spouse, "Spouse"}};
  auto ofCompany = [](QString Contact::*field) {
    return field == &Contact::department || field == &Contact::officeLocation ||
           field == &Contact::manager || field == &Contact::assistant;
  };
  // Where the contact takes this entry's company, its department and office come with it: a
  // department or office the contact had without a company is not put under that company but
  // told.
  const bool takesCompany = !HasText(newer.company) && HasText(older.company);
  static constexpr Labelled kWithCompany[] = {{&Contact::department, "Department"},
                                              {&Contact::officeLocation, "Office"}};
  if (takesCompany)
    for (const Labelled& t : kWithCompany) {
      if (HasText(newer.*t.field) &&
          (!HasText(older.*t.field) || differs(newer.*t.field, older.*t.field)))
        earlier << QStringLiteral("%1: %2").arg(QLatin1String(t.label), newer.*t.field);
      newer.*t.field = older.*t.field;
    }
  for (const Labelled& t : kTold)
    if ((ownCompany || !ofCompany(t.field)) && differs(newer.*t.field, older.*t.field))
      earlier << QStringLiteral("%1: %2").arg(QLatin1String(t.label), older.*t.field);
  // An older company or job title goes beside the newer one (a second ORG or TITLE in vCard).
  QStringList besides;
  for (const auto& [field, list, label] :
       {std::tuple{&Contact::company, &Contact::earlierCompanies, "Company"},
        std::tuple{&Contact::jobTitle, &Contact::earlierTitles, "Job title"}}) {
    const QString& value = older.*field;
    if (!differs(newer.*field, value)) continue;
    QStringList& kept = newer.*list;
    if (std::none_of(kept.begin(), kept.end(),
                     [&](const QString& k) { return !differs(k, value); })) {
      kept << Simplified(value);
      besides << QStringLiteral("%1: %2").arg(QLatin1String(label), value);
    }
  }
  if (!ownCompany) {
    // The older company's place among those kept beside the newer one; none where it has no
    // company.
    qsizetype at = -1;
    if (HasText(older.company))
      for (qsizetype k = 0; k < newer.earlierCompanies.size() && at < 0; ++k)
        if (!differs(newer.earlierCompanies[k], older.company)) at = k;
    for (const auto& [field, list, label] :
         {std::tuple{&Contact::department, &Contact::earlierDepartments, "Department"},
          std::tuple{&Contact::officeLocation, &Contact::earlierOffices, "Office"},
          std::tuple{&Contact::manager, static_cast<QStringList Contact::*>(nullptr), "Manager"},
          std::tuple{&Contact::assistant, static_cast<QStringList Contact::*>(nullptr),
                     "Assistant"}}) {
      const QString& value = older.*field;
      if (!HasText(value)) continue;
      const QString line = QStringLiteral("%1: %2").arg(QLatin1String(label), value);
      QString* slot = nullptr;
      if (list && at >= 0) {
        (newer.*list).resize(newer.earlierCompanies.size());
        slot = &(newer.*list)[at];
      }
      // Told unless the card holds it already: a manager or assistant the contact names (the
      // same person at both companies) is no other value.
      if (slot && !HasText(*slot)) {
        *slot = Simplified(value);
        besides << line;
      } else if (slot ? differs(*slot, value)
                      : !HasText(newer.*field) || differs(newer.*field, value)) {
        earlier << line;
      }
    }
  }
  for (const auto& [date, label] :
       {std::pair{&Contact::birthday, "Birthday"}, std::pair{&Contact::anniversary, "Anniversary"}})
    if ((newer.*date).IsValid() && (older.*date).IsValid() && !(newer.*date == older.*date))
      earlier << QStringLiteral("%1: %2").arg(
          QLatin1String(label),
          QDate((older.*date).year, (older.*date).month, (older.*date).day).toString(Qt::ISODate));
  if (!newer.children.isEmpty() && !older.children.isEmpty() && newer.children != older.children)
    earlier << QStringLiteral("Children: %1").arg(older.children.join(QStringLiteral(", ")));
  if (dropped) {
    const QString leftOut = QStringLiteral("left out");
    for (const QString& line : earlier) Tell(*dropped, line, QStringLiteral("in the notes"));
    for (const QString& line : besides)
      Tell(*dropped, line, QStringLiteral("kept beside the newer one"));
    if (!newer.photo.IsEmpty() && !older.photo.IsEmpty() && newer.photo.data != older.photo.data)
      Tell(*dropped, QStringLiteral("Picture"), leftOut);
    if (newer.gender != contact::Gender::kUnspecified &&
        older.gender != contact::Gender::kUnspecified && newer.gender != older.gender)
      Tell(*dropped,
           older.gender == contact::Gender::kFemale ? QStringLiteral("Gender: female")
                                                    : QStringLiteral("Gender: male"),
           leftOut);
    // Names the contact is shown and filed by: the newer entry's, which the names follow. The
    // name shown is the display name, else the name's parts.
    QString shown = newer.displayName;
    if (!HasText(shown)) {
      QStringList parts;
      for (const Labelled& t : kNameParts)
        if (HasText(newer.*t.field)) parts << newer.*t.field;
      shown = parts.join(u' ');
    }
    if (differs(shown, older.displayName))
      Tell(*dropped, QStringLiteral("Display name: %1").arg(older.displayName), leftOut);
    for (const Labelled& t :
         {Labelled{&Contact::fileAs, "File as"}, Labelled{&Contact::initials, "Initials"}})
      if (differs(newer.*t.field, older.*t.field))
        Tell(*dropped, QStringLiteral("%1: %2").arg(QLatin1String(t.label), older.*t.field),
             leftOut);
  }
  for (auto field : {&Contact::messageClass, &Contact::fileAs, &Contact::nickname,
                     &Contact::initials, &Contact::jobTitle, &Contact::profession,
                     &Contact::imAddress, &Contact::freeBusyUrl, &Contact::spouse})
    TakeIfEmpty(newer.*field, older.*field);
  if (ownCompany)
    for (auto field : {&Contact::company, &Contact::department, &Contact::officeLocation,
                       &Contact::manager, &Contact::assistant})
      TakeIfEmpty(newer.*field, older.*field);
  if (!newer.birthday.IsValid()) newer.birthday = older.birthday;
  if (!newer.anniversary.IsValid()) newer.anniversary = older.anniversary;
  if (newer.gender == contact::Gender::kUnspecified) newer.gender = older.gender;
  if (newer.children.isEmpty()) newer.children = older.children;
  // A list keeps the newer entry's members, taken from the older one only where it has none: a
  // member taken out of the list stays out, and an older one the list does not hold is told.
  if (newer.members.empty())
    newer.members = older.members;
  else if (dropped && !older.members.empty())
    TellMembersLeftOut(older.members, *dropped);
  if (newer.photo.IsEmpty() && !older.photo.IsEmpty()) newer.photo = older.photo;
  if (!newer.created.isValid()) newer.created = older.created;

  // Web pages: every different page is kept. A page of the older entry goes where the newer one
  // has none (its own slot first, then the other), else among the further pages.
  auto knownPage = [&newer](const QString& page) {
    return SameText(page, newer.businessWebPage) || SameText(page, newer.personalWebPage) ||
           newer.moreWebPages.contains(page, Qt::CaseInsensitive);
  };
  for (const QString* page : {&older.businessWebPage, &older.personalWebPage}) {
    if (page->isEmpty() || knownPage(*page)) continue;
    QString& slot = page == &older.businessWebPage ? newer.businessWebPage : newer.personalWebPage;
    QString& other = page == &older.businessWebPage ? newer.personalWebPage : newer.businessWebPage;
    if (slot.isEmpty())
      slot = *page;
    else if (other.isEmpty())
      other = *page;
    else
      newer.moreWebPages << *page;
  }
  for (const QString& page : older.moreWebPages)
    if (!page.isEmpty() && !knownPage(page)) newer.moreWebPages << page;

  if (!older.emails.empty()) AddEmails(older.emails, dropped);
  if (!older.phones.empty()) AddPhones(older.phones, dropped);
  if (!older.addresses.empty()) AddAddresses(older.addresses);
  for (const QString& category : older.categories)
    if (!newer.categories.contains(category, Qt::CaseInsensitive)) newer.categories << category;

  const QStringView olderNotes = QStringView(older.notes).trimmed();
  if (!olderNotes.isEmpty() && !HoldsNote(newer.notes, olderNotes)) {
    if (newer.notes.isEmpty())
      newer.notes = older.notes;
    else
      newer.notes += QStringView(kNoteSeparator).toString() + older.notes;
  }
  for (const QString& line : earlier) {
    const QString text = QStringLiteral("Earlier: ") + line;
    if (newer.notes.contains(text)) continue;
    if (!newer.notes.isEmpty()) newer.notes += u'\n';
    newer.notes += text;
  }
  if (!newer.lastModified.isValid()) newer.lastModified = older.lastModified;
}

void Combiner::AddEmails(const std::vector<contact::Email>& older, QStringList* dropped) {
  if (!emailsKnown_) {
    emailsKnown_ = true;
    for (const contact::Email& n : into_.emails) emails_.Insert(ComparableEmail(n.address));
  }
  for (const contact::Email& e : older) {
    QString address = ComparableEmail(e.address);
    if (address.isEmpty()) continue;
    if (!emails_.Contains(address)) {
      into_.emails.push_back(e);
      emails_.Insert(std::move(address));
      continue;
    }
    // The address is there: the name shown with it is the newer entry's.
    if (!dropped || e.displayName.isEmpty()) continue;
    for (const contact::Email& n : into_.emails)
      if (ComparableEmail(n.address) == address) {
        if (!n.displayName.isEmpty() &&
            !SameText(Simplified(n.displayName), Simplified(e.displayName)))
          Tell(*dropped, QStringLiteral("E-mail display name: %1").arg(e.displayName),
               QStringLiteral("left out"));
        break;
      }
  }
}

void Combiner::AddPhones(const std::vector<contact::Phone>& older, QStringList* dropped) {
  if (!phonesKnown_) {
    phonesKnown_ = true;
    for (const contact::Phone& n : into_.phones) phones_.Insert(PhoneKey(n));
  }
  for (const contact::Phone& p : older) {
    QString key = PhoneKey(p);
    if (key.isEmpty()) continue;
    if (!phones_.Contains(key)) {
      into_.phones.push_back(p);
      phones_.Insert(std::move(key));
      continue;
    }
    // The number is there, under the kind the newer entry gives it: a mobile number a newer
    // entry holds as a business one is no longer a mobile's.
    if (!dropped) continue;
    const auto same = [&](const contact::Phone& n) {
      return n.number == p.number || PhoneKey(n) == key;
    };
    const auto kept =
        std::find_if(into_.phones.begin(), into_.phones.end(),
                     [&](const contact::Phone& n) { return n.kind == p.kind && same(n); });
    if (kept != into_.phones.end()) continue;
    const auto other = std::find_if(into_.phones.begin(), into_.phones.end(), same);
    if (other != into_.phones.end())
      Tell(*dropped,
           QStringLiteral("%1: %2").arg(QLatin1String(contact::PhoneHeading(p.kind)), p.number),
           QStringLiteral("kept as %1").arg(QLatin1String(contact::PhoneHeading(other->kind))));
  }
}

QString Combiner::MemberForm(const contact::Member& m) {
  const QString address = ComparableEmail(m.address);
  if (!address.isEmpty()) return address;
  const QString name = Simplified(m.name);
  return name.isEmpty() ? QString() : u'\n' + name.toCaseFolded();  // no address holds '\n'
}

void Combiner::TellMembersLeftOut(const std::vector<contact::Member>& older, QStringList& dropped) {
  if (!membersKnown_) {
    membersKnown_ = true;
    for (const contact::Member& m : into_.members) members_.Insert(MemberForm(m));
  }
  Seen told;  // a member the older list holds twice is told once
  for (const contact::Member& m : older) {
    QString form = MemberForm(m);
    if (form.isEmpty() || members_.Contains(form) || told.Contains(form)) continue;
    told.Insert(std::move(form));
    // As the list's note and the review name a member: "Name <address>".
    const QString name = m.name.trimmed(), address = m.address.trimmed();
    const QString shown = address.isEmpty() ? name
                          : name.isEmpty() || name == address
                              ? address
                              : QStringLiteral("%1 <%2>").arg(name, address);
    Tell(dropped, QStringLiteral("Member: %1").arg(shown), QStringLiteral("left out"));
  }
}

Combiner::AddressForm Combiner::FormOf(const contact::Address& a) {
  AddressForm f{a.kind,
                Simplified(a.street),
                Simplified(a.poBox),
                Simplified(a.city),
                Simplified(a.state),
                Simplified(a.postalCode),
                Simplified(a.country)};
  f.hash = qHashMulti(0, static_cast<int>(a.kind), f.street, f.postalCode);
  return f;
}

bool Combiner::Same(const AddressForm& a, const AddressForm& b) {
  return a.kind == b.kind && a.street == b.street && SameText(a.poBox, b.poBox) &&
         SameText(a.city, b.city) && SameText(a.state, b.state) && a.postalCode == b.postalCode &&
         SameText(a.country, b.country);
}

void Combiner::AddAddresses(const std::vector<contact::Address>& older) {
  auto remember = [this](AddressForm form) {
    addressIndex_.emplace(form.hash, addresses_.size());
    addresses_.push_back(std::move(form));
  };
  if (!addressesKnown_) {
    addressesKnown_ = true;
    for (const contact::Address& n : into_.addresses) remember(FormOf(n));
  }
  for (const contact::Address& a : older) {
    if (a.IsEmpty()) continue;
    AddressForm form = FormOf(a);
    const auto [first, last] = addressIndex_.equal_range(form.hash);
    if (std::any_of(first, last, [&](const auto& at) { return Same(addresses_[at.second], form); }))
      continue;
    into_.addresses.push_back(a);
    into_.addresses.back().mailing = false;  // the newest entry's mailing address stays the one
    remember(std::move(form));
  }
}

void Combine(Contact& newer, const Contact& older) {
  Combiner(newer).Add(older);
}

void Combiner::Tell(QStringList& dropped, const QString& line, const QString& how) const {
  dropped.append(QStringLiteral("%1 (%2)").arg(
      line, olderCopy_ ? QStringLiteral("older copy of the same entry") : how));
}

void Combiner::TellOlderCopy(const Contact& older, QStringList& told) const {
  // Merged into a copy of the contact as an older entry would be: what it would have told, and
  // what it would have added, are what the older copy holds and the contact does not.
  Contact merged = into_;
  Combiner probe(merged);
  probe.olderCopy_ = true;
  probe.Add(older, &told);
  const Contact& card = into_;
  const auto tell = [&](const QString& line) { probe.Tell(told, line, QString()); };
  const auto textLine = [](const char* label, const QString& value) {
    return QStringLiteral("%1: %2").arg(QLatin1String(label), Simplified(value));
  };
  // Single values the contact lacks, which an older entry would have given it.
  static constexpr std::pair<QString Contact::*, const char*> kSingles[] = {
      {&Contact::prefix, "Title"},
      {&Contact::givenName, "First name"},
      {&Contact::middleName, "Middle name"},
      {&Contact::surname, "Last name"},
      {&Contact::suffix, "Suffix"},
      {&Contact::displayName, "Display name"},
      {&Contact::fileAs, "File as"},
      {&Contact::nickname, "Nickname"},
      {&Contact::initials, "Initials"},
      {&Contact::company, "Company"},
      {&Contact::department, "Department"},
      {&Contact::jobTitle, "Job title"},
      {&Contact::profession, "Profession"},
      {&Contact::officeLocation, "Office"},
      {&Contact::manager, "Manager"},
      {&Contact::assistant, "Assistant"},
      {&Contact::imAddress, "IM address"},
      {&Contact::freeBusyUrl, "Free/busy"},
      {&Contact::spouse, "Spouse"},
      {&Contact::businessWebPage, "Web page"},
      {&Contact::personalWebPage, "Web page"}};
  for (const auto& [field, label] : kSingles)
    if (!HasText(card.*field) && HasText(merged.*field)) tell(textLine(label, merged.*field));
  for (const auto& [date, label] :
       {std::pair{&Contact::birthday, "Birthday"}, std::pair{&Contact::anniversary, "Anniversary"}})
    if (!(card.*date).IsValid() && (merged.*date).IsValid())
      tell(QStringLiteral("%1: %2").arg(
          QLatin1String(label), QDate((merged.*date).year, (merged.*date).month, (merged.*date).day)
                                    .toString(Qt::ISODate)));
  if (card.gender == contact::Gender::kUnspecified && merged.gender != card.gender)
    tell(merged.gender == contact::Gender::kFemale ? QStringLiteral("Gender: female")
                                                   : QStringLiteral("Gender: male"));
  if (card.children.isEmpty() && !merged.children.isEmpty())
    tell(QStringLiteral("Children: %1").arg(merged.children.join(QStringLiteral(", "))));
  if (card.photo.IsEmpty() && !merged.photo.IsEmpty()) tell(QStringLiteral("Picture"));
  // Values of which the contact holds several: those added after the contact's own.
  for (size_t k = card.emails.size(); k < merged.emails.size(); ++k)
    tell(textLine("E-mail", merged.emails[k].address));
  for (size_t k = card.phones.size(); k < merged.phones.size(); ++k)
    tell(textLine(contact::PhoneHeading(merged.phones[k].kind), merged.phones[k].number));
  static const char* const kAddressKinds[] = {"Business address", "Home address", "Other address"};
  for (size_t k = card.addresses.size(); k < merged.addresses.size(); ++k) {
    const contact::Address& a = merged.addresses[k];
    QStringList parts;
    for (const QString& part : {a.street, a.poBox, a.postalCode, a.city, a.state, a.country})
      if (HasText(part)) parts << Simplified(part);
    tell(textLine(kAddressKinds[static_cast<int>(a.kind)], parts.join(QStringLiteral(", "))));
  }
  for (qsizetype k = card.moreWebPages.size(); k < merged.moreWebPages.size(); ++k)
    tell(textLine("Web page", merged.moreWebPages[k]));
  for (qsizetype k = card.categories.size(); k < merged.categories.size(); ++k)
    tell(textLine("Category", merged.categories[k]));
  if (card.members.empty())
    for (const contact::Member& m : merged.members)
      tell(textLine("Member", m.address.isEmpty() ? m.name : m.address));
  const QStringView olderNotes = QStringView(older.notes).trimmed();
  if (!olderNotes.isEmpty() && !HoldsNote(card.notes, olderNotes))
    tell(textLine("Notes", olderNotes.toString()));
}

bool CopiesOfOneEntry(const Contact& a, const Contact& b) {
  return !a.uid.isEmpty() && a.uid == b.uid && a.created.isValid() && a.created == b.created;
}

std::vector<bool> OlderCopies(std::span<const CopyKey> keys) {
  // The entries that may have copies, by uid and time made: each run of copies together (a
  // group can be large; compared pairwise it would cost the square of its size).
  std::vector<size_t> by;
  for (size_t k = 0; k < keys.size(); ++k)
    if (!keys[k].uid.isEmpty() && keys[k].made != INT64_MIN) by.push_back(k);
  const auto key = [&](size_t k) { return std::pair{QStringView(keys[k].uid), keys[k].made}; };
  std::sort(by.begin(), by.end(),
            [&](size_t a, size_t b) { return key(a) != key(b) ? key(a) < key(b) : a < b; });
  std::vector<bool> older(keys.size(), false);
  for (size_t from = 0; from < by.size();) {
    size_t to = from + 1;
    while (to < by.size() && key(by[to]) == key(by[from])) ++to;
    // The newest copy stays, the first of the equally new; every other is an older copy.
    size_t newest = by[from];
    for (size_t i = from + 1; i < to; ++i)
      if (keys[by[i]].changed > keys[newest].changed) newest = by[i];
    for (size_t i = from; i < to; ++i) older[by[i]] = by[i] != newest;
    from = to;
  }
  return older;
}

std::vector<bool> OlderCopies(std::span<const Contact> entries) {
  const auto ms = [](const QDateTime& t) {
    return t.isValid() ? t.toMSecsSinceEpoch() : INT64_MIN;
  };
  std::vector<CopyKey> keys;
  keys.reserve(entries.size());
  for (const Contact& c : entries) keys.push_back({c.uid, ms(c.created), ms(c.lastModified)});
  return OlderCopies(keys);
}

}  // namespace lumivex::merge
