// Two stores written by the store writer holding the same people, changed between them, merged
// through OpenContacts and written as vCard 4.0; what strict vobject reads back is compared with
// what the entries hold.
#include "merge/ContactSources.h"

#include "contact/CsvWriter.h"
#include "contact/VCardWriter.h"
#include "convert/Utf8Export.h"
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <array>
#include <optional>

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
     "CompanyName": "Oldco", "Department": "Sales",
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
     "Email2Address": "ann@home.example", "MobileTelephoneNumber": "+49 (0)30 123 4567",
     "HomeTelephoneNumber": "+49 30 7654321", "BusinessAddressStreet": "9 New Street",
     "BusinessAddressCity": "Berlin", "Body": "Moved to the new office.",
     "JobTitle": "Lead Engineer", "CompanyName": "Newco", "picture": "PNG",
     "WebPage": "https://new.example/",
     "PersonalHomePage": "https://annhome.example/"},
    {"FirstName": "John", "LastName": "Smith", "Email1Address": "john@two.example",
     "BusinessTelephoneNumber": "+44 20 7946 0018", "CompanyName": "Fabrikam"},
    {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "BO@contoso.example"},
    {"FirstName": "Carla", "LastName": "Diaz", "HomeTelephoneNumber": "+49 89 555 01 01",
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
QString WriteStore(const QString& path, QJsonArray items, const QString& when,
                   const QString& storeKey = {}) {
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
  QStringList args{path + ".json", "--out", path};
  if (!storeKey.isEmpty()) args << "--store-key" << storeKey;
  const ProgramOutput made = RunProgram(BinDir() + "/lumivex-pstgen", args);
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
  merge::StoreSelection options;
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

// The contacts of `stream` as vCard 4.0; into `notCarried`, what of each entry did not reach its
// contact ("Name: what; what").
QByteArray WriteAll(contact::ContactStream& stream, QStringList& notCarried) {
  QByteArray out;
  contact::SourcedContact sourced;
  while (stream.Next(sourced)) {
    contact::AppendVCard(out, sourced.contact, contact::VCardVersion::k40);
    for (const contact::Origin& o : sourced.origins)
      if (!o.notCarried.isEmpty())
        notCarried << o.name + ": " + o.notCarried.join(QStringLiteral("; "));
  }
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
       "Lead Engineer|Engineer",
       true},
      // Exchange entry and its SMTP twin: the newer's form of the address is kept.
      {"Bo Ek", 1, {"BO@contoso.example"}, 0, {}, "", "", false},
      // No e-mail in common, but a telephone number.
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
    EXPECT_EQ(Values(card, "TITLE").join(u'|'), c.title);
    EXPECT_EQ(card.contains("PHOTO"), c.photo);
  }
}

// One case of who is who: stores (each a list of entries, all changed at the store's own time),
// and the cards expected, each "FN: e-mail addresses" (sorted), and the suggestions.
struct IdentityCase {
  const char* name;
  std::vector<const char*> stores;  // JSON arrays of items
  QStringList cards;
  int suggestions = 0;
  bool accept = false;
  QString storeKey = {};  // the same record key for every store: copies of one store
  // Where given: each card's NOTE, "FN: note" (sorted; a list's note names its members), and
  // each merged entry's "not carried over" column of the merge report, "name: column".
  std::optional<QStringList> notes = {};
  std::optional<QStringList> notCarried = {};
};

