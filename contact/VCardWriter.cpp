#include "contact/VCardWriter.h"

#include "contact/CardUuid.h"
#include "contact/TextOut.h"

#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace lumivex::contact {

namespace {

// The longest line, in octets without its CR LF; a continuation line's leading space counts.
constexpr qsizetype kLineOctets = 75;

// The bytes of the card being put together, kept for every card of the thread. Text is
// converted straight into room made at its end without filling that room first (as
// std::string::resize would), and the small steps (a separator, a name) stay a store or a copy.
class CardBytes {
 public:
  CardBytes() : data_(new char[kFirstRoom]), capacity_(kFirstRoom) {}
  size_t size() const { return size_; }
  const char* data() const { return data_.get(); }
  void clear() { size_ = 0; }
  void resize(size_t size) { size_ = size; }  // only ever shorter
  void push_back(char c) {
    *Room(1) = c;
    ++size_;
  }
  void append(const char* bytes, size_t n) {
    std::memcpy(Room(n), bytes, n);
    size_ += n;
  }
  void append(const char* text) { append(text, std::strlen(text)); }
  // `text` as UTF-8 under `rule`.
  void AppendText(QStringView text, TextRule rule) {
    char* end = PutUtf8(Room(3 * static_cast<size_t>(text.size())), text, rule);
    size_ = static_cast<size_t>(end - data_.get());
  }

 private:
  // Room for `n` more bytes at the end.
  char* Room(size_t n) {
    if (size_ + n > capacity_) [[unlikely]]
      Grow(size_ + n);
    return data_.get() + size_;
  }
  [[gnu::noinline]] void Grow(size_t needed) {
    const size_t capacity = std::max(needed, 2 * capacity_);
    std::unique_ptr<char[]> grown(new char[capacity]);
    std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }

  static constexpr size_t kFirstRoom = 4096;  // more than most cards take
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_;
};

// Appends `line` to `out` folded into lines of at most 75 octets, each continuation line
// starting with a space, and ends it. A fold never falls inside a UTF-8 sequence or a
// backslash escape, so that readers which unfold carelessly still see whole characters.
void AppendFolded(CardBytes& out, std::string_view line) {
  const char* p = line.data();
  const qsizetype size = static_cast<qsizetype>(line.size());
  qsizetype pos = 0;
  qsizetype room = kLineOctets;
  while (size - pos > room) {
    qsizetype cut = pos + room;
    while (cut > pos + 1 && (static_cast<uchar>(p[cut]) & 0xC0) == 0x80) --cut;
    qsizetype slashes = 0;
    while (cut - 1 - slashes > pos && p[cut - 1 - slashes] == '\\') ++slashes;
    if (slashes % 2 == 1) --cut;
    out.append(p + pos, static_cast<size_t>(cut - pos));
    out.append("\r\n ", 3);
    pos = cut;
    room = kLineOctets - 1;
  }
  out.append(p + pos, static_cast<size_t>(size - pos));
  out.append("\r\n", 2);
}

// `value` in decimal, zero-padded to `width` digits, as printf's "%0*d" writes it.
void PutNumber(CardBytes& out, int value, int width) {
  if (value < 0 || value > 9999) {
    char text[24];
    const int n = std::snprintf(text, sizeof text, "%0*d", width, value);
    out.append(text, static_cast<size_t>(n));
    return;
  }
  char digits[4];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = n; i < width; ++i) out.push_back('0');
  while (n > 0) out.push_back(digits[--n]);
}

// A date: basic format (YYYYMMDD) for 4.0, extended (YYYY-MM-DD) for 3.0.
void PutDate(CardBytes& out, const Date& d, VCardVersion version) {
  const bool extended = version != VCardVersion::k40;
  PutNumber(out, d.year, 4);
  if (extended) out.push_back('-');
  PutNumber(out, d.month, 2);
  if (extended) out.push_back('-');
  PutNumber(out, d.day, 2);
}

// The calendar day `days` after 1970-01-01 (before it when negative), in the proleptic
// Gregorian calendar QDate counts in (from year 1).
Date CivilDay(int64_t days) {
  const int64_t z = days + 719468;  // days since 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  const int month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  return {static_cast<int>(yearOfEra + era * 400 + (month <= 2)), month, day};
}

