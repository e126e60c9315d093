#include "merge/MergeRules.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include <QVarLengthArray>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace lumivex::merge {

namespace {

using contact::Contact;

// QChar::isSpace without its table look-up for the letters of most scripts: no character from
// 0x80 up to 0x1680 is white space but 0x85 and 0xA0.
bool IsSpace(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x80) return u == u' ' || (u >= u'\t' && u <= u'\r');
  if (u < 0x1680) return u == 0x85 || u == 0xA0;
  return c.isSpace();
}

// QChar::toCaseFolded, looked up in a table of its own for the Latin, Greek and Cyrillic
// letters, as names are mostly written in.
char16_t FoldCase(char16_t u) {
  if (u < 0x80) return u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u;
  static const auto table = [] {
    std::array<char16_t, 0x530> folded{};
    for (size_t i = 0; i < folded.size(); ++i)
      folded[i] = QChar(char16_t(i)).toCaseFolded().unicode();
    return folded;
  }();
  return u < table.size() ? table[u] : QChar(u).toCaseFolded().unicode();
}

// A text of a few parts in the form ComparableName makes it, without a QString: runs of white
// space as one space (none at the ends, one between parts), case folded.
using Folded = QVarLengthArray<char16_t, 128>;
QStringView Fold(std::initializer_list<QStringView> parts, Folded& out) {
  // At most every unit and a space before each part: written through a pointer, no check each.
  qsizetype room = 0;
  for (const QStringView part : parts) room += part.size() + 1;
  out.resize(room);
  char16_t* const begin = out.data();
  char16_t* to = begin;
  bool space = false;
  for (const QStringView part : parts) {
    space = to != begin;
    const char16_t* units = part.utf16();
    const char16_t* const end = units + part.size();
    while (units != end) {
#ifdef __SSE2__
      // Eight units at once where all are printable ASCII (no white space): capitals made small.
      if (end - units >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
        // Signed compares: a unit of 0x8000 or above is negative, so below '!' as well.
        const __m128i outside = _mm_or_si128(_mm_cmplt_epi16(v, _mm_set1_epi16(0x21)),
                                             _mm_cmpgt_epi16(v, _mm_set1_epi16(0x7E)));
        if (_mm_movemask_epi8(outside) == 0) {
          const __m128i capital = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16(u'A' - 1)),
                                                _mm_cmplt_epi16(v, _mm_set1_epi16(u'Z' + 1)));
          if (space) *to++ = u' ';
          space = false;
          _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                           _mm_add_epi16(v, _mm_and_si128(capital, _mm_set1_epi16(32))));
          to += 8;
          units += 8;
          continue;
        }
      }
#endif
      const QChar c(*units++);
      if (IsSpace(c)) {
        space = to != begin;
        continue;
      }
      if (space) *to++ = u' ';
      space = false;
      *to++ = FoldCase(c.unicode());
    }
  }
  out.resize(to - begin);
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
      word = 0;  // the last units, the rest of the word 0: the length tells them apart
      std::memcpy(&word, units, size_t(n) * sizeof(char16_t));
      hash_ = Mix(hash_ ^ word);
    }
    return *this;
  }
  uint64_t Value() const { return hash_; }

 private:
  static constexpr uint64_t kSeed = 0x243f6a8885a308d3ull;
  static uint64_t Mix(uint64_t x) {
    __extension__ using Wide = unsigned __int128;
    const Wide product = Wide(x ^ 0xa0761d6478bd642full) * 0xe7037ed1a0b428dbull;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  }
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
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

void TakeIfEmpty(QString& newer, const QString& older) {
  if (newer.isEmpty() && !older.isEmpty()) newer = older;
}

using PhoneBuffer = QVarLengthArray<char16_t, 64>;
QStringView PhoneDigits(const QString& number, PhoneBuffer& digits);

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
  const QString digits = ComparablePhone(phone.number);
  return digits.isEmpty() ? Simplified(phone.number) : digits;
}

}  // namespace

