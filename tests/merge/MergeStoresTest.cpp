// Two stores written by the store writer holding the same people, changed between them, merged
// through OpenContacts and written as vCard 4.0; what strict vobject reads back is compared with
// what the entries hold.
#include "merge/ContactSources.h"

#include "contact/CsvWriter.h"
#include "contact/VCardWriter.h"
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

const char* kPng =
    "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+"
    "M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==";

// The older store: written 2024-01-01.
QJsonArray OlderItems() {
  const char* text = R"([
    {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
     "MobileTelephoneNumber": "+49 30 1234567", "BusinessAddressStreet": "1 Old Road",
     "BusinessAddressCity": "Berlin", "Body": "Met in Berlin.", "JobTitle": "Engineer",
     "WebPage": "https://old.example/"},
    {"FirstName": "John", "LastName": "Smith", "Email1Address": "john@one.example",
     "BusinessTelephoneNumber": "+1 555 100 2000", "CompanyName": "Contoso"},
    {"FirstName": "Bo", "LastName": "Ek", "Email1AddressType": "EX",
     "Email1Address": "/o=Contoso/ou=Exchange Administrative Group/cn=Recipients/cn=bo",
     "Email1OriginalDisplayName": "bo@contoso.example"},
    {"FirstName": "Carla", "LastName": "Diaz", "HomeTelephoneNumber": "0049 89 5550101"},
    {"messageClass": "IPM.DistList", "DLName": "Team",
     "members": [{"name": "Ann", "address": "ann@lee.example"},
                 {"name": "Bo", "address": "bo@contoso.example"}]},
    {"messageClass": "IPM.DistList", "DLName": "Crew",
     "members": [{"name": "Ann", "address": "ann@lee.example"}]}
  ])";
  return QJsonDocument::fromJson(text).array();
}

// The newer store: written 2025-06-01, the same people changed, and another John Smith.
QJsonArray NewerItems() {
  const QString text = QString::fromUtf8(R"([
    {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
     "Email2Address": "ann@home.example", "MobileTelephoneNumber": "030 1234567",
     "HomeTelephoneNumber": "+49 30 7654321", "BusinessAddressStreet": "9 New Street",
     "BusinessAddressCity": "Berlin", "Body": "Moved to the new office.",
     "JobTitle": "Lead Engineer", "picture": "PNG", "WebPage": "https://new.example/",
     "PersonalHomePage": "https://annhome.example/"},
    {"FirstName": "John", "LastName": "Smith", "Email1Address": "john@two.example",
     "BusinessTelephoneNumber": "+44 20 7946 0018", "CompanyName": "Fabrikam"},
    {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "BO@contoso.example"},
    {"FirstName": "Carla", "LastName": "Diaz", "HomeTelephoneNumber": "089 555 01 01",
     "Email1Address": "carla@diaz.example"},
    {"messageClass": "IPM.DistList", "DLName": "Team",
     "members": [{"name": "Bo", "address": "bo@contoso.example"},
                 {"name": "Ann", "address": "ann@lee.example"}]},
    {"messageClass": "IPM.DistList", "DLName": "Crew",
     "members": [{"name": "Ann", "address": "ann@lee.example"},
                 {"name": "Carla", "address": "carla@diaz.example"}]}
  ])")
                           .replace("\"PNG\"", QStringLiteral("\"%1\"").arg(QLatin1String(kPng)));
  return QJsonDocument::fromJson(text.toUtf8()).array();
}

// Writes a store of `items`, each modified at `when`, with lumivex-pstgen.
QString WriteStore(const QString& path, QJsonArray items, const QString& when) {
  for (auto&& item : items) {
    QJsonObject o = item.toObject();
    o["LastModificationTime"] = when;
    item = o;
  }
  const QJsonObject description{
      {"folders", QJsonArray{QJsonObject{{"path", "Contacts"}, {"items", items}}}}};
  QFile file(path + ".json");
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QJsonDocument(description).toJson());
  file.close();
  const ProgramOutput made =
      RunProgram(BinDir() + "/lumivex-pstgen", {path + ".json", "--out", path});
  EXPECT_EQ(made.status, 0) << made.err.toStdString();
  return path;
}

struct Stores {
  QString older, newer;
};

const Stores& TwoStores() {
  static const Stores stores = [] {
    const QString dir = ScratchDir("stores");
    return Stores{WriteStore(dir + "/older.pst", OlderItems(), "2024-01-01T10:00:00Z"),
                  WriteStore(dir + "/newer.pst", NewerItems(), "2025-06-01T10:00:00Z")};
  }();
  return stores;
}