// A time in UTC, basic format for 4.0 and extended for 3.0; nothing when it is not valid. Days
// and time of day are counted from the milliseconds since 1970 for the years 1 to 9999; a time
// outside them goes through QDateTime's own calendar.
void PutStamp(CardBytes& out, const QDateTime& t, VCardVersion version) {
  if (!t.isValid()) return;
  constexpr int64_t kDayMs = 86400000;
  constexpr int64_t kFirstDay = -719162;  // 0001-01-01
  constexpr int64_t kLastDay = 2932896;   // 9999-12-31
  const int64_t ms = t.toMSecsSinceEpoch();
  const int64_t days = (ms >= 0 ? ms : ms - (kDayMs - 1)) / kDayMs;
  Date d;
  int seconds = 0;
  if (days >= kFirstDay && days <= kLastDay) [[likely]] {
    d = CivilDay(days);
    seconds = static_cast<int>((ms - days * kDayMs) / 1000);
  } else {
    const QDateTime utc = t.toUTC();
    d = {utc.date().year(), utc.date().month(), utc.date().day()};
    seconds = utc.time().msecsSinceStartOfDay() / 1000;
  }
  const bool extended = version != VCardVersion::k40;
  PutDate(out, d, version);
  out.push_back('T');
  PutNumber(out, seconds / 3600, 2);
  if (extended) out.push_back(':');
  PutNumber(out, seconds / 60 % 60, 2);
  if (extended) out.push_back(':');
  PutNumber(out, seconds % 60, 2);
  out.push_back('Z');
}

// One content line being built at the end of the card: name, parameters, value; End() folds
// it where it is longer than a line may be.
class Line {
 public:
  Line(CardBytes& card, std::string& scratch, VCardVersion version)
      : line_(card),
        scratch_(scratch),
        version_(version),
        textRule_(version == VCardVersion::k40 ? TextRule::kVCard4Text : TextRule::kVCard) {}
  Line& Start(const char* name) {
    start_ = line_.size();
    line_.append(name);
    return *this;
  }
  Line& Param(const char* text) {
    line_.push_back(';');
    line_.append(text);
    return *this;
  }
  Line& Colon() {
    line_.push_back(':');
    return *this;
  }
  Line& Raw(const char* text) {
    line_.append(text);
    return *this;
  }
  Line& Raw(const QByteArray& text) {
    line_.append(text.constData(), static_cast<size_t>(text.size()));
    return *this;
  }
  Line& Sep(char c) {
    line_.push_back(c);
    return *this;
  }
  // A text value, escaped as the version wants.
  Line& Text(QStringView text) {
    line_.AppendText(text, textRule_);
    return *this;
  }
  // One component of a structured value (N, ADR, ORG), with \ , ; and line breaks escaped.
  Line& Part(QStringView text) {
    line_.AppendText(text, TextRule::kVCard);
    return *this;
  }
  // A URI or other value that takes no escapes: as it stands, less what no line may hold.
  Line& Uri(QStringView text) {
    line_.AppendText(text, TextRule::kSingleLine);
    return *this;
  }
  Line& DateValue(const Date& d) {
    PutDate(line_, d, version_);
    return *this;
  }
  Line& Stamp(const QDateTime& t) {
    PutStamp(line_, t, version_);
    return *this;
  }
  void End() {
    if (line_.size() - start_ <= static_cast<size_t>(kLineOctets)) {
      line_.append("\r\n", 2);
      return;
    }
    scratch_.assign(line_.data() + start_, line_.size() - start_);
    line_.resize(start_);
    AppendFolded(line_, scratch_);
  }

 private:
  CardBytes& line_;       // the card: the line being built is its end, from start_
  std::string& scratch_;  // a long line while it is folded
  size_t start_ = 0;
  VCardVersion version_;
  TextRule textRule_;
};

// Whether `s` holds more than blanks (without making a trimmed copy).
bool HasText(const QString& s) {
  for (const QChar c : s)
    if (!c.isSpace()) return true;
  return false;
}

bool UsableDate(const Date& d) {
  return d.IsValid() && d.year <= 9999 && d.month <= 12 && d.day <= 31;
}

struct PhoneType {
  const char* v4;
  const char* v3;
};