// An entry's JSON with the fields as they are written; the helpers below keep the table short.
const std::vector<IdentityCase>& IdentityCases() {
  static const std::vector<IdentityCase> cases = {
      {"spouses sharing an address, the husband's work card chained through his own",
       {R"([{"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
             "Email2Address": "family@lee.example", "Birthday": "1980-01-02"},
            {"FirstName": "Bob", "LastName": "Lee", "Email1Address": "family@lee.example",
             "Email2Address": "bob@work.example"}])",
        R"([{"FirstName": "Bob", "LastName": "Lee", "Email1Address": "bob@work.example",
             "CompanyName": "Contoso", "Birthday": "1978-03-04"},
            {"Email1Address": "family@lee.example"}])"},
       {"Ann Lee: ann@lee.example family@lee.example",
        "Bob Lee: bob@work.example family@lee.example", "family@lee.example: family@lee.example"}},
      {"a role address on two cards",
       {R"([{"FirstName": "Sam", "LastName": "Reed", "Email1Address": "sales@co.example",
             "Email2Address": "sam@co.example"}])",
        R"([{"FirstName": "Tia", "LastName": "Vos", "Email1Address": "sales@co.example",
             "Email2Address": "tia@co.example"}])"},
       {"Sam Reed: sales@co.example sam@co.example", "Tia Vos: sales@co.example tia@co.example"}},
      {"father and son with one name and home phone",
       {R"([{"FirstName": "John", "LastName": "Smith", "HomeTelephoneNumber": "+1 212 555 0199",
             "Birthday": "1950-03-04", "Email1Address": "john@smith.example"}])",
        R"([{"FirstName": "John", "LastName": "Smith", "HomeTelephoneNumber": "+1 212 555 0199",
             "Birthday": "1980-07-08", "Email1Address": "jr@smith.example"},
            {"FirstName": "John", "LastName": "Smith", "Suffix": "Jr.",
             "HomeTelephoneNumber": "+1 212 555 0199"}])"},
       {"John Smith Jr.: ", "John Smith: john@smith.example", "John Smith: jr@smith.example"}},
      {"two namesakes at one company: a suggestion",
       {R"([{"FirstName": "Mary", "LastName": "Jones", "CompanyName": "Contoso",
             "Email1Address": "mary.j@contoso.example",
             "BusinessTelephoneNumber": "+1 212 555 0101"}])",
        R"([{"FirstName": "Mary", "LastName": "Jones", "CompanyName": "Contoso",
             "Email1Address": "m.jones@contoso.example",
             "BusinessTelephoneNumber": "+1 212 555 0102"}])"},
       {"Mary Jones: m.jones@contoso.example", "Mary Jones: mary.j@contoso.example"},
       1},
      {"extensions and country codes",
       {R"([{"FirstName": "Pat", "LastName": "Kim", "BusinessTelephoneNumber": "+1 212 555 0100 ext. 12"},
            {"FirstName": "Ali", "LastName": "Khan", "MobileTelephoneNumber": "+44 20 1234 5678"},
            {"FirstName": "Eve", "LastName": "Ng", "MobileTelephoneNumber": "+49 30 1234567",
             "Email1Address": "eve@ng.example"}])",
        R"([{"FirstName": "Pat", "LastName": "Kim", "BusinessTelephoneNumber": "+1 212 555 0100 ext. 47"},
            {"FirstName": "Ali", "LastName": "Khan", "MobileTelephoneNumber": "+92 20 1234 5678"},
            {"FirstName": "Eve", "LastName": "Ng", "MobileTelephoneNumber": "0049 30 123 4567"}])"},
       {"Ali Khan: ", "Ali Khan: ", "Eve Ng: eve@ng.example", "Pat Kim: ", "Pat Kim: "}},
      {"diverged copies of one store: a new entry in each under the same node id",
       {R"([{"FirstName": "Gus", "LastName": "Hale", "CreationTime": "2023-01-01T09:00:00Z",
             "Email1Address": "gus@hale.example"},
            {"FirstName": "Ida", "LastName": "Moe", "CreationTime": "2025-02-01T09:00:00Z"}])",
        R"([{"FirstName": "Gus", "LastName": "Hale", "CreationTime": "2023-01-01T09:00:00Z",
             "Email1Address": "gus.hale@new.example"},
            {"FirstName": "Jon", "LastName": "Roe", "CreationTime": "2025-03-01T09:00:00Z"}])"},
       {"Gus Hale: gus.hale@new.example", "Ida Moe: ", "Jon Roe: "},
       0,
       false,
       "one store"},
      {"namesakes whose second middle initials differ, one number between them",
       {R"([{"FirstName": "Wei", "MiddleName": "K. J.", "LastName": "Zhao",
             "MobileTelephoneNumber": "+86 10 157 9939"}])",
        R"([{"FirstName": "Wei", "MiddleName": "K. Y.", "LastName": "Zhao",
             "HomeTelephoneNumber": "+86 10 157 9939"}])"},
       {"Wei K. J. Zhao: ", "Wei K. Y. Zhao: "}},
      {"a maiden name: a suggestion",
       {R"([{"FirstName": "Ann", "LastName": "Park", "Email1Address": "ann.p@mail.example"}])",
        R"([{"FirstName": "Ann", "LastName": "Stone", "Email1Address": "ann.p@mail.example"}])"},
       {"Ann Park: ann.p@mail.example", "Ann Stone: ann.p@mail.example"},
       1},
      {"a maiden name, the suggestion accepted",
       {R"([{"FirstName": "Ann", "LastName": "Park", "Email1Address": "ann.p@mail.example"}])",
        R"([{"FirstName": "Ann", "LastName": "Stone", "Email1Address": "ann.p@mail.example"}])"},
       {"Ann Stone: ann.p@mail.example"},
       1,
       true},
      {"\"Smith, John\", accents and case",
       {R"([{"FullName": "Smith, John", "Email1Address": "js@smith.example"},
            {"FirstName": "Zoé", "LastName": "Müller", "MobileTelephoneNumber": "+49 89 555 0101"}])",
        R"([{"FirstName": "John", "LastName": "Smith", "Email1Address": "JS@smith.example",
             "Email2Address": "john@home.example"},
            {"FirstName": "ZOE", "LastName": "MULLER", "MobileTelephoneNumber": "+49 (0)89 5550101",
             "Email1Address": "zoe@m.example"}])"},
       {"John Smith: JS@smith.example john@home.example", "ZOE MULLER: zoe@m.example"}},
      {"entries alike in everything with nothing else to join them, and two that differ",
       {R"([{"FirstName": "Ida", "LastName": "Berg", "Body": "Met at the fair."},
            {"FirstName": "Ola", "LastName": "Berg", "Body": "Met at the fair."}])",
        R"([{"FirstName": "Ida", "LastName": "Berg", "Body": "Met at the fair."},
            {"FirstName": "Ola", "LastName": "Berg", "Body": "Met at the fair!"}])"},
       {"Ida Berg: ", "Ola Berg: ", "Ola Berg: "}},
      {"name-only, phone-only and nameless entries",
       {R"([{"FirstName": "Rita", "LastName": "Ora", "Body": "Met once."},
            {"FirstName": "Tom", "LastName": "Hill", "MobileTelephoneNumber": "+1 212 555 0155"},
            {"Email1Address": "nobody@x.example", "Body": "Same."}])",
        R"([{"FirstName": "Rita", "LastName": "Ora"},
            {"MobileTelephoneNumber": "+1 212 555 0155", "Email1Address": "tom@hill.example"},
            {"Email1Address": "nobody@x.example", "Body": "Same."}])"},
       {"Rita Ora: ", "Rita Ora: ", "Tom Hill: tom@hill.example",
        "nobody@x.example: nobody@x.example"}},
      {"a partly written name beside two people of one home: the number only one holds decides",
       {R"([{"FirstName": "John", "LastName": "Smith", "Email1Address": "john@smith.example",
             "HomeTelephoneNumber": "+44 20 7946 0111", "MobileTelephoneNumber": "+44 7700 900111"},
            {"FirstName": "Jane", "LastName": "Smith", "Email1Address": "jane@smith.example",
             "HomeTelephoneNumber": "+44 20 7946 0111", "MobileTelephoneNumber": "+44 7700 900211"}])",
        R"([{"FirstName": "J.", "LastName": "Smith", "HomeTelephoneNumber": "+44 20 7946 0111",
             "MobileTelephoneNumber": "+44 7700 900211"}])"},
       {"J. Smith: jane@smith.example", "John Smith: john@smith.example"}},
      {"a partly written name sharing only the home number of two people: neither, suggested "
       "with both",
       {R"([{"FirstName": "J.", "LastName": "Smith", "HomeTelephoneNumber": "+44 20 7946 0111"}])",
        R"([{"FirstName": "John", "LastName": "Smith", "Email1Address": "john@smith.example",
             "HomeTelephoneNumber": "+44 20 7946 0111"},
            {"FirstName": "Jane", "LastName": "Smith", "Email1Address": "jane@smith.example",
             "HomeTelephoneNumber": "+44 20 7946 0111"}])"},
       {"J. Smith: ", "Jane Smith: jane@smith.example", "John Smith: john@smith.example"},
       2},  // suggested with each
      {"a partly written name sharing a number of each of two people, suggestions accepted: "
       "neither, suggested with both",
       {R"([{"FirstName": "J.", "LastName": "Smith", "HomeTelephoneNumber": "+44 20 7946 0111"}])",
        R"([{"FirstName": "John", "LastName": "Smith", "HomeTelephoneNumber": "+44 20 7946 0111"},
            {"FirstName": "Jane", "LastName": "Smith", "HomeTelephoneNumber": "+44 20 7946 0111"}])"},
       {"J. Smith: ", "Jane Smith: ", "John Smith: "},
       2,
       true},
      {"a partly written name with the address of one person and the mobile of another: neither",
       {R"([{"FirstName": "John", "LastName": "Smith", "Email1Address": "john@smith.example",
             "MobileTelephoneNumber": "+44 7700 900111"},
            {"FirstName": "Jane", "LastName": "Smith", "Email1Address": "family@smith.example",
             "MobileTelephoneNumber": "+44 7700 900222"}])",
        R"([{"FirstName": "J.", "LastName": "Smith", "Email1Address": "family@smith.example",
             "MobileTelephoneNumber": "+44 7700 900111"}])"},
       {"J. Smith: family@smith.example", "Jane Smith: family@smith.example",
        "John Smith: john@smith.example"},
       2},
      {"a partly written name with the home number of one person and the mobile of another",
       {R"([{"FirstName": "John", "LastName": "Smith", "MobileTelephoneNumber": "+44 7700 900111"},
            {"FirstName": "Jane", "LastName": "Smith", "HomeTelephoneNumber": "+44 20 7946 0222"}])",
        R"([{"FirstName": "J.", "LastName": "Smith", "HomeTelephoneNumber": "+44 20 7946 0222",
             "MobileTelephoneNumber": "+44 7700 900111"}])"},
       {"J. Smith: ", "Jane Smith: ", "John Smith: "},
       2},
      {"suggestions accepted, but never two birthdays in one card",
       {R"([{"FirstName": "John", "LastName": "Smith", "CompanyName": "Acme",
             "Birthday": "1970-03-01", "Email1Address": "a@acme.example"},
            {"FirstName": "John", "LastName": "Smith", "CompanyName": "Acme",
             "Email1Address": "b@acme.example"},
            {"FirstName": "John", "LastName": "Smith", "CompanyName": "Acme",
             "Birthday": "1985-07-01", "Email1Address": "c@acme.example"}])"},
       {"John Smith: a@acme.example b@acme.example", "John Smith: c@acme.example"},
       2,
       true},
      {"an address written after a name",
       {R"([{"FirstName": "Per", "LastName": "Lund", "Email1Address": "Per Lund <per@lund.example>"}])",
        R"([{"FirstName": "Per", "LastName": "Lund", "Email1Address": "per@lund.example"}])"},
       {"Per Lund: per@lund.example"}},
      {"lists whose members merged, and one naming a person of one store",
       {R"([{"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example"},
            {"messageClass": "IPM.DistList", "DLName": "Team",
             "members": [{"name": "Ann", "address": "ann@lee.example"}]},
            {"messageClass": "IPM.DistList", "DLName": "Crew",
             "members": [{"name": "Ann", "address": "ann@lee.example"}]}])",
        R"([{"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
             "Email2Address": "ann@home.example"},
            {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "bo@x.example",
             "Categories": ["Golf; Tennis"]},
            {"messageClass": "IPM.DistList", "DLName": "Team",
             "members": [{"name": "Ann Lee", "address": "ann@home.example"}]},
            {"messageClass": "IPM.DistList", "DLName": "Crew",
             "members": [{"name": "Bo", "address": "bo@x.example"}]}])"},
       {"Ann Lee: ann@home.example ann@lee.example", "Bo Ek: bo@x.example",
        "Crew: ", "Crew: ", "Team: "}},
      {"copies of one list: the newer copy's members stand, the older one's others are told",
       {R"([{"FirstName": "Cy", "LastName": "Do", "Email1Address": "cy@x.example",
             "CreationTime": "2020-02-01T00:00:00Z", "label": "cy"},
            {"FirstName": "Di", "LastName": "Eu", "Email1Address": "di@x.example",
             "CreationTime": "2020-02-01T00:01:00Z", "label": "di"},
            {"messageClass": "IPM.DistList", "DLName": "Board",
             "CreationTime": "2020-02-02T02:02:00Z",
             "members": [{"contact": "cy", "email": 1}, {"contact": "di", "email": 1},
                         {"name": "Fay", "address": "fay@x.example"}]}])",
        R"([{"FirstName": "Cy", "LastName": "Do", "Email1Address": "cy@x.example",
             "CreationTime": "2020-02-01T00:00:00Z", "label": "cy"},
            {"FirstName": "Di", "LastName": "Eu", "Email1Address": "di@x.example",
             "CreationTime": "2020-02-01T00:01:00Z", "label": "di"},
            {"messageClass": "IPM.DistList", "DLName": "Board",
             "CreationTime": "2020-02-02T02:02:00Z",
             "members": [{"contact": "cy", "email": 1}]}])"},
       {"Board: ", "Cy Do: cy@x.example", "Di Eu: di@x.example"},
       0,
       false,
       "one store",
       QStringList{"Board: Cy Do (cy@x.example) <cy@x.example>"},
       QStringList{"Board: Member: Di Eu (di@x.example) <di@x.example> (older copy of the same "
                   "entry); Member: Fay <fay@x.example> (older copy of the same entry)"}},
      {"an older note that is only a part of the newer one is kept after it; the same one once",
       {R"([{"FirstName": "Ole", "LastName": "Berg", "Email1Address": "ole@x.example",
             "Body": "flat 1"},
            {"FirstName": "Rune", "LastName": "Dahl", "Email1Address": "rune@x.example",
             "Body": "nuts"},
            {"FirstName": "Ida", "LastName": "Moe", "Email1Address": "ida@x.example",
             "Body": "Met at the fair."}])",
        R"([{"FirstName": "Ole", "LastName": "Berg", "Email1Address": "ole@x.example",
             "Body": "Door code 1234, flat 12"},
            {"FirstName": "Rune", "LastName": "Dahl", "Email1Address": "rune@x.example",
             "Body": "Allergic to nuts"},
            {"FirstName": "Ida", "LastName": "Moe", "Email1Address": "ida@x.example",
             "Body": "Met at the fair.", "MobileTelephoneNumber": "+47 912 34 567"}])"},
       {"Ida Moe: ida@x.example", "Ole Berg: ole@x.example", "Rune Dahl: rune@x.example"},
       0,
       false,
       {},
       QStringList{"Ida Moe: Met at the fair.",
                   "Ole Berg: Door code 1234, flat 12\n----------\nflat 1",
                   "Rune Dahl: Allergic to nuts\n----------\nnuts"}},
      {"three entries: the oldest note, put in already from the middle entry, is not repeated",
       {R"([{"FirstName": "Gus", "LastName": "Hale", "Email1Address": "gus@x.example",
             "Body": "Old note", "Department": "Sales"}])",
        R"([{"FirstName": "Gus", "LastName": "Hale", "Email1Address": "gus@x.example",
             "Body": "Old note", "Department": "Sales"}])",
        R"([{"FirstName": "Gus", "LastName": "Hale", "Email1Address": "gus@x.example",
             "Body": "New note", "Department": "Support"}])"},
       {"Gus Hale: gus@x.example"},
       0,
       false,
       {},
       QStringList{"Gus Hale: New note\n----------\nOld note\nEarlier: Department: Sales"}},
      {"the newest name whole: an older title and middle name go into the notes",
       {R"([{"Title": "Dr.", "FirstName": "Anna", "MiddleName": "Maria", "LastName": "Berg",
             "Email1Address": "anna@x.example"}])",
        R"([{"FirstName": "Anna", "LastName": "Berg", "Email1Address": "anna@x.example"}])"},
       {"Anna Berg: anna@x.example"},
       0,
       false,
       {},
       QStringList{"Anna Berg: Earlier: Title: Dr.\nEarlier: Middle name: Maria"}},
      {"a wife and a husband, told apart by their titles, sharing a home number",
       {R"([{"Title": "Frau", "FirstName": "M.", "LastName": "Müller",
             "HomeTelephoneNumber": "+49 89 5550 1234", "Email1Address": "m.mueller@web.example"}])",
        R"([{"Title": "Herr", "FirstName": "Michael", "LastName": "Müller",
             "HomeTelephoneNumber": "+49 89 5550 1234",
             "Email1Address": "michael@mueller.example"}])"},
       {"Frau M. Müller: m.mueller@web.example", "Herr Michael Müller: michael@mueller.example"}},
      {"titles only, a man's and a woman's, one home number: a man's joins the man",
       {R"([{"Title": "Mrs.", "LastName": "Ford", "HomeTelephoneNumber": "+1 212 555 0177"},
            {"Title": "MR", "LastName": "Ford", "HomeTelephoneNumber": "+1 212 555 0177"}])",
        R"([{"Title": "Mr.", "FirstName": "Tom", "LastName": "Ford",
             "HomeTelephoneNumber": "+1 212 555 0177"}])"},
       {"Mr. Tom Ford: ", "Mrs. Ford: "}},
      {"sisters whose names differ by a Thai or a Devanagari vowel sign, one home number",
       {R"([{"FirstName": "ติ๊ก", "LastName": "ศรีสุข", "HomeTelephoneNumber": "+66 2 555 0123",
             "Email1Address": "tik@x.example"},
            {"FirstName": "मेघा", "LastName": "शर्मा", "HomeTelephoneNumber": "+91 11 5555 0123",
             "Email1Address": "megha@x.example"}])",
        R"([{"FirstName": "ตุ๊ก", "LastName": "ศรีสุข", "HomeTelephoneNumber": "+66 2 555 0123",
             "Email1Address": "tuk@x.example"},
            {"FirstName": "मघा", "LastName": "शर्मा", "HomeTelephoneNumber": "+91 11 5555 0123",
             "Email1Address": "magha@x.example"}])"},
       {"मघा शर्मा: magha@x.example", "मेघा शर्मा: megha@x.example", "ติ๊ก ศรีสุข: tik@x.example",
        "ตุ๊ก ศรีสุข: tuk@x.example"}},
      {"namesakes, one with an Italian landline, the other with the mobile of the same digits",
       {R"([{"FirstName": "Marco", "LastName": "Rossi",
             "BusinessTelephoneNumber": "+39 0331 234567", "Email1Address": "mr@ufficio.example"}])",
        R"([{"FirstName": "Marco", "LastName": "Rossi", "MobileTelephoneNumber": "+39 331 234567",
             "Email1Address": "marco@rossi.example"}])"},
       {"Marco Rossi: marco@rossi.example", "Marco Rossi: mr@ufficio.example"},
       0,
       false,
       {},
       {},
       QStringList{}},
      {"a couple's entry beside each of them, one home number: three cards",
       {R"([{"FullName": "John & Jane Smith", "HomeTelephoneNumber": "+1 212 555 0199"}])",
        R"([{"FirstName": "John", "LastName": "Smith", "HomeTelephoneNumber": "+1 212 555 0199"},
            {"FirstName": "Jane", "LastName": "Smith", "HomeTelephoneNumber": "+1 212 555 0199"}])"},
       {"Jane Smith: ", "John & Jane Smith: ", "John Smith: "}},
      {"a couple written two ways: one household",
       {R"([{"FullName": "Smith, Hans + Eva", "HomeTelephoneNumber": "+49 30 5550 1999"}])",
        R"([{"FirstName": "Hans und Eva", "LastName": "Smith",
             "HomeTelephoneNumber": "+49 30 5550 1999"}])"},
       {"Hans und Eva Smith: "}},
  };
  return cases;
}