// The contacts of `stores` as one vCard file's bytes (of that version), or with `csv` one CSV
// file's.
QByteArray Export(const QStringList& stores, bool merge,
                  contact::VCardVersion version = contact::VCardVersion::k40, bool csv = false) {
  merge::SourceOptions options;
  options.stores = stores;
  options.merge = merge;
  auto stream = merge::OpenContacts(options);
  QByteArray out = csv ? contact::CsvHeading() : QByteArray();
  contact::SourcedContact c;
  while (stream->Next(c))
    csv ? contact::AppendCsvRow(out, c.contact) : contact::AppendVCard(out, c.contact, version);
  EXPECT_TRUE(stream->Problems().empty());
  return out;
}

// Every card vobject reads in `bytes`, by its formatted name (several under one name).
QMultiMap<QString, QJsonObject> Cards(const QByteArray& bytes) {
  const QString path = ScratchDir("read") + "/cards.vcf";
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
  file.close();
  QMultiMap<QString, QJsonObject> cards;
  for (const QJsonValue& card : VObjectReader().ReadOrFail({path}).array())
    cards.insert(card["FN"][0]["value"].toString(), card.toObject());
  return cards;
}

QStringList Values(const QJsonObject& card, const char* name) {
  QStringList out;
  for (const QJsonValue& v : card[QLatin1String(name)].toArray()) {
    const QJsonValue value = v["value"];
    out << (value.isArray() ? Strings(value).join(u'|') : value.toString());
  }
  return out;
}

struct PersonCase {
  const char* name;
  int cards;
  QStringList emails;  // of the merged card, in order
  int phones;
  QStringList addresses;  // streets, in order
  QString note;
  QString title;
  bool photo;
};

// One person per row: what the two entries hold together, the newer one's values first.
TEST(MergeStores, SamePeopleInTwoStoresBecomeOneContactEachWithUnionAndNewestValues) {
  const std::vector<PersonCase> cases = {
      {"Ann Lee",
       1,
       {"ann@lee.example", "ann@home.example"},
       2,
       {"|9 New Street|Berlin", "|1 Old Road|Berlin"},
       "Moved to the new office.\n----------\nMet in Berlin.",
       "Lead Engineer",
       true},
      // Exchange entry and its SMTP twin: the newer's form of the address is kept.
      {"Bo Ek", 1, {"BO@contoso.example"}, 0, {}, "", "", false},
      // No e-mail in common, but the name and a telephone number.
      {"Carla Diaz", 1, {"carla@diaz.example"}, 1, {}, "", "", false},
  };
  const auto cards = Cards(Export({TwoStores().older, TwoStores().newer}, true));
  for (const PersonCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(cards.count(c.name), c.cards);
    const QJsonObject card = cards.value(c.name);
    EXPECT_EQ(Values(card, "EMAIL"), c.emails);
    EXPECT_EQ(Values(card, "TEL").size(), c.phones);
    QStringList streets;
    for (const QString& a : Values(card, "ADR")) streets << a.section(u'|', 1, 3);
    EXPECT_EQ(streets, c.addresses);
    EXPECT_EQ(Values(card, "NOTE").join(QString()), c.note);
    EXPECT_EQ(Values(card, "TITLE").join(QString()), c.title);
    EXPECT_EQ(card.contains("PHOTO"), c.photo);
  }
}

TEST(MergeStores, DifferentPeopleAndDifferentListsStayApart) {
  const auto cards = Cards(Export({TwoStores().older, TwoStores().newer}, true));
  EXPECT_EQ(cards.count("John Smith"), 2);  // same name, no e-mail or telephone in common
  EXPECT_EQ(cards.count("Crew"), 2);        // same name, other members
  EXPECT_EQ(cards.count("Team"), 1);        // same name and members, in another order
  EXPECT_EQ(cards.size(), 8);               // Ann, two John Smiths, Bo, Carla, Team, two Crews
}

// Ann's three different web pages (two in the newer entry, one in the older) are all kept: the
// third as a further URL in vCard, on a line of "Notes" in CSV (read by Python's csv module).
TEST(MergeStores, EveryDifferentWebPageIsKept) {
  const QStringList stores{TwoStores().older, TwoStores().newer};
  const QStringList pages = {"https://new.example/", "https://annhome.example/",
                             "https://old.example/"};
  for (const auto version : {contact::VCardVersion::k40, contact::VCardVersion::k30})
    EXPECT_EQ(Values(Cards(Export(stores, true, version)).value("Ann Lee"), "URL"), pages);
  const QString path = ScratchDir("csv") + "/merged.csv";
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(Export(stores, true, {}, true));
  file.close();
  QStringList csv;
  for (const QJsonValue& row :
       RowsByHeading(PythonCsvReader().ReadOrFail({path}).array()[0].toArray()))
    if (row["First Name"] == "Ann")
      csv << row["Web Page"].toString() << row["Personal Web Page"].toString()
          << row["Notes"].toString().section(u'\n', -1);
  EXPECT_EQ(csv, (QStringList{pages[0], pages[1], "Web page: " + pages[2]}));
}