PhoneType TypeOf(PhoneKind kind) {
  switch (kind) {
    case PhoneKind::kBusiness:
    case PhoneKind::kBusiness2:
      return {"TYPE=work,voice", "TYPE=WORK,VOICE"};
    case PhoneKind::kHome:
    case PhoneKind::kHome2:
      return {"TYPE=home,voice", "TYPE=HOME,VOICE"};
    case PhoneKind::kMobile:
      return {"TYPE=cell", "TYPE=CELL"};
    case PhoneKind::kCar:
      return {"TYPE=car", "TYPE=CAR"};
    case PhoneKind::kPager:
      return {"TYPE=pager", "TYPE=PAGER"};
    case PhoneKind::kBusinessFax:
      return {"TYPE=work,fax", "TYPE=WORK,FAX"};
    case PhoneKind::kHomeFax:
      return {"TYPE=home,fax", "TYPE=HOME,FAX"};
    case PhoneKind::kOtherFax:
      return {"TYPE=fax", "TYPE=FAX"};
    case PhoneKind::kAssistant:
      return {"TYPE=x-evolution-assistant", "TYPE=X-EVOLUTION-ASSISTANT"};
    case PhoneKind::kCallback:
      return {"TYPE=x-evolution-callback", "TYPE=X-EVOLUTION-CALLBACK"};
    case PhoneKind::kCompanyMain:
      return {"TYPE=x-evolution-company", "TYPE=X-EVOLUTION-COMPANY"};
    case PhoneKind::kIsdn:
      return {"TYPE=isdn", "TYPE=ISDN"};
    case PhoneKind::kOther:
      return {"TYPE=voice", "TYPE=VOICE"};
    case PhoneKind::kPrimary:
      return {"TYPE=voice;PREF=1", "TYPE=PREF,VOICE"};
    case PhoneKind::kRadio:
      return {"TYPE=x-evolution-radio", "TYPE=X-EVOLUTION-RADIO"};
    case PhoneKind::kTelex:
      return {"TYPE=x-evolution-telex", "TYPE=X-EVOLUTION-TELEX"};
    case PhoneKind::kTty:
      return {"TYPE=textphone", "TYPE=X-EVOLUTION-TTYTDD"};
  }
  return {"TYPE=voice", "TYPE=VOICE"};
}

PhoneType TypeOf(AddressKind kind) {
  switch (kind) {
    case AddressKind::kBusiness:
      return {"TYPE=work", "TYPE=WORK"};
    case AddressKind::kHome:
      return {"TYPE=home", "TYPE=HOME"};
    case AddressKind::kOther:
      break;
  }
  return {"TYPE=other", "TYPE=OTHER"};
}

// The picture's media type: as stored, else told from its first bytes.
QString PhotoType(const Photo& photo) {
  if (!photo.mimeType.isEmpty()) return photo.mimeType.toLower();
  const QByteArray& d = photo.data;
  if (d.startsWith("\xFF\xD8\xFF")) return QStringLiteral("image/jpeg");
  if (d.startsWith("\x89PNG")) return QStringLiteral("image/png");
  if (d.startsWith("GIF8")) return QStringLiteral("image/gif");
  if (d.startsWith("BM")) return QStringLiteral("image/bmp");
  return QStringLiteral("application/octet-stream");
}

// Whether `address` can be written to: one with a local part, an "@" and a domain, without
// spaces. An Exchange entry's X.500 name ("/o=Org/cn=..."), an X.400 address or a fax one-off
// ("Name@+1 555 0100") is none, and a mail program would offer it as one.
// One pass over the units, no copy: every address of every card is asked.
bool Mailable(QStringView address) {
  const QStringView a = address.trimmed();
  qsizetype at = -1;
  for (qsizetype i = 0; i < a.size(); ++i) {
    const char16_t u = a[i].unicode();
    if (u == u'@')
      at = i;
    else if (u <= u' ' || (u >= 0x80 && a[i].isSpace()))
      return false;
  }
  return at > 0 && at + 1 < a.size() && a.front() != u'/';
}

// A member as a URI: urn:uuid: of its card where `cards` knows one with its address, else mailto:
// its address where it is one, else urn:uuid: made from its name (the list's note names it with
// its address).
QByteArray MemberUri(const Member& m, const MemberCards* cards) {
  if (HasText(m.address) && cards != nullptr) {
    const QString card = cards->CardOf(m.address);
    if (!card.isEmpty()) return "urn:uuid:" + card.toLatin1();
  }
  if (Mailable(m.address))
    return "mailto:" + QUrl::toPercentEncoding(m.address.trimmed(), "@!$&'()*+,;=:._-~");
  return "urn:uuid:" + CardUuid(QStringLiteral("member:") + m.name).toLatin1();
}