// Each case of the table on stores written by the store writer, merged, written as vCard 4.0 and
// read back by vobject: the cards expected, and the suggestions (where a case gives them, the
// cards' notes and what the merge report says was not carried over). Also where the merge keeps
// almost nothing in memory (the keys in runs of three in a file, every entry in the file).
// The stores of each case of the table, written once.
const std::vector<QStringList>& IdentityCaseStores() {
  static const std::vector<QStringList> all = [] {
    const QString dir = ScratchDir("identity");
    std::vector<QStringList> written;
    int n = 0;
    for (const IdentityCase& c : IdentityCases()) {
      QStringList stores;
      for (size_t k = 0; k < c.stores.size(); ++k) {
        const QJsonArray items = QJsonDocument::fromJson(c.stores[k]).array();
        EXPECT_FALSE(items.isEmpty()) << c.name;
        stores << WriteStore(QString("%1/case%2-%3.pst").arg(dir).arg(++n).arg(k), items,
                             QString("202%1-06-01T10:00:00Z").arg(k + 3), c.storeKey);
      }
      written.push_back(stores);
    }
    return written;
  }();
  return all;
}

TEST(MergeStores, EntriesAreOnePersonOnlyOnEvidenceAndAgreeingNames) {
  for (size_t i = 0; i < IdentityCases().size(); ++i) {
    const IdentityCase& c = IdentityCases()[i];
    SCOPED_TRACE(c.name);
    const QStringList& stores = IdentityCaseStores()[i];
    for (const merge::MergeLimits limits : {merge::MergeLimits{}, merge::MergeLimits{3, 0}}) {
      SCOPED_TRACE(limits.keysInMemory);
      merge::StoreSelection options;
      options.stores = stores;
      auto stream = merge::OpenContacts(merge::FindSources(options), true, limits, c.accept);
      QStringList notCarried;
      const QByteArray out = WriteAll(*stream, notCarried);
      QStringList cards;
      QSet<QString> uids;  // each card its own: a phone takes two cards of one UID for one
      const auto read = Cards(out);
      for (auto card = read.cbegin(); card != read.cend(); ++card) {
        QStringList emails = Values(card.value(), "EMAIL");
        emails.sort();
        cards << card.key() + ": " + emails.join(u' ');
        uids.insert(Values(card.value(), "UID").join(u'|'));
      }
      cards.sort();
      EXPECT_EQ(cards, c.cards);
      if (c.notes) {
        QStringList notes;
        for (auto card = read.cbegin(); card != read.cend(); ++card)
          for (const QString& note : Values(card.value(), "NOTE"))
            notes << card.key() + ": " + note;
        notes.sort();
        EXPECT_EQ(notes, *c.notes);
      }
      if (c.notCarried) {
        EXPECT_EQ(notCarried, *c.notCarried);
      }
      EXPECT_EQ(uids.size(), cards.size());
      const auto* merged = dynamic_cast<const merge::MergedContacts*>(stream.get());
      ASSERT_NE(merged, nullptr);
      EXPECT_EQ(int(merged->Suggestions().size()), c.suggestions);
    }
  }
}

