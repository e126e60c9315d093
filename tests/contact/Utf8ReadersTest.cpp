// Our vCard 4.0, vCard 3.0 and CSV files of contacts with every field filled, read back by
// readers nobody on this team wrote: every value comes back exactly, in its field.
#include "convert/Utf8Export.h"
#include "tests/contact/Utf8Readers.h"
#include "tests/support/FakeStore.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace lumivex;
using namespace lumivex::contact;
using namespace lumivex::testing;

namespace {

// A small but whole PNG picture (1x1, one red pixel).
const QByteArray kPng = QByteArray::fromHex(
    "89504e470d0a1a0a0000000d4948445200000001000000010802000000907753de0000000c4944415408d763"
    "f8cfc000000301010018dd8db00000000049454e44ae426082");

Contact Full() {
  Contact c;
  c.prefix = QStringLiteral("Dr.");
  c.givenName = QStringLiteral("Amélie");
  c.middleName = QStringLiteral("Claire");
  c.surname = QStringLiteral("Lefèvre-Łukasiewicz");
  c.suffix = QStringLiteral("PhD");
  c.displayName = QStringLiteral("Dr. Amélie Claire Lefèvre-Łukasiewicz PhD");
  c.fileAs = QStringLiteral("Lefèvre, Amélie");
  c.nickname = QStringLiteral("Mimi");
  c.company = QStringLiteral("Contoso; Ltd, Paris");
  c.department = QStringLiteral("R&D \\ Lab");
  c.jobTitle = QStringLiteral("Chief Scientist");
  c.profession = QStringLiteral("Chemist");
  c.emails = {{QStringLiteral("amelie@contoso.example"), QStringLiteral("Amélie (work)"),
               QStringLiteral("SMTP")},
              {QStringLiteral("amelie@home.example"), {}, QStringLiteral("SMTP")},
              {QStringLiteral("a.l@lab.example"), {}, QStringLiteral("SMTP")}};
  const PhoneKind kinds[] = {PhoneKind::kBusiness,    PhoneKind::kBusiness2,   PhoneKind::kHome,
                             PhoneKind::kHome2,       PhoneKind::kMobile,      PhoneKind::kCar,
                             PhoneKind::kPager,       PhoneKind::kBusinessFax, PhoneKind::kHomeFax,
                             PhoneKind::kOtherFax,    PhoneKind::kAssistant,   PhoneKind::kCallback,
                             PhoneKind::kCompanyMain, PhoneKind::kIsdn,        PhoneKind::kOther,
                             PhoneKind::kPrimary,     PhoneKind::kRadio,       PhoneKind::kTelex,
                             PhoneKind::kTty};
  int n = 10;
  for (PhoneKind kind : kinds)
    c.phones.push_back({kind, QStringLiteral("+33 1 42 68 53 %1").arg(n++)});
  c.addresses = {{AddressKind::kBusiness, QStringLiteral("12 rue de la Paix\nBâtiment B; 3e étage"),
                  QStringLiteral("BP 42"), QStringLiteral("Paris"), QStringLiteral("Île-de-France"),
                  QStringLiteral("75002"), QStringLiteral("France"), true},
                 {AddressKind::kHome,
                  QStringLiteral("Невский проспект, 28"),
                  {},
                  QStringLiteral("Санкт-Петербург"),
                  {},
                  QStringLiteral("191186"),
                  QStringLiteral("Россия"),
                  false},
                 {AddressKind::kOther,
                  QStringLiteral("銀座一丁目 2-3"),
                  {},
                  QStringLiteral("東京"),
                  {},
                  QStringLiteral("104-0061"),
                  QStringLiteral("日本"),
                  false}};
  c.businessWebPage = QStringLiteral("https://www.contoso.example/amelie");
  c.personalWebPage = QStringLiteral("https://amelie.example/");
  c.imAddress = QStringLiteral("amelie@im.example");
  c.freeBusyUrl = QStringLiteral("https://contoso.example/fb/amelie.vfb");
  c.birthday = {1975, 5, 17};
  c.anniversary = {2001, 9, 8};
  c.gender = Gender::kFemale;
  c.spouse = QStringLiteral("Loïc Lefèvre");
  c.children = {QStringLiteral("Zoé"), QStringLiteral("Gaëlle")};
  c.manager = QStringLiteral("Jérôme Faure");
  c.assistant = QStringLiteral("Noémie Girard");
  c.categories = {QStringLiteral("Business"), QStringLiteral("VIP")};
  c.notes = QStringLiteral(
      "Met at the Lyon conference in 2019.\nPrefers e-mail; never calls, ever.\n"
      "Speaks French, English and German: Ελληνικά too, and 日本語 a little. "
      "A long line that goes on well beyond the seventy-five octets of a vCard line, with \\ a "
      "backslash and \"quotes\" inside.");
  c.photo = {kPng, QStringLiteral("image/png")};
  c.lastModified = QDateTime(QDate(2024, 3, 1), QTime(9, 30), Qt::UTC);
  c.uid = QStringLiteral("8a2b0a36-1f6c-4c1e-9a55-2f1d3c4b5a69");
  return c;
}

Contact Plain() {
  Contact c;
  c.givenName = QStringLiteral("翔太");
  c.surname = QStringLiteral("佐藤");
  c.displayName = QStringLiteral("佐藤 翔太");
  c.emails = {{QStringLiteral("sato@test.example"), {}, QStringLiteral("SMTP")}};
  c.phones = {{PhoneKind::kMobile, QStringLiteral("+81 90-1234-5678")}};
  return c;
}

Contact Group() {
  Contact c;
  c.isGroup = true;
  c.displayName = QStringLiteral("Project team");
  c.members = {{QStringLiteral("Amélie Lefèvre"), QStringLiteral("amelie@contoso.example")},
               {QStringLiteral("Sato Shota"), QStringLiteral("sato@test.example")},
               {QStringLiteral("Without Address"), {}}};
  return c;
}

QString PhoneNumber(const Contact& c, PhoneKind kind) {
  for (const Phone& p : c.phones)
    if (p.kind == kind) return p.number;
  return {};
}

QVariantList AddressParts(const Address& a) {
  return {a.poBox, QString(), a.street, a.city, a.state, a.postalCode, a.country};
}

class Utf8Readers : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = ScratchDir(QStringLiteral("utf8-readers"));
    for (const Contact& c : {Full(), Plain(), Group()}) {
      FakeContact fake;
      fake.full = c;
      store.defaultContacts->Add(fake);
    }
  }
  QString Export(Utf8Format format, const QString& name, bool perContact = false) {
    struct Quiet : Utf8ExportObserver {
      void Progress(int, int, const QString&) override {}
    } quiet;
    const Utf8ExportResult result = RunUtf8Export(
        {store.defaultContacts}, {format, perContact, dir + u'/' + name, false}, quiet);
    EXPECT_EQ(result.contacts, 2);
    EXPECT_EQ(result.groups, 1);
    return result.output;
  }
  QString dir;
  FakeStore store;
};

}  // namespace