TEST(MergeStores, NoMergeKeepsEveryEntry) {
  const auto cards = Cards(Export({TwoStores().older, TwoStores().newer}, false));
  EXPECT_EQ(cards.size(), OlderItems().size() + NewerItems().size());
}

TEST(MergeStores, StoresInAnotherOrderGiveTheSameBytes) {
  const QByteArray one = Export({TwoStores().older, TwoStores().newer}, true);
  EXPECT_EQ(Export({TwoStores().newer, TwoStores().older}, true), one);
  EXPECT_EQ(Export({TwoStores().older, TwoStores().newer}, true), one);
}

}  // namespace

namespace {

struct CliCase {
  QStringList args;  // after "export --format vcard4", before the stores
  int status;
  QString out;  // the start of what is printed
  int cards;    // in the file written; -1: no file
  int reportRows;
  // With the third store: the rule column of Carla Diaz's report rows, newest entry first.
  QStringList carlaRules = {};
};

// The command line over the two stores: merged by default, every entry with --no-merge, counts
// and nothing written with --dry-run, a row per merged entry in the report.
TEST(MergeStores, CommandLineMergesCountsAndReports) {
  const QString dir = ScratchDir("cli");
  const std::vector<CliCase> cases = {
      {{"--out", dir + "/merged.vcf"}, 0, dir + "/merged.vcf\n8 Contacts Saved", 8, -1},
      {{"--no-merge", "--out", dir + "/every.vcf"},
       0,
       dir + "/every.vcf\n12 Contacts Saved",
       12,
       -1},
      // Ann, Bo, Carla and Team: two entries each.
      {{"--dry-run", "--merge-report", dir + "/report.csv"},
       0,
       "12 entries from 2 stores; 8 contacts (3 of them distribution lists) after merging (8 "
       "entries merged into 4 contacts); nothing was written",
       -1,
       8},
      {{"--no-merge", "--merge-report", dir + "/r.csv", "--out", dir + "/x.vcf"}, 2, "", -1, -1},
      // A third Carla sharing only the newer one's e-mail address: each row names its own join.
      {{"--dry-run", "--merge-report", dir + "/report.csv"},
       0,
       "13 entries from 3 stores",
       -1,
       9,
       {"same e-mail address", "same e-mail address", "same name and phone number"}},
  };
  const QString third =
      WriteStore(dir + "/third.pst",
                 QJsonDocument::fromJson(R"([{"FirstName": "Carla", "LastName": "Diaz",
                                              "Email1Address": "carla@diaz.example"}])")
                     .array(),
                 "2025-09-01T10:00:00Z");
  for (const CliCase& c : cases) {
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    QStringList stores{TwoStores().older, TwoStores().newer};
    if (!c.carlaRules.isEmpty()) stores << third;
    const ProgramOutput run = RunCli(QStringList{"export", "--format", "vcard4"} + c.args + stores);
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    EXPECT_TRUE(c.out.isEmpty() || run.out.startsWith(c.out)) << run.out.toStdString();
    const qsizetype out = c.args.indexOf("--out");
    if (c.cards >= 0) {
      EXPECT_EQ(Cards(FileBytes(c.args[out + 1])).size(), c.cards);
    }
    if (c.reportRows >= 0) {
      const QString report = QString::fromUtf8(FileBytes(dir + "/report.csv"));
      EXPECT_EQ(report.count(u'\n') - 1, c.reportRows) << report.toStdString();
      if (!c.carlaRules.isEmpty()) {
        QStringList rules;  // contact no., store, folder, position, modified, rule, name
        for (const QString& row : report.split(QStringLiteral("\r\n")))
          if (row.endsWith(u",Carla Diaz")) rules << row.section(u',', 5, 5);
        EXPECT_EQ(rules, c.carlaRules) << report.toStdString();
      }
    }
  }
  EXPECT_EQ(QDir(dir).entryList(QDir::Files),
            (QStringList{"every.vcf", "merged.vcf", "report.csv", "third.pst", "third.pst.json"}));
}

}  // namespace