// A merged stream that lets its consumer write entries ahead of their turn, or not; counts the
// contacts given as written.
class AheadOrNot : public contact::ContactStream {
 public:
  AheadOrNot(contact::ContactStream& inner, bool ahead) : inner_(inner), ahead_(ahead) {}
  int Total() const override { return inner_.Total(); }
  const std::vector<contact::EntryProblem>& Problems() const override { return inner_.Problems(); }
  bool WriteAhead(contact::AheadWriter* writer) override {
    return ahead_ && inner_.WriteAhead(writer);
  }
  bool Next(contact::SourcedContact& out) override {
    const bool more = inner_.Next(out);
    written += more && !out.written.isEmpty();
    if (more) rules << out.mergeRule;
    return more;
  }
  int written = 0;
  QStringList rules;  // each contact's, as the merge report tells it

 private:
  contact::ContactStream& inner_;
  bool ahead_;
};

// Entries of the last store that join nobody are written as they are read, and those joined
// later read again from their store; suggestions not asked for are not looked for: the file is
// byte for byte the one written from the entries kept whole, with every suggestion found, in
// every form, with every case of the table (lists whose members merged, copies of one store,
// suggestions accepted), also with every entry kept in the merge's file.
TEST(MergeStores, WritingEntriesAheadChangesNoByte) {
  class Quiet : public Utf8ExportObserver {
    void Progress(int, int, const QString&) override {}
  } quiet;
  const QString dir = ScratchDir("ahead");
  struct Case {
    const char* name;
    QStringList stores;
    bool accept;
  };
  std::vector<Case> cases;
  for (size_t i = 0; i < IdentityCases().size(); ++i)
    cases.push_back({IdentityCases()[i].name, IdentityCaseStores()[i], IdentityCases()[i].accept});
  // Only the last store's entries are written ahead: one store whose later entries join earlier
  // ones (read again), beside a list naming a person joined and one written ahead; two entries
  // alike in everything, and a third alike in all but one letter: with a name alone (nothing
  // else joins them), and with an address (joined by it, and the two alike by their likeness).
  const char* one = R"([
    {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example"},
    {"FirstName": "Ida", "LastName": "Berg", "Body": "Met at the fair."},
    {"FirstName": "Ivo", "LastName": "Falk", "Email1Address": "ivo@falk.example", "Body": "Tall."},
    {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "bo@ek.example"},
    {"FirstName": "Ida", "LastName": "Berg", "Body": "Met at the fair!"},
    {"FirstName": "Ivo", "LastName": "Falk", "Email1Address": "ivo@falk.example", "Body": "Tall!"},
    {"FirstName": "Ida", "LastName": "Berg", "Body": "Met at the fair."},
    {"FirstName": "Ivo", "LastName": "Falk", "Email1Address": "ivo@falk.example", "Body": "Tall."},
    {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
     "MobileTelephoneNumber": "+46 70 123 4567", "CompanyName": "Lee AB"},
    {"messageClass": "IPM.DistList", "DLName": "Team",
     "members": [{"name": "Ann", "address": "ann@lee.example"},
                 {"name": "Bo", "address": "bo@ek.example"}]}])";
  cases.push_back(
      {"one store joining its own entries",
       {WriteStore(dir + "/one.pst", QJsonDocument::fromJson(one).array(), "2025-01-01T10:00:00Z")},
       false});
  int written = 0, files = 0, semicolons = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const merge::MergeLimits limits : {merge::MergeLimits{}, merge::MergeLimits{3, 0}}) {
      for (const Utf8Format format : {Utf8Format::kVCard4, Utf8Format::kVCard3, Utf8Format::kCsv}) {
        QByteArray bytes[2];
        std::array<int, 5> counts[2];
        QStringList rules[2];
        for (const bool ahead : {false, true}) {
          merge::StoreSelection options;
          options.stores = c.stores;
          auto stream = merge::OpenContacts(merge::FindSources(options), true, limits, c.accept);
          // Written ahead, the suggestions left too (as an export without a report leaves them).
          if (ahead) dynamic_cast<merge::MergedContacts&>(*stream).LeaveSuggestions();
          AheadOrNot given(*stream, ahead);
          Utf8ExportOptions how;
          how.format = format;
          how.target = QString("%1/%2.out").arg(dir).arg(++files);
          how.folderAsCategory = format == Utf8Format::kCsv;
          const Utf8ExportResult result = RunUtf8Export(given, how, quiet);
          QFile file(result.output);
          EXPECT_TRUE(file.open(QIODevice::ReadOnly));
          bytes[ahead] = file.readAll();
          counts[ahead] = {result.contacts, result.groups, result.semicolons, result.mergedContacts,
                           result.mergedEntries};
          rules[ahead] = given.rules;
          if (ahead) written += given.written;
        }
        EXPECT_FALSE(bytes[0].isEmpty());
        EXPECT_EQ(bytes[1].toStdString(), bytes[0].toStdString()) << int(format);
        EXPECT_EQ(counts[1], counts[0]);
        EXPECT_EQ(rules[1], rules[0]);
        semicolons += counts[1][2];
      }
    }
  }
  EXPECT_GT(written, 0);  // entries were written ahead at all
  EXPECT_GT(semicolons, 0);
}