TEST_F(Utf8Readers, VCardReadersGiveBackEveryField) {
  const QString v4 = Export(Utf8Format::kVCard4, QStringLiteral("all4.vcf"));
  const QString v3 = Export(Utf8Format::kVCard3, QStringLiteral("all3.vcf"));
  const Contact full = Full();
  for (const QString& file : {v4, v3}) {
    SCOPED_TRACE(file.toStdString());
    const bool four = file == v4;

    // Strict vobject parses every card; structured values come back component by component.
    const QJsonArray parsed = VObjectReader().ReadOrFail({file}).array();
    ASSERT_EQ(parsed.size(), 3);
    const QJsonObject card = parsed[0].toObject();
    EXPECT_EQ(
        card["N"][0]["value"].toArray().toVariantList(),
        (QVariantList{full.surname, full.givenName, full.middleName, full.prefix, full.suffix}));
    EXPECT_EQ(card["NOTE"][0]["value"].toString(), full.notes);
    EXPECT_EQ(card["ORG"][0]["value"].toArray().toVariantList(),
              (QVariantList{full.company, full.department}));
    EXPECT_EQ(card["ADR"].toArray().size(), 3);
    EXPECT_EQ(card["ADR"][0]["value"].toArray().toVariantList(), AddressParts(full.addresses[0]));
    EXPECT_EQ(card["TEL"].toArray().size(), 19);
    EXPECT_EQ(card["EMAIL"].toArray().size(), 3);
    EXPECT_EQ(card["CATEGORIES"][0]["value"].toArray().toVariantList(),
              (QVariantList{"Business", "VIP"}));
    // vobject reads a 4.0 data: URI as 3.0 text and stops at its comma: the picture is compared
    // through the other readers there.
    if (!four) {
      EXPECT_EQ(card["PHOTO"][0]["value"].toString(), QStringLiteral("base64:") + kPng.toBase64());
    }
    const QJsonObject group = parsed[2].toObject();
    EXPECT_EQ(group[four ? "MEMBER" : "X-ADDRESSBOOKSERVER-MEMBER"].toArray().size(), 3);
    EXPECT_EQ(group[four ? "KIND" : "X-ADDRESSBOOKSERVER-KIND"][0]["value"].toString(), u"group");
    EXPECT_TRUE(group["NOTE"][0]["value"].toString().contains(
        u"Amélie Lefèvre <amelie@contoso.example>\nSato Shota <sato@test.example>\nWithout "
        u"Address"));

    // Evolution and KContacts: every name, e-mail, phone, address, date and note.
    for (const Utf8Reader& reader : {EvolutionCardReader(), KContactsCardReader()}) {
      SCOPED_TRACE(reader.name.toStdString());
      const QJsonArray cards = reader.ReadOrFail({file}).array();
      ASSERT_EQ(cards.size(), 3);
      const QJsonObject o = cards[0].toObject();
      EXPECT_EQ(o["family"].toString(), full.surname);
      EXPECT_EQ(o["given"].toString(), full.givenName);
      EXPECT_EQ(o["additional"].toString(), full.middleName);
      EXPECT_EQ(o["prefixes"].toString(), full.prefix);
      EXPECT_EQ(o["suffixes"].toString(), full.suffix);
      EXPECT_EQ(o["fn"].toString(), full.displayName);
      EXPECT_EQ(o["nickname"].toString(), full.nickname);
      EXPECT_EQ(o["org"].toString(), full.company);
      EXPECT_EQ(o["orgUnit"].toString(), full.department);
      EXPECT_EQ(o["title"].toString(), full.jobTitle);
      EXPECT_EQ(o["role"].toString(), full.profession);
      // Two known slips of the readers, each on a ";" in a note: Evolution's library, made for
      // 3.0, ends a 4.0 note at a ";" (which 4.0 does not escape), and KContacts keeps the
      // backslash of a 3.0 "\;".
      QString note = full.notes;
      if (four && reader.name != u"KContacts") note = note.section(u';', 0, 0);
      if (!four && reader.name == u"KContacts")
        note.replace(QStringLiteral(";"), QStringLiteral("\\;"));
      EXPECT_EQ(o["note"].toString(), note);
      EXPECT_EQ(Strings(o["emails"]),
                (QStringList{"amelie@contoso.example", "amelie@home.example", "a.l@lab.example"}));
      QStringList numbers;
      for (const QJsonValue p : o["phones"].toArray()) numbers << p["number"].toString();
      QStringList expected;
      for (const Phone& p : full.phones) expected << p.number;
      EXPECT_EQ(numbers, expected);
      // The usual kinds land where each reader keeps them.
      const std::pair<PhoneKind, QStringList> kinds[] = {{PhoneKind::kMobile, {"CELL"}},
                                                         {PhoneKind::kBusinessFax, {"WORK", "FAX"}},
                                                         {PhoneKind::kHome, {"HOME"}},
                                                         {PhoneKind::kPager, {"PAGER"}}};
      for (const auto& [kind, wanted] : kinds) {
        for (const QJsonValue p : o["phones"].toArray()) {
          if (p["number"].toString() != PhoneNumber(full, kind)) continue;
          for (const QString& type : wanted)
            EXPECT_TRUE(Strings(p["types"]).contains(type)) << p["number"].toString().toStdString();
        }
      }
      EXPECT_EQ(o["workAdr"].toArray().toVariantList(), AddressParts(full.addresses[0]));
      EXPECT_EQ(o["homeAdr"].toArray().toVariantList(), AddressParts(full.addresses[1]));
      if (reader.name != u"KContacts") {
        EXPECT_EQ(o["otherAdr"].toArray().toVariantList(), AddressParts(full.addresses[2]));
      } else {  // KContacts has no "other" kind of address: it is the third of its addresses
        EXPECT_EQ(o["addresses"][2].toArray().toVariantList(), AddressParts(full.addresses[2]));
      }
      EXPECT_EQ(o["birthday"].toString(), u"1975-05-17");
      // Evolution takes the anniversary of its own X- property, which the 3.0 card carries.
      if (four != (reader.name == u"Evolution's address-book library")) {
        EXPECT_EQ(o["anniversary"].toString(), u"2001-09-08");
      }
      EXPECT_EQ(o["categories"].toString(), u"Business,VIP");
      // KContacts 5 reads no data: URI picture from a 4.0 card.
      if (!four || reader.name != u"KContacts") {
        EXPECT_EQ(o["photo"].toString(), QString::fromLatin1(kPng.toBase64()));
      }
      const QJsonObject plain = cards[1].toObject();
      EXPECT_EQ(plain["family"].toString(), u"佐藤");
      EXPECT_EQ(plain["fn"].toString(), u"佐藤 翔太");
      EXPECT_EQ(cards[2]["fn"].toString(), u"Project team");
    }
  }

  // A CardDAV server takes every card of both versions, and each of the per-contact files.
  const QString perContact = Export(Utf8Format::kVCard4, QStringLiteral("cards"), true);
  QStringList files = {v4, v3};
  for (const QString& name : QDir(perContact).entryList(QDir::Files))
    files << perContact + u'/' + name;
  ASSERT_EQ(files.size(), 5);
  const QJsonObject server = CardDavServer().ReadOrFail(files).object();
  const QJsonArray puts = server["puts"].toArray();
  ASSERT_EQ(puts.size(), 9);
  for (const QJsonValue put : puts)
    EXPECT_EQ(put["status"].toInt(), 201) << put["error"].toString().toStdString();
  EXPECT_EQ(server["held"].toInt(), 9);
}

