#include "contact/CsvWriter.h"

#include "contact/TextOut.h"
#include "contact/VCardWriter.h"

#include <cstdio>

namespace lumivex::contact {

namespace {

using Getter = QString (*)(const Contact&);

const Address* AddressOf(const Contact& c, AddressKind kind) {
  for (const Address& a : c.addresses)
    if (a.kind == kind) return &a;
  return nullptr;
}

// A field of the address of that kind, empty when the contact has none.
template <AddressKind kind, QString Address::*field>
QString AddressField(const Contact& c) {
  const Address* a = AddressOf(c, kind);
  return a ? a->*field : QString();
}
// The number of that kind, empty when the contact has none.
template <PhoneKind kind>
QString Tel(const Contact& c) {
  for (const Phone& p : c.phones)
    if (p.kind == kind) return p.number;
  return {};
}

// A field of the n-th e-mail address, empty when there is none.
template <size_t n, QString Email::*field>
QString EmailField(const Contact& c) {
  return c.emails.size() > n ? c.emails[n].*field : QString();
}

// The type of the n-th e-mail address as the column gives it: an Exchange ("EX") address is
// written in its SMTP form where the store holds one, and is then typed SMTP.
template <size_t n>
QString EmailType(const Contact& c) {
  if (c.emails.size() <= n) return {};
  const Email& e = c.emails[n];
  if (e.type.compare(u"EX", Qt::CaseInsensitive) == 0 && e.address.contains(u'@') &&
      !e.address.startsWith(u'/'))
    return QStringLiteral("SMTP");
  return e.type;
}

// The values of a multi-valued field in one cell, separated by ";" as the mail client's own CSV
// export and import join and split them. The client lets no category hold a ";" (it splits what
// is typed at it); a ";" in a value read from elsewhere is written as "," so that the cell
// splits back into as many values as the contact has.
QString Joined(const QStringList& values) {
  QString out;
  for (const QString& value : values) {
    if (value.trimmed().isEmpty()) continue;
    if (!out.isEmpty()) out += u';';
    out += QString(value.trimmed()).replace(u';', u',');
  }
  return out;
}

QString DateOf(const Date& d) {
  if (!d.IsValid()) return {};
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", d.year, d.month, d.day);
  return QString::fromLatin1(buffer);
}

// "Notes": the note (with a list's members), then what a merged contact holds beyond the
// columns, one "Heading: value" a line, so that nothing is lost: its older entries' companies
// (each with its department and office) and job titles ("Earlier: ..."), its further web pages,
// e-mail addresses after the third, a second number of one kind, a second address of one kind.
QString NoteWithMoreWebPages(const Contact& c) {
  QString note = NoteWithMembers(c);
  auto line = [&note](const QString& text) {
    if (!note.isEmpty()) note += u'\n';
    note += text;
  };
  for (qsizetype k = 0; k < c.earlierCompanies.size(); ++k) {
    line(QStringLiteral("Earlier: Company: ") + c.earlierCompanies[k]);
    // The older company's own department and office, after it.
    if (const QString department = c.earlierDepartments.value(k); !department.isEmpty())
      line(QStringLiteral("Earlier: Department: ") + department);
    if (const QString office = c.earlierOffices.value(k); !office.isEmpty())
      line(QStringLiteral("Earlier: Office: ") + office);
  }
  for (const QString& title : c.earlierTitles) line(QStringLiteral("Earlier: Job title: ") + title);
  for (const QString& page : c.moreWebPages) line(QStringLiteral("Web page: ") + page);
  for (size_t i = 3; i < c.emails.size(); ++i)
    line(QStringLiteral("E-mail: ") + c.emails[i].address);
  for (size_t i = 0; i < c.phones.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (c.phones[j].kind == c.phones[i].kind) {
        line(QStringLiteral("%1: %2").arg(QLatin1String(PhoneHeading(c.phones[i].kind)),
                                          c.phones[i].number));
        break;
      }
  for (size_t i = 0; i < c.addresses.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (c.addresses[j].kind == c.addresses[i].kind) {
        const Address& a = c.addresses[i];
        QStringList parts;
        for (const QString& part : {a.street, a.poBox, a.city, a.state, a.postalCode, a.country})
          if (!part.trimmed().isEmpty())
            parts << QString(part).replace(u'\n', QStringLiteral(", "));
        const char* heading = a.kind == AddressKind::kBusiness ? "Business address"
                              : a.kind == AddressKind::kHome   ? "Home address"
                                                               : "Other address";
        line(
            QStringLiteral("%1: %2").arg(QLatin1String(heading), parts.join(QStringLiteral(", "))));
        break;
      }
  return note;
}

// A word that is clearly a given name or a surname: a capital, then letters with at least one
// small one ("Ann", "O'Brien", "Smith-Jones", "McKay", "Мария", "Γιάννης"). Scripts without
// capitals (Chinese, Japanese, Korean) never match: their names are written surname first, often
// without a space, and are kept whole; nor do initials, acronyms ("IT"), digits or addresses.
bool IsNameWord(QStringView word) {
  if (word.isEmpty() || !word.front().isUpper()) return false;
  bool small = false;
  QChar before;
  for (QChar ch : word) {
    const bool joiner = ch == u'-' || ch == u'\'' || ch == u'\u2019';
    if (joiner ? !before.isLetter() : !ch.isLetter()) return false;
    small = small || ch.isLower();
    before = ch;
  }
  return small && before.isLetter();
}

// Where a row's name goes. Importers of these columns (Google Contacts, Thunderbird) show a
// contact under "First Name" and "Last Name"; Outlook's headings have no column for a whole
// name. A contact with a given name, middle name or surname keeps them as they are. One without
// (made from an e-mail, a company, a list) gets the name it is shown under: split where it is
// clearly "Given Surname" or "Surname, Given" (two name words, and not the company's name),
// otherwise whole under "First Name", which both importers show as the contact's name.
struct RowName {
  QString first;
  QString last;
};

RowName NameOf(const Contact& c) {
  const auto has = [](const QString& s) { return !s.trimmed().isEmpty(); };
  if (!c.isGroup && (has(c.givenName) || has(c.middleName) || has(c.surname)))
    return {c.givenName, c.surname};
  const QString shown = ShownName(c).trimmed();
  // A list, or a company's own entry, is named as it is.
  if (c.isGroup || shown.compare(c.company.trimmed(), Qt::CaseInsensitive) == 0) return {shown, {}};
  const qsizetype comma = shown.indexOf(u',');
  if (comma >= 0) {
    const QString surname = shown.left(comma).trimmed();
    const QString given = shown.mid(comma + 1).trimmed();
    if (IsNameWord(surname) && IsNameWord(given)) return {given, surname};
    return {shown, {}};
  }
  const QStringList words = shown.split(u' ', Qt::SkipEmptyParts);
  if (words.size() == 2 && IsNameWord(words[0]) && IsNameWord(words[1]))
    return {words[0], words[1]};
  return {shown, {}};
}

struct Column {
  const char* heading;
  Getter value;
};

constexpr AddressKind kWork = AddressKind::kBusiness;
constexpr AddressKind kHomeA = AddressKind::kHome;
constexpr AddressKind kOtherA = AddressKind::kOther;

const Column kColumns[] = {
    {"First Name", [](const Contact& c) { return NameOf(c).first; }},
    {"Middle Name", [](const Contact& c) { return c.middleName; }},
    {"Last Name", [](const Contact& c) { return NameOf(c).last; }},
    {"Title", [](const Contact& c) { return c.prefix; }},
    {"Suffix", [](const Contact& c) { return c.suffix; }},
    {"Company", [](const Contact& c) { return c.company; }},
    {"Department", [](const Contact& c) { return c.department; }},
    {"Job Title", [](const Contact& c) { return c.jobTitle; }},
    {"Business Street", AddressField<kWork, &Address::street>},
    {"Business City", AddressField<kWork, &Address::city>},
    {"Business State", AddressField<kWork, &Address::state>},
    {"Business Postal Code", AddressField<kWork, &Address::postalCode>},
    {"Business Country/Region", AddressField<kWork, &Address::country>},
    {"Home Street", AddressField<kHomeA, &Address::street>},
    {"Home City", AddressField<kHomeA, &Address::city>},
    {"Home State", AddressField<kHomeA, &Address::state>},
    {"Home Postal Code", AddressField<kHomeA, &Address::postalCode>},
    {"Home Country/Region", AddressField<kHomeA, &Address::country>},
    {"Other Street", AddressField<kOtherA, &Address::street>},
    {"Other City", AddressField<kOtherA, &Address::city>},
    {"Other State", AddressField<kOtherA, &Address::state>},
    {"Other Postal Code", AddressField<kOtherA, &Address::postalCode>},
    {"Other Country/Region", AddressField<kOtherA, &Address::country>},
    {"Assistant's Phone", Tel<PhoneKind::kAssistant>},
    {"Business Fax", Tel<PhoneKind::kBusinessFax>},
    {"Business Phone", Tel<PhoneKind::kBusiness>},
    {"Business Phone 2", Tel<PhoneKind::kBusiness2>},
    {"Callback", Tel<PhoneKind::kCallback>},
    {"Car Phone", Tel<PhoneKind::kCar>},
    {"Company Main Phone", Tel<PhoneKind::kCompanyMain>},
    {"Home Fax", Tel<PhoneKind::kHomeFax>},
    {"Home Phone", Tel<PhoneKind::kHome>},
    {"Home Phone 2", Tel<PhoneKind::kHome2>},
    {"ISDN", Tel<PhoneKind::kIsdn>},
    {"Mobile Phone", Tel<PhoneKind::kMobile>},
    {"Other Fax", Tel<PhoneKind::kOtherFax>},
    {"Other Phone", Tel<PhoneKind::kOther>},
    {"Pager", Tel<PhoneKind::kPager>},
    {"Primary Phone", Tel<PhoneKind::kPrimary>},
    {"Radio Phone", Tel<PhoneKind::kRadio>},
    {"TTY/TDD Phone", Tel<PhoneKind::kTty>},
    {"Telex", Tel<PhoneKind::kTelex>},
    {"Anniversary", [](const Contact& c) { return DateOf(c.anniversary); }},
    {"Assistant's Name", [](const Contact& c) { return c.assistant; }},
    {"Birthday", [](const Contact& c) { return DateOf(c.birthday); }},
    {"Business Address PO Box", AddressField<kWork, &Address::poBox>},
    {"Categories", [](const Contact& c) { return Joined(c.categories); }},
    {"Children", [](const Contact& c) { return Joined(c.children); }},
    {"E-mail Address", EmailField<0, &Email::address>},
    {"E-mail Type", EmailType<0>},
    {"E-mail Display Name", EmailField<0, &Email::displayName>},
    {"E-mail 2 Address", EmailField<1, &Email::address>},
    {"E-mail 2 Type", EmailType<1>},
    {"E-mail 2 Display Name", EmailField<1, &Email::displayName>},
    {"E-mail 3 Address", EmailField<2, &Email::address>},
    {"E-mail 3 Type", EmailType<2>},
    {"E-mail 3 Display Name", EmailField<2, &Email::displayName>},
    {"Gender",
     [](const Contact& c) {
       return c.gender == Gender::kFemale ? QStringLiteral("Female")
              : c.gender == Gender::kMale ? QStringLiteral("Male")
                                          : QString();
     }},
    {"Home Address PO Box", AddressField<kHomeA, &Address::poBox>},
    {"Initials", [](const Contact& c) { return c.initials; }},
    {"Internet Free Busy", [](const Contact& c) { return c.freeBusyUrl; }},
    {"Manager's Name", [](const Contact& c) { return c.manager; }},
    {"Notes", NoteWithMoreWebPages},
    {"Office Location", [](const Contact& c) { return c.officeLocation; }},
    {"Other Address PO Box", AddressField<kOtherA, &Address::poBox>},
    {"Profession", [](const Contact& c) { return c.profession; }},
    {"Spouse", [](const Contact& c) { return c.spouse; }},
    {"Web Page", [](const Contact& c) { return c.businessWebPage; }},
    {"Nickname", [](const Contact& c) { return c.nickname; }},
    {"Personal Web Page", [](const Contact& c) { return c.personalWebPage; }},
    {"IM Address", [](const Contact& c) { return c.imAddress; }},
};

}  // namespace

QByteArray CsvHeading() {
  QByteArray out;
  bool first = true;
  for (const Column& column : kColumns) {
    if (!first) out.append(',');
    out.append('"').append(column.heading).append('"');
    first = false;
  }
  out.append("\r\n", 2);
  return out;
}

void AppendCsvRow(QByteArray& out, const Contact& contact) {
  bool first = true;
  for (const Column& column : kColumns) {
    if (!first) out.append(',');
    out.append('"');
    AppendUtf8(out, column.value(contact), TextRule::kCsv);
    out.append('"');
    first = false;
  }
  out.append("\r\n", 2);
}

}  // namespace lumivex::contact