// The new contacts that two copies of one store each got after they parted (one entry id, made
// at different times) are two people under two UIDs, merged or not (an address book keeps one card
// of each UID); the copy named first keeps the UIDs it has exported alone, so that naming the other
// after it adds cards and changes none. The entry both copies had keeps its one UID.
TEST(MergeStores, NewEntriesOfPartedCopiesHaveUidsOfTheirOwn) {
  const QString dir = ScratchDir("parted-uids");
  QStringList stores;
  for (const char* added : {R"({"FirstName": "Ida", "LastName": "Moe"})",
                            R"({"FirstName": "Jon", "LastName": "Roe"})"}) {
    QJsonObject person = QJsonDocument::fromJson(added).object();
    person["CreationTime"] = QString("2025-0%1-01T09:00:00Z").arg(stores.size() + 2);
    const QJsonArray items{
        QJsonObject{
            {"FirstName", "Gus"}, {"LastName", "Hale"}, {"CreationTime", "2023-01-01T09:00:00Z"}},
        person};
    stores << WriteStore(QString("%1/copy%2.pst").arg(dir).arg(stores.size()), items,
                         "2025-06-01T10:00:00Z", "home");
  }
  for (const bool merge : {false, true}) {
    SCOPED_TRACE(merge ? "merged" : "unmerged");
    QMultiMap<QString, QString> alone, both;  // UIDs by name
    for (auto [from, uids] : {std::pair{stores.mid(0, 1), &alone}, std::pair{stores, &both}}) {
      const auto cards = Cards(Export(from, merge));
      for (auto card = cards.cbegin(); card != cards.cend(); ++card)
        uids->insert(card.key(), Values(card.value(), "UID").join(u'|'));
    }
    EXPECT_EQ(both.keys(), merge ? QStringList({"Gus Hale", "Ida Moe", "Jon Roe"})
                                 : QStringList({"Gus Hale", "Gus Hale", "Ida Moe", "Jon Roe"}));
    EXPECT_EQ(QSet<QString>(both.cbegin(), both.cend()).size(), 3);
    EXPECT_EQ(both.value("Ida Moe"), alone.value("Ida Moe"));
    EXPECT_EQ(both.value("Gus Hale"), alone.value("Gus Hale"));
  }
}