// The property Evolution keeps an instant-messaging service's address in, by the address's
// scheme, and the address as that property holds it (without the scheme and any "?call"
// query). Null when Evolution has no field for the scheme.
const char* EvolutionImProperty(const QString& im, QString& address) {
  struct Service {
    const char16_t* scheme;
    const char* property;
  };
  static constexpr Service kServices[] = {
      {u"xmpp", "X-JABBER"},
      {u"jabber", "X-JABBER"},
      {u"skype", "X-SKYPE"},
      {u"aim", "X-AIM"},
      {u"ymsgr", "X-YAHOO"},
      {u"msnim", "X-MSN"},
      {u"msn", "X-MSN"},
      {u"icq", "X-ICQ"},
      {u"gg", "X-GADUGADU"},
      {u"gtalk", "X-GOOGLE-TALK"},
      {u"groupwise", "X-GROUPWISE"},
      {u"matrix", "X-MATRIX"},
      {u"sip", "X-SIP"},
  };
  const qsizetype colon = im.indexOf(u':');
  if (colon <= 0) return nullptr;
  const QStringView scheme = QStringView(im).left(colon);
  for (const Service& s : kServices) {
    if (scheme.compare(QStringView(s.scheme), Qt::CaseInsensitive) != 0) continue;
    address = im.mid(colon + 1).section(u'?', 0, 0);
    while (address.startsWith(u'/')) address.remove(0, 1);
    return address.isEmpty() ? nullptr : s.property;
  }
  return nullptr;
}

// `text` without its double quotes; `text` itself (no copy) when it has none.
QString Unquoted(const QString& text) {
  if (!text.contains(u'"')) [[likely]]
    return text;
  return QString(text).remove(u'"');
}

QString Joined(std::initializer_list<const QString*> parts) {
  QString text;
  for (const QString* part : parts) {
    if (part->trimmed().isEmpty()) continue;
    if (!text.isEmpty()) text += u' ';
    text += part->trimmed();
  }
  return text;
}

}  // namespace

QString ShownName(const Contact& c) {
  if (HasText(c.displayName)) return c.displayName;
  const QString parts = Joined({&c.prefix, &c.givenName, &c.middleName, &c.surname, &c.suffix});
  if (!parts.isEmpty()) return parts;
  for (const QString* name : {&c.fileAs, &c.nickname, &c.company}) {
    if (HasText(*name)) return *name;
  }
  for (const Email& e : c.emails)
    if (HasText(e.address)) return e.address;
  return QStringLiteral("Unnamed contact");
}

namespace {

// The members of a list, "Name <address>" a line.
QString MemberLines(const Contact& c) {
  QString text;
  for (const Member& m : c.members) {
    QString line = m.name.trimmed();
    if (HasText(m.address)) {
      if (line.isEmpty() || line == m.address.trimmed())
        line = m.address.trimmed();
      else
        line += QStringLiteral(" <") + m.address.trimmed() + u'>';
    }
    if (line.isEmpty()) continue;
    if (!text.isEmpty()) text += u'\n';
    text += line;
  }
  return text;
}

}  // namespace

QString NoteWithMembers(const Contact& c) {
  if (!c.isGroup) return c.notes;
  QString note = c.notes;
  const QString members = MemberLines(c);
  if (members.isEmpty()) return note;
  while (note.endsWith(u'\n') || note.endsWith(u'\r')) note.chop(1);
  return note.isEmpty() ? members : note + QStringLiteral("\n\n") + members;
}