QString RuleText(MatchRule rule) {
  switch (rule) {
    case MatchRule::kNone:
      return {};
    case MatchRule::kSameEntry:
      return QStringLiteral("same entry");
    case MatchRule::kEmail:
      return QStringLiteral("same e-mail address");
    case MatchRule::kNameAndPhone:
      return QStringLiteral("same name and phone number");
    case MatchRule::kNameAndCompany:
      return QStringLiteral("same name and company");
    case MatchRule::kList:
      return QStringLiteral("same list name and members");
  }
  return {};
}

QString ComparableEmail(const QString& address) {
  QString a = address.trimmed();
  if (a.startsWith(u"mailto:", Qt::CaseInsensitive)) a.remove(0, 7);
  return a.toCaseFolded();
}

namespace {

// The digits a telephone number is compared by (ComparablePhone), gathered in `digits` on the
// caller's stack, the prefixes skipped by moving the start: no string is made, as merging takes
// them of every telephone of every entry. Empty when fewer than five digits remain.
QStringView PhoneDigits(const QString& number, PhoneBuffer& buffer) {
  bool international = false;
  buffer.resize(number.size());  // room for every unit: written through a pointer
  char16_t* const digits = buffer.data();
  qsizetype end = 0;
  for (const QChar c : number) {
    if (c >= u'0' && c <= u'9') {
      digits[end++] = c.unicode();
    } else if (c.unicode() >= 0x80 && c.isDigit()) {
      digits[end++] = char16_t(u'0' + c.digitValue());
    } else if (c == u'+' && end == 0) {
      international = true;
    } else if (c.unicode() >= u'A' && c.isLetter()) {
      break;  // "ext. 12", "x12": what follows is an extension, not the number
    }
  }
  qsizetype start = 0;
  if (!international && end >= 2 && digits[0] == u'0' && digits[1] == u'0') {
    international = true;
    start = 2;
  }
  if (international) {
    qsizetype length = 3;
    if (start < end && (digits[start] == u'1' || digits[start] == u'7'))
      length = 1;
    else if (end - start >= 2 &&
             TwoDigitCountryCode((digits[start] - u'0') * 10 + (digits[start + 1] - u'0')))
      length = 2;
    start += std::min<qsizetype>(length, end - start);
  } else if (end == 11 && digits[0] == u'1') {
    start = 1;  // the North American trunk prefix
  }
  // A trunk prefix, also where it is written after the country code ("+44 (0)20 ...").
  while (start < end && digits[start] == u'0') ++start;
  return end - start >= 5 ? QStringView(digits + start, end - start) : QStringView();
}

}  // namespace

QString ComparablePhone(const QString& number) {
  PhoneBuffer digits;
  return PhoneDigits(number, digits).toString();
}

QString ComparableName(const Contact& c) {
  QString name = c.displayName.simplified();
  if (name.isEmpty())
    name = QStringList{c.givenName, c.middleName, c.surname}.join(u' ').simplified();
  return name.toCaseFolded();
}

void MatchKeys(const Contact& c, std::vector<MatchKey>& out) {
  out.clear();
  if (c.isGroup) {
    // A list: its name and its members, in an order of their own.
    QStringList members;
    for (const contact::Member& m : c.members)
      members << (m.address.isEmpty() ? m.name.simplified().toCaseFolded()
                                      : ComparableEmail(m.address));
    members.sort();
    KeyHash key(MatchRule::kList);
    key.Add(ComparableName(c));
    for (const QString& m : members) key.Add(m);
    out.push_back({key.Value(), MatchRule::kList});
    return;
  }
  // Each key hashed from the fields as they are, folded on the caller's stack: no text is made.
  Folded text;
  if (!c.uid.isEmpty())
    out.push_back({KeyHash(MatchRule::kSameEntry).Add(c.uid).Value(), MatchRule::kSameEntry});
  for (const contact::Email& e : c.emails) {
    QStringView address = QStringView(e.address).trimmed();
    if (address.startsWith(u"mailto:", Qt::CaseInsensitive)) address = address.mid(7);
    const QStringView folded = Fold({address}, text);
    if (!folded.isEmpty())
      out.push_back({KeyHash(MatchRule::kEmail).Add(folded).Value(), MatchRule::kEmail});
  }
  // The name folded once for both rules that take it; each phone added to a copy of the first.
  const bool displayed = !QStringView(c.displayName).trimmed().isEmpty();
  const std::initializer_list<QStringView> shown = {c.displayName};
  const std::initializer_list<QStringView> parts = {c.givenName, c.middleName, c.surname};
  const QStringView name = Fold(displayed ? shown : parts, text);
  if (name.isEmpty()) return;
  KeyHash byPhone(MatchRule::kNameAndPhone);
  byPhone.Add(name);
  KeyHash byCompany(MatchRule::kNameAndCompany);
  byCompany.Add(name);
  for (const contact::Phone& p : c.phones) {
    PhoneBuffer buffer;
    const QStringView digits = PhoneDigits(p.number, buffer);
    if (digits.isEmpty()) continue;
    KeyHash key = byPhone;
    out.push_back({key.Add(digits).Value(), MatchRule::kNameAndPhone});
  }
  if (!Fold({c.company}, text).isEmpty())
    out.push_back(
        {byCompany.Add(QStringView(text.data(), text.size())).Value(), MatchRule::kNameAndCompany});
}