// Each entry of a merged contact names the value that joined it, the newest too where the
// entries it joined are copies of one entry, joined to each other first.
TEST(MergeStores, EveryEntryNamesTheValueThatJoinedIt) {
  const QString dir = ScratchDir("matched");
  QJsonObject gus{{"FirstName", "Gus"},
                  {"LastName", "Hale"},
                  {"Email1Address", "gus@hale.example"},
                  {"CreationTime", "2023-01-01T09:00:00Z"}};
  QStringList stores{WriteStore(dir + "/copy0.pst", {gus}, "2024-01-01T10:00:00Z", "home"),
                     WriteStore(dir + "/copy1.pst", {gus}, "2024-02-01T10:00:00Z", "home")};
  gus["JobTitle"] = "Pilot";
  stores << WriteStore(dir + "/other.pst", {gus}, "2025-06-01T10:00:00Z");
  merge::StoreSelection options;
  options.stores = stores;
  const auto stream = merge::OpenContacts(options);
  contact::SourcedContact merged;
  ASSERT_TRUE(stream->Next(merged));
  ASSERT_EQ(merged.origins.size(), 3u);
  EXPECT_EQ(merged.origins.front().store, stores[2]);
  EXPECT_EQ(merged.origins.front().matched, "gus@hale.example");
  for (const contact::Origin& o : merged.origins)
    EXPECT_FALSE(o.matched.isEmpty()) << o.store.toStdString();
}