namespace {

// The lines of each group of fields, in the card's order. `v4`: vCard 4.0, else 3.0.

void AppendNames(Line& line, const Contact& c, bool v4) {
  const QString shown = ShownName(c);
  if (c.isGroup) {
    if (v4) {
      line.Start("KIND").Colon().Raw("group").End();
    } else {
      line.Start("N").Colon().Part(shown).Raw(";;;;").End();
      line.Start("X-ADDRESSBOOKSERVER-KIND").Colon().Raw("group").End();
    }
  } else {
    const bool named = HasText(c.surname) || HasText(c.givenName) || HasText(c.middleName) ||
                       HasText(c.prefix) || HasText(c.suffix);
    // 3.0 needs an N, empty when the contact has no name parts (its FN names it).
    if (named || !v4) {
      line.Start("N");
      // 4.0 sorts by the file-as name given with N (a parameter value holds no quote).
      if (v4 && HasText(c.fileAs)) line.Raw(";SORT-AS=\"").Uri(Unquoted(c.fileAs)).Raw("\"");
      line.Colon();
      line.Part(c.surname).Sep(';').Part(c.givenName).Sep(';');
      line.Part(c.middleName).Sep(';').Part(c.prefix).Sep(';').Part(c.suffix).End();
    }
  }
  line.Start("FN").Colon().Text(shown).End();
  if (HasText(c.nickname)) line.Start("NICKNAME").Colon().Text(c.nickname).End();
}

void AppendWork(Line& line, const Contact& c, bool v4) {
  const bool office = HasText(c.officeLocation);
  // A merged contact's older companies and titles follow the newest one's, which is marked as
  // preferred where there are others.
  auto prefer = [&line, v4](const QStringList& earlier) {
    if (!earlier.isEmpty()) line.Param(v4 ? "PREF=1" : "TYPE=PREF");
  };
  if (HasText(c.company) || HasText(c.department) || office) {
    line.Start("ORG");
    prefer(c.earlierCompanies);
    line.Colon().Part(c.company);
    if (HasText(c.department) || office) line.Sep(';').Part(c.department);
    if (office) line.Sep(';').Part(c.officeLocation);
    line.End();
  }
  // Each older company with its own department and office.
  for (qsizetype k = 0; k < c.earlierCompanies.size(); ++k) {
    const QString& company = c.earlierCompanies[k];
    if (!HasText(company)) continue;
    const QString department = c.earlierDepartments.value(k), room = c.earlierOffices.value(k);
    line.Start("ORG").Colon().Part(company);
    if (HasText(department) || HasText(room)) line.Sep(';').Part(department);
    if (HasText(room)) line.Sep(';').Part(room);
    line.End();
  }
  if (office) line.Start("X-KADDRESSBOOK-X-Office").Colon().Text(c.officeLocation).End();
  if (HasText(c.fileAs)) {
    line.Start("X-EVOLUTION-FILE-AS").Colon().Text(c.fileAs).End();
    if (!v4) line.Start("SORT-STRING").Colon().Text(c.fileAs).End();
  }
  if (HasText(c.initials)) line.Start("X-KADDRESSBOOK-X-Initials").Colon().Text(c.initials).End();
  if (HasText(c.jobTitle)) {
    line.Start("TITLE");
    prefer(c.earlierTitles);
    line.Colon().Text(c.jobTitle).End();
  }
  for (const QString& title : c.earlierTitles)
    if (HasText(title)) line.Start("TITLE").Colon().Text(title).End();
  if (HasText(c.profession)) line.Start("ROLE").Colon().Text(c.profession).End();
}

void AppendEmails(Line& line, const Contact& c, bool v4) {
  bool first = true;
  for (const Email& e : c.emails) {
    if (!HasText(e.address)) continue;
    // An address no mail can be sent to (an Exchange X.500 name the store holds no SMTP form
    // of) is kept, with its type, where no address book takes it for an e-mail address. One the
    // store calls SMTP (nearly all) is taken at its word.
    if (e.type != u"SMTP" && !Mailable(e.address)) {
      line.Start("X-LUMIVEX-ADDRESS");
      const QByteArray type = "TYPE=" + e.type.trimmed().toUpper().toLatin1();
      if (type.size() > 5 && std::all_of(type.begin() + 5, type.end(), [](char ch) {
            return (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
          }))
        line.Param(type.constData());
      line.Colon().Text(e.address.trimmed()).End();
      continue;
    }
    line.Start("EMAIL");
    if (v4) {
      if (first) line.Param("PREF=1");
    } else {
      line.Param(first ? "TYPE=INTERNET,PREF" : "TYPE=INTERNET");
    }
    line.Colon().Text(e.address.trimmed()).End();
    first = false;
  }
}

void AppendPhonesAndAddresses(Line& line, const Contact& c, bool v4) {
  auto pick = [v4](const PhoneType& t) { return v4 ? t.v4 : t.v3; };
  for (const Phone& p : c.phones) {
    if (!HasText(p.number)) continue;
    line.Start("TEL").Param(pick(TypeOf(p.kind))).Colon().Text(p.number).End();
  }
  for (const Address& a : c.addresses) {
    if (a.IsEmpty()) continue;
    line.Start("ADR").Param(pick(TypeOf(a.kind)));
    if (a.mailing) line.Param(v4 ? "PREF=1" : "TYPE=PREF");
    line.Colon().Part(a.poBox).Sep(';').Sep(';').Part(a.street).Sep(';').Part(a.city).Sep(';');
    line.Part(a.state).Sep(';').Part(a.postalCode).Sep(';').Part(a.country).End();
  }
}

void AppendWebAndDates(Line& line, const Contact& c, bool v4) {
  if (HasText(c.businessWebPage))
    line.Start("URL").Param(v4 ? "TYPE=work" : "TYPE=WORK").Colon().Uri(c.businessWebPage).End();
  if (HasText(c.personalWebPage))
    line.Start("URL").Param(v4 ? "TYPE=home" : "TYPE=HOME").Colon().Uri(c.personalWebPage).End();
  for (const QString& page : c.moreWebPages)
    if (HasText(page)) line.Start("URL").Colon().Uri(page).End();
  if (UsableDate(c.birthday)) line.Start("BDAY").Colon().DateValue(c.birthday).End();
  if (UsableDate(c.anniversary)) {
    const Date& day = c.anniversary;
    if (v4) {
      line.Start("ANNIVERSARY").Colon().DateValue(day).End();
    } else {
      // 3.0 has no anniversary: the X- property most programs read, and Evolution's own.
      line.Start("X-ANNIVERSARY").Colon().DateValue(day).End();
      line.Start("X-EVOLUTION-ANNIVERSARY").Colon().DateValue(day).End();
    }
  }
}

void AppendPersonal(Line& line, const Contact& c, bool v4) {
  if (c.gender != Gender::kUnspecified) {
    const bool female = c.gender == Gender::kFemale;
    // 3.0 has no gender of its own: Evolution reads X-GENDER, KDE's KContacts the GENDER of 4.0.
    line.Start("GENDER").Colon().Raw(female ? "F" : "M").End();
    if (!v4) line.Start("X-GENDER").Colon().Raw(female ? "Female" : "Male").End();
  }
  struct Related {
    const QString* name;
    const char* v4;
    const char* v3;
  };
  const Related related[] = {
      {&c.spouse, "RELATED;TYPE=spouse;VALUE=text", "X-EVOLUTION-SPOUSE"},
      {&c.assistant, "RELATED;TYPE=agent;VALUE=text", "X-EVOLUTION-ASSISTANT"},
      {&c.manager, "RELATED;TYPE=x-manager;VALUE=text", "X-EVOLUTION-MANAGER"},
  };
  for (const Related& r : related)
    if (HasText(*r.name)) line.Start(v4 ? r.v4 : r.v3).Colon().Text(*r.name).End();
  for (const QString& child : c.children)
    if (HasText(child))
      line.Start(v4 ? "RELATED;TYPE=child;VALUE=text" : "X-CHILD").Colon().Text(child).End();
}

void AppendCategoriesAndNetAddresses(Line& line, const Contact& c) {
  bool anyCategory = false;
  for (const QString& category : c.categories) {
    if (!HasText(category)) continue;
    if (!anyCategory) line.Start("CATEGORIES").Colon();
    if (anyCategory) line.Sep(',');
    line.Text(category.trimmed());
    anyCategory = true;
  }
  if (anyCategory) line.End();
  if (HasText(c.imAddress)) {
    const QString im = c.imAddress.trimmed();
    line.Start("IMPP").Colon();
    if (!im.contains(u':')) line.Raw("im:");
    line.Uri(im).End();
    QString address;
    if (const char* property = EvolutionImProperty(im, address))
      line.Start(property).Colon().Text(address).End();
  }
  if (HasText(c.freeBusyUrl)) line.Start("FBURL").Colon().Uri(c.freeBusyUrl.trimmed()).End();
}

void AppendMembersAndNote(Line& line, const Contact& c, bool v4, const MemberCards* cards) {
  if (c.isGroup) {
    // Two members of one card (two of its addresses) name it once.
    std::vector<QByteArray> written;
    for (const Member& m : c.members) {
      QByteArray uri = MemberUri(m, cards);
      if (std::find(written.begin(), written.end(), uri) != written.end()) continue;
      line.Start(v4 ? "MEMBER" : "X-ADDRESSBOOKSERVER-MEMBER").Colon().Raw(uri).End();
      written.push_back(std::move(uri));
    }
  }
  const QString note = NoteWithMembers(c);
  if (HasText(note)) line.Start("NOTE").Colon().Text(note).End();
}

// A member as a mail address, "Name <address>", the name in quotes where it holds a character
// that has a meaning in an address (a comma would part it in two).
QString MailAddress(const QString& name, const QString& address) {
  if (name.isEmpty() || name == address) return address;
  static const QString specials = QStringLiteral("()<>@,;:\\\".[]");
  if (std::none_of(name.begin(), name.end(), [](QChar ch) { return specials.contains(ch); }))
    return name + QStringLiteral(" <") + address + u'>';
  QString quoted = name;
  quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
  return u'"' + quoted + QStringLiteral("\" <") + address + u'>';
}

// In 3.0, a list is also one of Evolution's own lists, which is all Evolution takes of a group:
// X-EVOLUTION-LIST and each member with an address as an EMAIL whose value is the member's mail
// address and whose parameters name its address and name, the form Evolution itself writes its
// lists in. Sending into an Evolution book adds which contact each member is.
void AppendEvolutionList(Line& line, const Contact& c, bool v4) {
  if (!c.isGroup || v4) return;
  line.Start("X-EVOLUTION-LIST").Colon().Raw("TRUE").End();
  line.Start("X-EVOLUTION-LIST-SHOW-ADDRESSES").Colon().Raw("TRUE").End();
  for (const Member& m : c.members) {
    const QString address = m.address.trimmed();
    if (!Mailable(address)) continue;  // the list's note names it
    const QString name = m.name.trimmed();
    line.Start("EMAIL");
    if (!name.isEmpty()) line.Raw(";X-EVOLUTION-DEST-NAME=\"").Uri(Unquoted(name)).Raw("\"");
    line.Raw(";X-EVOLUTION-DEST-EMAIL=\"").Uri(Unquoted(address)).Raw("\"");
    line.Raw(";X-EVOLUTION-DEST-HTML-MAIL=FALSE").Colon().Text(MailAddress(name, address)).End();
  }
}

void AppendPhoto(Line& line, const Contact& c, bool v4) {
  if (c.photo.IsEmpty()) return;
  const QString type = PhotoType(c.photo);
  if (v4) {
    // VALUE=uri said outright, so that readers that take PHOTO for a 3.0 value by default
    // see a URI.
    line.Start("PHOTO").Param("VALUE=uri").Colon().Raw("data:").Uri(type).Raw(";base64,");
  } else {
    line.Start("PHOTO").Param("ENCODING=b");
    const QString subtype = type.section(u'/', 1).toUpper();
    if (type.startsWith(u"image/") && !subtype.isEmpty()) {
      line.Raw(";TYPE=").Uri(subtype);
    }
    line.Colon();
  }
  line.Raw(c.photo.data.toBase64()).End();
}

void AppendRevisionAndUid(Line& line, const Contact& c, bool v4) {
  if (c.lastModified.isValid()) line.Start("REV").Colon().Stamp(c.lastModified).End();
  if (!HasText(c.uid)) return;
  line.Start("UID").Colon();
  if (v4) line.Raw("urn:uuid:");
  // A uid read from a store is a UUID already: its digits go in as they are.
  if (IsCanonicalUuid(c.uid))
    line.Uri(c.uid);
  else
    line.Raw(CardUuid(c.uid).toLatin1());
  line.End();
}

}  // namespace

void AppendVCard(QByteArray& out, const Contact& c, VCardVersion version,
                 const MemberCards* cards) {
  const bool v4 = version == VCardVersion::k40;
  // The card is put together in buffers kept for every card of the thread, so that their room
  // is not made anew, and then appended to `out` in one piece.
  thread_local CardBytes card;
  thread_local std::string scratch;
  card.clear();
  Line line(card, scratch, version);
  card.append(v4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\n" : "BEGIN:VCARD\r\nVERSION:3.0\r\n");
  AppendNames(line, c, v4);
  AppendWork(line, c, v4);
  AppendEmails(line, c, v4);
  AppendPhonesAndAddresses(line, c, v4);
  AppendWebAndDates(line, c, v4);
  AppendPersonal(line, c, v4);
  AppendCategoriesAndNetAddresses(line, c);
  AppendMembersAndNote(line, c, v4, cards);
  AppendEvolutionList(line, c, v4);
  AppendPhoto(line, c, v4);
  AppendRevisionAndUid(line, c, v4);
  card.append("END:VCARD\r\n");
  out.append(card.data(), static_cast<qsizetype>(card.size()));
}

}  // namespace lumivex::contact
