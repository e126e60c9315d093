#include "contact/CsvWriter.h"

#include "contact/TextOut.h"
#include "contact/VCardWriter.h"

#include <cstdio>

namespace lumivex::contact {

namespace {

using Getter = QString (*)(const Contact&);

QString PhoneOf(const Contact& c, PhoneKind kind) {
  for (const Phone& p : c.phones)
    if (p.kind == kind) return p.number;
  return {};
}

const Address* AddressOf(const Contact& c, AddressKind kind) {
  for (const Address& a : c.addresses)
    if (a.kind == kind) return &a;
  return nullptr;
}

template <AddressKind kind>
QString Street(const Contact& c) {
  const Address* a = AddressOf(c, kind);
  return a ? a->street : QString();
}
template <AddressKind kind>
QString City(const Contact& c) {
  const Address* a = AddressOf(c, kind);
  return a ? a->city : QString();
}
template <AddressKind kind>
QString State(const Contact& c) {
  const Address* a = AddressOf(c, kind);
  return a ? a->state : QString();
}
template <AddressKind kind>
QString PostalCode(const Contact& c) {
  const Address* a = AddressOf(c, kind);
  return a ? a->postalCode : QString();
}
template <AddressKind kind>
QString Country(const Contact& c) {
  const Address* a = AddressOf(c, kind);
  return a ? a->country : QString();
}
template <AddressKind kind>
QString PoBox(const Contact& c) {
  const Address* a = AddressOf(c, kind);
  return a ? a->poBox : QString();
}
template <PhoneKind kind>
QString Tel(const Contact& c) {
  return PhoneOf(c, kind);
}
template <size_t n>
QString EmailAddress(const Contact& c) {
  return c.emails.size() > n ? c.emails[n].address : QString();
}
template <size_t n>
QString EmailType(const Contact& c) {
  return c.emails.size() > n ? c.emails[n].type : QString();
}
template <size_t n>
QString EmailName(const Contact& c) {
  return c.emails.size() > n ? c.emails[n].displayName : QString();
}

QString DateOf(const Date& d) {
  if (!d.IsValid()) return {};
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", d.year, d.month, d.day);
  return QString::fromLatin1(buffer);
}

QString Notes(const Contact& c) {
  if (!c.isGroup) return c.notes;
  QString note = c.notes;
  const QString members = MemberLines(c);
  if (members.isEmpty()) return note;
  while (note.endsWith(u'\n') || note.endsWith(u'\r')) note.chop(1);
  return note.isEmpty() ? members : note + QStringLiteral("\n\n") + members;
}

struct Column {
  const char* heading;
  Getter value;
};

constexpr AddressKind kWork = AddressKind::kBusiness;
constexpr AddressKind kHomeA = AddressKind::kHome;
constexpr AddressKind kOtherA = AddressKind::kOther;

const Column kColumns[] = {
    {"First Name", [](const Contact& c) { return c.isGroup ? ShownName(c) : c.givenName; }},
    {"Middle Name", [](const Contact& c) { return c.middleName; }},
    {"Last Name", [](const Contact& c) { return c.surname; }},
    {"Title", [](const Contact& c) { return c.prefix; }},
    {"Suffix", [](const Contact& c) { return c.suffix; }},
    {"Company", [](const Contact& c) { return c.company; }},
    {"Department", [](const Contact& c) { return c.department; }},
    {"Job Title", [](const Contact& c) { return c.jobTitle; }},
    {"Business Street", Street<kWork>},
    {"Business City", City<kWork>},
    {"Business State", State<kWork>},
    {"Business Postal Code", PostalCode<kWork>},
    {"Business Country/Region", Country<kWork>},
    {"Home Street", Street<kHomeA>},
    {"Home City", City<kHomeA>},
    {"Home State", State<kHomeA>},
    {"Home Postal Code", PostalCode<kHomeA>},
    {"Home Country/Region", Country<kHomeA>},
    {"Other Street", Street<kOtherA>},
    {"Other City", City<kOtherA>},
    {"Other State", State<kOtherA>},
    {"Other Postal Code", PostalCode<kOtherA>},
    {"Other Country/Region", Country<kOtherA>},
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
    {"Business Address PO Box", PoBox<kWork>},
    {"Categories", [](const Contact& c) { return c.categories.join(u';'); }},
    {"Children", [](const Contact& c) { return c.children.join(QStringLiteral(", ")); }},
    {"E-mail Address", EmailAddress<0>},
    {"E-mail Type", EmailType<0>},
    {"E-mail Display Name", EmailName<0>},
    {"E-mail 2 Address", EmailAddress<1>},
    {"E-mail 2 Type", EmailType<1>},
    {"E-mail 2 Display Name", EmailName<1>},
    {"E-mail 3 Address", EmailAddress<2>},
    {"E-mail 3 Type", EmailType<2>},
    {"E-mail 3 Display Name", EmailName<2>},
    {"Gender",
     [](const Contact& c) {
       return c.gender == Gender::kFemale ? QStringLiteral("Female")
              : c.gender == Gender::kMale ? QStringLiteral("Male")
                                          : QString();
     }},
    {"Home Address PO Box", PoBox<kHomeA>},
    {"Internet Free Busy", [](const Contact& c) { return c.freeBusyUrl; }},
    {"Manager's Name", [](const Contact& c) { return c.manager; }},
    {"Notes", Notes},
    {"Office Location", [](const Contact& c) { return c.officeLocation; }},
    {"Other Address PO Box", PoBox<kOtherA>},
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