TEST(MergeStores, DifferentPeopleAndDifferentListsStayApart) {
  const auto cards = Cards(Export({TwoStores().older, TwoStores().newer}, true));
  EXPECT_EQ(cards.count("John Smith"), 2);  // same name, no e-mail or telephone in common
  EXPECT_EQ(cards.count("Crew"), 2);        // same name, other members
  EXPECT_EQ(cards.count("Team"), 1);        // same name and members, in another order
  EXPECT_EQ(cards.size(), 8);               // Ann, two John Smiths, Bo, Carla, Team, two Crews
}

// Ann's three different web pages (two in the newer entry, one in the older) are all kept: the
// third as a further URL in vCard, on a line of "Notes" in CSV (read by Python's csv module), as
// are her older company with its own department and her older business address, which have no
// column of their own left.
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
          << row["Notes"].toString().split(QRegularExpression("\r?\n")).mid(3);
  EXPECT_EQ(csv, (QStringList{pages[0], pages[1], "Earlier: Company: Oldco",
                              "Earlier: Department: Sales", "Earlier: Job title: Engineer",
                              "Web page: " + pages[2], "Business address: 1 Old Road, Berlin"}));
}

// Ann's older company, with its own department, and job title are a second ORG and TITLE beside
// the newer ones, which are marked as preferred in each version's way.
TEST(MergeStores, OlderCompanyAndTitleKeptBesideTheNewerPreferredOnes) {
  struct Case {
    contact::VCardVersion version;
    QStringList values;  // ORG then TITLE, each "value params"
  };
  const std::vector<Case> cases = {
      {contact::VCardVersion::k40,
       {"Newco {\"PREF\":[\"1\"]}", "Oldco|Sales {}", "Lead Engineer {\"PREF\":[\"1\"]}",
        "Engineer {}"}},
      {contact::VCardVersion::k30,
       {"Newco {\"TYPE\":[\"PREF\"]}", "Oldco|Sales {}", "Lead Engineer {\"TYPE\":[\"PREF\"]}",
        "Engineer {}"}},
  };
  for (const Case& c : cases) {
    const QJsonObject card =
        Cards(Export({TwoStores().older, TwoStores().newer}, true, c.version)).value("Ann Lee");
    QStringList values;
    for (const char* name : {"ORG", "TITLE"})
      for (const QJsonValue& v : card[QLatin1String(name)].toArray()) {
        const QJsonValue value = v["value"];
        values << (value.isArray() ? Strings(value).join(u'|') : value.toString()) + u' ' +
                      QString::fromUtf8(
                          QJsonDocument(v["params"].toObject()).toJson(QJsonDocument::Compact));
      }
    EXPECT_EQ(values, c.values);
  }
}