void Combiner::Add(const Contact& older) {
  Contact& newer = into_;
  for (auto field : {&Contact::messageClass, &Contact::prefix,     &Contact::givenName,
                     &Contact::middleName,   &Contact::surname,    &Contact::suffix,
                     &Contact::displayName,  &Contact::fileAs,     &Contact::nickname,
                     &Contact::initials,     &Contact::company,    &Contact::department,
                     &Contact::jobTitle,     &Contact::profession, &Contact::officeLocation,
                     &Contact::manager,      &Contact::assistant,  &Contact::imAddress,
                     &Contact::freeBusyUrl,  &Contact::spouse})
    TakeIfEmpty(newer.*field, older.*field);
  if (!newer.birthday.IsValid()) newer.birthday = older.birthday;
  if (!newer.anniversary.IsValid()) newer.anniversary = older.anniversary;
  if (newer.gender == contact::Gender::kUnspecified) newer.gender = older.gender;
  if (newer.children.isEmpty()) newer.children = older.children;
  if (newer.members.empty()) newer.members = older.members;
  if (newer.photo.IsEmpty() && !older.photo.IsEmpty()) newer.photo = older.photo;

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

  if (!older.emails.empty()) AddEmails(older.emails);
  if (!older.phones.empty()) AddPhones(older.phones);
  if (!older.addresses.empty()) AddAddresses(older.addresses);
  for (const QString& category : older.categories)
    if (!newer.categories.contains(category, Qt::CaseInsensitive)) newer.categories << category;

  const QString olderNotes = older.notes.trimmed();
  if (!olderNotes.isEmpty() && !newer.notes.contains(olderNotes)) {
    if (newer.notes.isEmpty())
      newer.notes = older.notes;
    else
      newer.notes += QStringView(kNoteSeparator).toString() + older.notes;
  }
  if (!newer.lastModified.isValid()) newer.lastModified = older.lastModified;
}

void Combiner::AddEmails(const std::vector<contact::Email>& older) {
  if (!emailsKnown_) {
    emailsKnown_ = true;
    for (const contact::Email& n : into_.emails) emails_.Insert(ComparableEmail(n.address));
  }
  for (const contact::Email& e : older) {
    QString address = ComparableEmail(e.address);
    if (address.isEmpty() || emails_.Contains(address)) continue;
    into_.emails.push_back(e);
    emails_.Insert(std::move(address));
  }
}

void Combiner::AddPhones(const std::vector<contact::Phone>& older) {
  if (!phonesKnown_) {
    phonesKnown_ = true;
    for (const contact::Phone& n : into_.phones) phones_.Insert(PhoneKey(n));
  }
  for (const contact::Phone& p : older) {
    QString key = PhoneKey(p);
    if (key.isEmpty() || phones_.Contains(key)) continue;
    into_.phones.push_back(p);
    phones_.Insert(std::move(key));
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

}  // namespace lumivex::merge