TEST_F(Utf8Readers, CsvReadersFindEveryValueInItsColumn) {
  const QString csv = Export(Utf8Format::kCsv, QStringLiteral("all.csv"));
  const Contact full = Full();
  for (const Utf8Reader& reader : {PythonCsvReader(), LibreOfficeCsvReader()}) {
    SCOPED_TRACE(reader.name.toStdString());
    const QJsonArray raw = reader.ReadOrFail({csv}).array()[0].toArray();
    ASSERT_EQ(raw.size(), 4);
    const QStringList heading = Strings(raw[0]);
    for (const char* name : {"First Name", "Middle Name", "Last Name", "Title", "Suffix",
                             "E-mail Address", "E-mail Display Name", "Business Street", "Notes",
                             "Categories", "Birthday", "Mobile Phone", "Home Country/Region"})
      EXPECT_TRUE(heading.contains(QString::fromUtf8(name))) << name;
    const QJsonArray rows = RowsByHeading(raw);
    const QJsonObject r = rows[0].toObject();
    EXPECT_EQ(r["#cells"].toInt(), heading.size());
    const std::pair<const char*, QString> expected[] = {
        {"First Name", full.givenName},
        {"Middle Name", full.middleName},
        {"Last Name", full.surname},
        {"Title", full.prefix},
        {"Suffix", full.suffix},
        {"Company", full.company},
        {"Department", full.department},
        {"Job Title", full.jobTitle},
        {"Business Street", full.addresses[0].street},
        {"Business City", full.addresses[0].city},
        {"Business Address PO Box", full.addresses[0].poBox},
        {"Home Street", full.addresses[1].street},
        {"Home Postal Code", full.addresses[1].postalCode},
        {"Other Country/Region", full.addresses[2].country},
        {"Mobile Phone", PhoneNumber(full, PhoneKind::kMobile)},
        {"TTY/TDD Phone", PhoneNumber(full, PhoneKind::kTty)},
        {"Assistant's Phone", PhoneNumber(full, PhoneKind::kAssistant)},
        {"E-mail Address", full.emails[0].address},
        {"E-mail Display Name", full.emails[0].displayName},
        {"E-mail 3 Address", full.emails[2].address},
        {"Birthday", QStringLiteral("1975-05-17")},
        {"Anniversary", QStringLiteral("2001-09-08")},
        {"Notes", full.notes},
        {"Categories", QStringLiteral("Business;VIP")},
        {"Spouse", full.spouse},
        {"Web Page", full.businessWebPage},
    };
    for (const auto& [column, value] : expected)
      EXPECT_EQ(r[QString::fromUtf8(column)].toString(), value) << column;
    EXPECT_EQ(rows[1]["Last Name"].toString(), u"佐藤");
    EXPECT_EQ(rows[2]["First Name"].toString(), u"Project team");
    EXPECT_TRUE(rows[2]["Notes"].toString().contains(u"Sato Shota <sato@test.example>"));
  }
}