// A store named before its older copy (one store key; each entry made at the same time in both):
// the copies of each entry are versions of it, so each card holds the newest copy's values only,
// what the user replaced or took out staying out, even where the newer copy lost its name and so
// ranks after the named older one (Nils's); the merge report tells what each older copy held.
TEST(MergeStores, AnOlderCopyOfAStoreAddsNothingToTheCards) {
  const QString dir = ScratchDir("older-copy");
  const char* older = R"([
    {"FirstName": "Anna", "LastName": "Berg", "Email1Address": "anna@berg.example",
     "Email2Address": "anna@old.example", "MobileTelephoneNumber": "+46 70 111 22 33",
     "CreationTime": "2020-01-01T00:00:00Z"},
    {"FirstName": "Karl", "LastName": "Ek", "Email1Address": "karl@ek.example",
     "JobTitle": "Lärare", "CreationTime": "2020-01-01T00:01:00Z"},
    {"FirstName": "Nils", "LastName": "Strand", "Email1Address": "nils@strand.example",
     "CompanyName": "Old AB", "CreationTime": "2020-01-01T00:02:00Z"}])";
  const char* newer = R"([
    {"FirstName": "Anna", "LastName": "Berg", "Email1Address": "anna@berg.example",
     "MobileTelephoneNumber": "+46 70 999 88 77", "CreationTime": "2020-01-01T00:00:00Z"},
    {"FirstName": "Karl", "LastName": "Ek", "Email1Address": "karl@ek.example",
     "JobTitle": "Rektor", "CreationTime": "2020-01-01T00:01:00Z"},
    {"Email1Address": "nils@strand.example", "BusinessTelephoneNumber": "+46 8 123 456",
     "CreationTime": "2020-01-01T00:02:00Z"}])";
  const QStringList stores{
      WriteStore(dir + "/newer.pst", QJsonDocument::fromJson(QByteArray(newer)).array(),
                 "2024-06-01T00:00:00Z", "A"),
      WriteStore(dir + "/older.pst", QJsonDocument::fromJson(QByteArray(older)).array(),
                 "2024-01-01T00:00:00Z", "A")};
  merge::StoreSelection options;
  options.stores = stores;
  auto stream = merge::OpenContacts(options);
  QStringList notCarried;
  const QByteArray out = WriteAll(*stream, notCarried);
  QStringList cards;
  const auto read = Cards(out);
  for (auto card = read.cbegin(); card != read.cend(); ++card)
    for (const char* name : {"N", "EMAIL", "TEL", "ORG", "TITLE"})
      for (const QString& value : Values(card.value(), name))
        cards << QStringLiteral("%1 %2: %3").arg(card.key(), QLatin1String(name), value);
  EXPECT_EQ(cards, QStringList({"Anna Berg N: Berg|Anna|||", "Anna Berg EMAIL: anna@berg.example",
                                "Anna Berg TEL: +46 70 999 88 77", "Karl Ek N: Ek|Karl|||",
                                "Karl Ek EMAIL: karl@ek.example", "Karl Ek TITLE: Rektor",
                                "nils@strand.example EMAIL: nils@strand.example",
                                "nils@strand.example TEL: +46 8 123 456"}));
  EXPECT_EQ(
      notCarried,
      QStringList({"Anna Berg: E-mail: anna@old.example (older copy of the same entry); "
                   "Mobile Phone: +46 70 111 22 33 (older copy of the same entry)",
                   "Karl Ek: Job title: Lärare (older copy of the same entry)",
                   "Nils Strand: E-mail display name: Nils Strand (nils@strand.example) (older "
                   "copy of the same entry); First name: Nils (older copy of the same "
                   "entry); Last name: Strand (older copy of the same entry); Display name: "
                   "Nils Strand (older copy of the same entry); File as: Strand, Nils (older "
                   "copy of the same entry); Company: Old AB (older copy of the same entry)"}));
}

TEST(MergeStores, NoMergeKeepsEveryEntry) {
  const auto cards = Cards(Export({TwoStores().older, TwoStores().newer}, false));
  EXPECT_EQ(cards.size(), OlderItems().size() + NewerItems().size());
}

// The same stores give the same bytes; named in another order, the same contacts in the same
// order, only the merged ones' UIDs taken from the store named first.
TEST(MergeStores, StoresInAnotherOrderGiveTheSameContacts) {
  const auto withoutUids = [](QByteArray bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeIf([](const QByteArray& line) { return line.startsWith("UID:"); });
    return lines;
  };
  const QByteArray one = Export({TwoStores().older, TwoStores().newer}, true);
  EXPECT_EQ(Export({TwoStores().older, TwoStores().newer}, true), one);
  const QByteArray other = Export({TwoStores().newer, TwoStores().older}, true);
  EXPECT_NE(other, one);
  EXPECT_EQ(withoutUids(other), withoutUids(one));
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
      // Ann, Bo, Carla and Team: two entries each.
      {{"--out", dir + "/merged.vcf"},
       0,
       dir + "/merged.vcf\n8 Contacts Saved Successfully (3 of them distribution lists; 8 entries "
             "merged into 4 contacts; --merge-report FILE lists them)\n",
       8,
       -1},
      {{"--no-merge", "--out", dir + "/every.vcf"},
       0,
       dir + "/every.vcf\n12 Contacts Saved",
       12,
       -1},
      {{"--dry-run", "--merge-report", dir + "/report.csv"},
       0,
       "12 entries from 2 stores: 8 contacts, 4 merged groups, 0 suggestions (3 of the contacts "
       "distribution lists); nothing was written",
       -1,
       8},
      {{"--no-merge", "--merge-report", dir + "/r.csv", "--out", dir + "/x.vcf"}, 2, "", -1, -1},
      // A third Carla sharing only the newer one's e-mail address: each row names its own join.
      {{"--dry-run", "--merge-report", dir + "/report.csv"},
       0,
       "13 entries from 3 stores",
       -1,
       9,
       {"same e-mail address", "same e-mail address", "same phone number"}},
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
        // row, contact no., store, folder, position, modified, rule, matched, name, not carried
        QStringList rules;
        for (const QString& row : report.split(QStringLiteral("\r\n")))
          if (row.section(u',', 8, 8) == u"Carla Diaz") rules << row.section(u',', 6, 6);
        EXPECT_EQ(rules, c.carlaRules) << report.toStdString();
      }
    }
  }
  EXPECT_EQ(QDir(dir).entryList(QDir::Files),
            (QStringList{"every.vcf", "merged.vcf", "report.csv", "third.pst", "third.pst.json"}));
}

}  // namespace
