// What real stores hold beyond the usual, written by lumivex-pstgen and exported by lumivex-cli
// as vCard 4.0, vCard 3.0 and CSV, then read back by readers nobody on this team wrote: values
// of unexpected types, the fields only some address books have, list members named as the list
// names them.
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using namespace lumivex::testing;

namespace {

// Writes the store `description` (JSON) describes and gives its path.
QString MakeStore(const QString& dir, const QString& name, const QByteArray& description) {
  const QString json = dir + u'/' + name + QStringLiteral(".json");
  QFile file(json);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(description);
  file.close();
  const QString store = dir + u'/' + name + QStringLiteral(".pst");
  const ProgramOutput made = RunProgram(BinDir() + "/lumivex-pstgen", {json, "--out", store});
  EXPECT_EQ(made.status, 0) << made.err.toStdString();
  return store;
}

const char* const kForms[] = {"vcard4", "vcard3", "csv"};

// The cards (Evolution's view) or rows (Python's csv module, by heading) of an export.
QJsonArray ReadBack(const QString& form, const QString& file) {
  if (form == u"csv")
    return RowsByHeading(PythonCsvReader().ReadOrFail({file}).array()[0].toArray());
  return EvolutionCardReader().ReadOrFail({file}).array();
}

// One contact per value of a type other than the field's own, as other programs write them.
struct TypedValue {
  const char* property;  // the "properties" entry of lumivex-pstgen
  const char* vcardKey;  // what Evolution gives for the field
  const char* column;    // the CSV column
  const char* expected;  // the value read back; null: the field is left out, named on stderr
  const char* named;     // how the warning names a field left out
};

const TypedValue kTyped[] = {
    {R"({"set": "PS_PUBLIC_STRINGS", "name": "Keywords", "type": "int32", "value": 7})",
     "categories", "Categories", nullptr, "categories"},
    {R"({"set": "PSETID_Address", "lid": "0x8083", "type": "int32", "value": 1})", nullptr,
     "E-mail Address", nullptr, "e-mail address"},
    {R"({"set": "PS_PUBLIC_STRINGS", "name": "Keywords", "type": "string", "value": "Solo"})",
     "categories", "Categories", "Solo", nullptr},
    {R"({"id": "0x3A58", "type": "string", "value": "Only Child"})", nullptr, "Children",
     "Only Child", nullptr},
    {R"({"id": "0x3A08", "type": "int32", "value": 5551234})", "workPhone", "Business Phone",
     "5551234", nullptr},
    {R"({"id": "0x3A1C", "type": "int64", "value": 33612345678})", "cellPhone", "Mobile Phone",
     "33612345678", nullptr},
    {R"({"id": "0x3A17", "type": "int16", "value": 12})", "title", "Job Title", "12", nullptr},
    {R"({"id": "0x3A42", "type": "string", "value": "1975-05-17"})", "birthday", "Birthday",
     nullptr, "birthday"},
    {R"({"id": "0x3A16", "type": "binary", "value": "00ff"})", "org", "Company", nullptr,
     "company"},
    {R"({"id": "0x3A4D", "type": "string", "value": "Female"})", nullptr, "Gender", nullptr,
     "gender"},
    {R"({"id": "0x1000", "type": "int32", "value": 3})", "note", "Notes", "3", nullptr},
    {R"({"id": "0x3008", "type": "string", "value": "yesterday"})", nullptr, nullptr, nullptr,
     "time of last change"},
};

class RealStores : public ::testing::Test {
 protected:
  void SetUp() override { dir = ScratchDir(QStringLiteral("real-stores")); }
  QString dir;
};

}  // namespace

TEST_F(RealStores, AValueOfAnotherTypeIsConvertedOrLeftOutAloneAndTheContactWritten) {
  QByteArray items;
  for (size_t i = 0; i < std::size(kTyped); ++i)
    items += QStringLiteral(R"(%1{"FullName": "Row %2", "LastName": "Row %2", "properties": [%3]})")
                 .arg(i ? "," : "")
                 .arg(i)
                 .arg(QString::fromUtf8(kTyped[i].property))
                 .toUtf8();
  const QString store =
      MakeStore(dir, QStringLiteral("typed"),
                R"({"folders": [{"path": "Contacts", "items": [)" + items + "]}]}");
  for (const char* form : kForms) {
    SCOPED_TRACE(form);
    const QString file = dir + QStringLiteral("/typed.") + form;
    const ProgramOutput run = RunCli({"export", "--format", form, "--out", file, store});
    // Fields were left out: the export says which, and ends with 3.
    EXPECT_EQ(run.status, 3) << run.err.toStdString();
    const QJsonArray got = ReadBack(QString::fromUtf8(form), file);
    ASSERT_EQ(got.size(), static_cast<qsizetype>(std::size(kTyped))) << run.err.toStdString();
    for (size_t i = 0; i < std::size(kTyped); ++i) {
      const TypedValue& t = kTyped[i];
      SCOPED_TRACE(t.property);
      const QJsonValue item = got[static_cast<qsizetype>(i)];
      const bool csv = QString::fromUtf8(form) == u"csv";
      const char* key = csv ? t.column : t.vcardKey;
      if (key) {
        EXPECT_EQ(item[QLatin1String(key)].toString(), QString::fromUtf8(t.expected));
      }
      if (t.named) {
        const QString warning =
            QStringLiteral(
                "entry %1 of \"Top of Personal Folders/Contacts\" is not whole: "
                "written without its %2 (stored as a value of type 0x")
                .arg(i + 1)
                .arg(QString::fromUtf8(t.named));
        EXPECT_TRUE(run.err.contains(warning)) << run.err.toStdString();
      }
    }
  }
}

TEST_F(RealStores, OfficeInitialsFileAsAndImReachTheAddressBooks) {
  const QString store = MakeStore(dir, QStringLiteral("fields"), R"json({"folders": [
    {"path": "Contacts", "items": [
      {"label": "amelie", "FullName": "Dr. Amélie Claire Lefèvre PhD", "Title": "Dr.",
       "FirstName": "Amélie", "MiddleName": "Claire", "LastName": "Lefèvre", "Suffix": "PhD",
       "CompanyName": "Contoso", "Department": "Research", "OfficeLocation": "B4 / 2.17",
       "Initials": "A.C.L.", "FileAs": "Lefèvre, Amélie", "IMAddress": "xmpp:amelie@jabber.example",
       "Email1Address": "amelie@contoso.example", "Email1DisplayName": "Amélie Lefèvre (Work)",
       "Email2Address": "/o=Contoso/ou=First Administrative Group/cn=Recipients/cn=amelie",
       "Email2AddressType": "EX", "Email2OriginalDisplayName": "amelie.l@contoso.example",
       "Categories": ["Business; VIP", "Paris"], "Children": ["Zoé", "Gaëlle, Jr."]},
      {"FullName": "Bo Berg", "LastName": "Berg", "IMAddress": "skype:bo.berg?call"},
      {"messageClass": "IPM.DistList", "DLName": "Team",
       "members": [{"contact": "amelie", "email": 1}]}]}]})json");
  for (const char* form : {"vcard4", "vcard3"}) {
    SCOPED_TRACE(form);
    const QString file = dir + QStringLiteral("/fields.") + form;
    const ProgramOutput run = RunCli({"export", "--format", form, "--out", file, store});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonArray evolution = EvolutionCardReader().ReadOrFail({file}).array();
    ASSERT_EQ(evolution.size(), 3);
    EXPECT_EQ(evolution[0]["office"].toString(), u"B4 / 2.17");
    EXPECT_EQ(evolution[0]["orgUnit"].toString(), u"Research");
    EXPECT_EQ(evolution[0]["fileAs"].toString(), u"Lefèvre, Amélie");
    EXPECT_EQ(Strings(evolution[0]["ims"]["im_jabber"]), QStringList{"amelie@jabber.example"});
    EXPECT_EQ(Strings(evolution[1]["ims"]["im_skype"]), QStringList{"bo.berg"});
    // The list names its member as the list entry does, not as the contact is named.
    const QString note = evolution[2]["note"].toString();
    EXPECT_TRUE(note.contains(u"Amélie Lefèvre (Work) <amelie@contoso.example>"))
        << note.toStdString();
    EXPECT_FALSE(note.contains(u"Dr. Amélie")) << note.toStdString();

    const QJsonArray kde = KContactsCardReader().ReadOrFail({file}).array();
    ASSERT_EQ(kde.size(), 3);
    EXPECT_EQ(kde[0]["office"].toString(), u"B4 / 2.17");
    EXPECT_EQ(kde[0]["orgUnit"].toString(), u"Research");
    EXPECT_TRUE(Strings(kde[0]["customs"]).contains(u"KADDRESSBOOK-X-Initials:A.C.L."))
        << QJsonDocument(kde[0]["customs"].toArray()).toJson().toStdString();
    // KContacts 5 reads the parameter values of a 4.0 card as Latin-1: its SORT-AS comes back
    // garbled where it is not ASCII; 3.0's SORT-STRING comes through.
    if (QString::fromUtf8(form) == u"vcard3") {
      EXPECT_EQ(kde[0]["sortString"].toString(), u"Lefèvre, Amélie");
    }
    EXPECT_TRUE(Strings(kde[0]["impps"]).contains(u"xmpp:amelie@jabber.example"));
  }

  const QString csv = dir + QStringLiteral("/fields.csv");
  const ProgramOutput run = RunCli({"export", "--format", "csv", "--out", csv, store});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  for (const Utf8Reader& reader : {PythonCsvReader(), LibreOfficeCsvReader()}) {
    SCOPED_TRACE(reader.name.toStdString());
    const QJsonArray rows = RowsByHeading(reader.ReadOrFail({csv}).array()[0].toArray());
    ASSERT_EQ(rows.size(), 3);
    const QJsonObject r = rows[0].toObject();
    EXPECT_EQ(r["Office Location"].toString(), u"B4 / 2.17");
    EXPECT_EQ(r["Initials"].toString(), u"A.C.L.");
    // The Exchange address is written in its SMTP form, and typed so.
    EXPECT_EQ(r["E-mail 2 Address"].toString(), u"amelie.l@contoso.example");
    EXPECT_EQ(r["E-mail 2 Type"].toString(), u"SMTP");
    // Split at ";" as the mail client splits them, the cells give back as many values.
    EXPECT_EQ(r["Categories"].toString().split(u';'), (QStringList{"Business, VIP", "Paris"}));
    EXPECT_EQ(r["Children"].toString().split(u';'), (QStringList{"Zoé", "Gaëlle, Jr."}));
  }
}

// Stores damaged so that a reader which checks too little loses contacts without a word (each
// described in the fixtures' README): the damage is told (a warning naming what the README says
// is wrong) and the run ends with 3 in every form and in a send, or with 1 where the damage
// leaves nothing that form can write.
TEST_F(RealStores, EveryDamagedReproducerIsReportedInEveryForm) {
  LUMIVEX_REQUIRE_FIXTURES();
  enum Left {
    kSome,      // contacts are written in every form
    kNoFolder,  // no contacts folder can be found: every form and a send end with 1
    kNone,      // no entry can be found: no form writes anything; a send reads to its end
  };
  struct Reproducer {
    const char* file;
    Left left;
    const char* says;  // what the warnings name, as the README describes the damage
  };
  const Reproducer reproducers[] = {
      {"node-without-data-block.pst", kSome, "folder tree is damaged"},
      {"contacts-folder-node-lost-cp932.pst", kNoFolder, "no contacts folder"},
      {"email-type-unknown-generated-200.pst", kSome, "damaged"},
      {"blocks-swapped-generated-pictures-lists.pst", kSome, "damaged"},
      {"data-pointer-redirected-generated-200.pst", kSome, "not an entry's"},
      {"entry-count-mismatch-generated-200.pst", kNone, "records 200 entries"},
      {"name-map-block-overwritten.pst", kSome, "written without its e-mail addresses"},
      {"name-map-lost-silently-six-contacts.pst", kSome, "written without its e-mail addresses"},
      {"name-map-stream-zeroed-six-contacts.pst", kSome, "written without its e-mail addresses"},
      {"node-page-checksum-broken-named-props-lost.pst", kSome,
       "libpff cannot resolve the store's named properties"},
      {"node-page-checksum-broken-contact-substituted.pst", kSome, "as the same data"},
      {"message-store-unreadable-six-contacts.pst", kSome, "record key"},
      {"subnode-count-zero-picture-dropped.pst", kSome, "the store holds none of them"},
      {"data-pointer-to-other-contact.pst", kSome, "the same block as entry"},
      {"one-entry-unreadable-generated-200.pst", kSome, "categories"},
  };
  const char* const forms[] = {"vcard", "xls", "wab", "vcard4", "csv", "send"};
  int n = 0;
  for (const Reproducer& r : reproducers) {
    for (const char* form : forms) {
      const QString f = QString::fromLatin1(form);
      SCOPED_TRACE(std::string(r.file) + " " + form);
      const QString out = dir + QStringLiteral("/damaged-%1/").arg(++n);
      const QString store = SharedDir() + "/fixtures/damaged/" + r.file;
      const ProgramOutput run = f == u"send"
                                    ? RunCli({"send", "--to", "vdir:" + out, store},
                                             {{"XDG_STATE_HOME", out + QStringLiteral("state")}})
                                    : RunCli({"export", "--format", form, "--out", out, store});
      const bool failed = r.left == kNoFolder || (f != u"send" && r.left == kNone);
      EXPECT_EQ(run.status, failed ? 1 : 3) << run.err.toStdString();
      EXPECT_TRUE(run.err.contains(QString::fromUtf8(r.says), Qt::CaseInsensitive))
          << run.err.toStdString();
      // Each entry is told once, whatever is wrong with it.
      static const QRegularExpression entry(QStringLiteral("entry (\\d+) of \"([^\"]*)\""));
      QSet<QString> told;
      for (const QString& line : run.err.split(u'\n')) {
        const QRegularExpressionMatch m = entry.match(line);
        if (!m.hasMatch()) continue;
        EXPECT_FALSE(told.contains(m.captured(0))) << line.toStdString();
        told.insert(m.captured(0));
      }
    }
  }
}

// The summary counts entries and contacts apart. The store holds 205 entries, one unreadable
// (its data is another's), and no two of them are one person; with a copy of itself, each entry
// is one person with its copy: 2 of 410 entries unreadable, 204 contacts after merging, and how
// to keep every entry.
TEST_F(RealStores, TheSummaryCountsEntriesAndContactsApart) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString store =
      SharedDir() + "/fixtures/damaged/blocks-swapped-generated-pictures-lists.pst";
  const QString copy = dir + "/copy.pst";
  ASSERT_TRUE(QFile::copy(store, copy));
  struct Case {
    QStringList stores;
    bool merge;
    const char* says;
  };
  for (const Case& c : {
           Case{{store, copy},
                true,
                "2 of 410 entries could not be read; 204 contacts written after merging"},
           Case{{store},
                true,
                "1 of 205 entries could not be read (they are left out, the other 204"},
           Case{{store},
                false,
                "1 of 205 entries could not be read (they are left out, the other 204"},
       }) {
    QStringList args =
        QStringList{"export", "--format", "vcard4", "--out", dir + "/counted.vcf"} + c.stores;
    if (!c.merge) args << "--no-merge";
    const ProgramOutput run = RunCli(args);
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.says))) << run.err.toStdString();
    EXPECT_EQ(run.err.contains(u"--no-merge"), c.stores.size() > 1) << run.err.toStdString();
  }
  // An entry only whose categories cannot be read is written without them, and told: every
  // contact of that store is in the file.
  const ProgramOutput partial =
      RunCli({"export", "--format", "vcard4", "--no-merge", "--out", dir + "/partial.vcf",
              SharedDir() + "/fixtures/damaged/one-entry-unreadable-generated-200.pst"});
  EXPECT_EQ(partial.status, 3);
  EXPECT_TRUE(partial.err.contains(u"1 of 200 contacts were written without some of their fields"))
      << partial.err.toStdString();
}

// 25 entries that say they have attachments the store does not hold: the first twenty are
// told, then one line for the other five of that kind, in an export and in a send; --verbose
// tells all 25, and --damage-report writes all 25 into its file.
TEST_F(RealStores, ManyWarningsAreSummedUpByKind) {
  QByteArray items;
  for (int i = 0; i < 25; ++i)
    items += QStringLiteral(R"(%1{"FullName": "Person %2", "LastName": "P%2", "properties": [
        {"id": "0x0E07", "type": "int32", "value": 17}]})")
                 .arg(i == 0 ? "" : ",")
                 .arg(i)
                 .toUtf8();
  const QString store =
      MakeStore(dir, QStringLiteral("lost"),
                R"({"folders": [{"path": "Contacts", "items": [)" + items + "]}]}");
  const QString report = dir + "/damage.txt";
  struct Case {
    QStringList options;
    int lines;  // on stderr, the summary among them
  };
  for (const Case& c :
       {Case{{}, 22}, Case{{"--verbose"}, 26}, Case{{"--damage-report", report}, 22}}) {
    SCOPED_TRACE(c.options.join(u' ').toStdString());
    for (const char* form : {"vcard", "vcard4", "send"}) {
      const QString out = dir + "/lost-" + form + c.options.value(0);
      const ProgramOutput run =
          form == std::string_view("send")
              ? RunCli(QStringList{"send", "--to", "vdir:" + out, store} + c.options,
                       {{"XDG_STATE_HOME", out + "-state"}})
              : RunCli(QStringList{"export", "--format", form, "--out", out + "/", store} +
                       c.options);
      EXPECT_EQ(run.status, 3);
      const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
      EXPECT_EQ(lines.size(), c.lines) << run.err.toStdString();
      EXPECT_EQ(lines.value(20).contains(u"5 more entries like this"), c.lines == 22)
          << run.err.toStdString();
    }
  }
  QFile written(report);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll().count('\n'), 25);
}

// Damage of a store as a whole, a folder whose list of entries lost them and a store left out
// are written into --damage-report FILE as they are told on stderr, in an export and in a send.
TEST_F(RealStores, StoreAndFolderDamageGoIntoTheDamageReport) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString damaged = SharedDir() + "/fixtures/damaged/";
  struct Case {
    QStringList stores;
    const char* says;  // in the report, as the fixtures' README describes the damage
  };
  int n = 0;
  for (const Case& c : {
           Case{{damaged + "message-store-unreadable-six-contacts.pst"}, "record key"},
           Case{{damaged + "entry-count-mismatch-generated-200.pst"}, "records 200 entries"},
           Case{{BinDir() + "/sample.pst", damaged + "contacts-folder-node-lost-cp932.pst"},
                "left out"},
       }) {
    for (const char* form : {"vcard", "vcard4", "send"}) {
      SCOPED_TRACE(c.stores.last().toStdString() + " " + form);
      if (c.stores.size() > 1 && form == std::string_view("vcard")) continue;  // one store only
      const QString out = dir + QStringLiteral("/reported-%1/").arg(++n);
      const QString report = dir + QStringLiteral("/reported-%1.txt").arg(n);
      const QStringList options{"--damage-report", report};
      const ProgramOutput run =
          form == std::string_view("send")
              ? RunCli(QStringList{"send", "--to", "vdir:" + out} + options + c.stores,
                       {{"XDG_STATE_HOME", out + "state"}})
              : RunCli(QStringList{"export", "--format", form, "--out", out} + options + c.stores);
      QFile written(report);
      ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << run.err.toStdString();
      EXPECT_TRUE(QString::fromUtf8(written.readAll()).contains(QString::fromUtf8(c.says)))
          << run.err.toStdString();
    }
  }
}

// A store whose own properties cannot be read keeps its contacts' UIDs (the record key is taken
// from the entry ids its folders keep), wherever the file lies: the same UIDs as the intact
// store's.
TEST_F(RealStores, AnUnreadableRecordKeyLeavesTheUidsAsTheIntactStoreHasThem) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString copy = dir + "/elsewhere.pst";
  ASSERT_TRUE(QFile::copy(
      SharedDir() + "/fixtures/damaged/message-store-unreadable-six-contacts.pst", copy));
  QStringList uids[2];
  int n = 0;
  for (const QString& store : {FixturePst(QStringLiteral("six-contacts.pst")), copy}) {
    const QString out = dir + QStringLiteral("/uids-%1.vcf").arg(n);
    const ProgramOutput run =
        RunCli({"export", "--format", "vcard4", "--no-merge", "--out", out, store});
    EXPECT_EQ(run.status, n == 0 ? 0 : 3) << run.err.toStdString();
    QFile cards(out);
    EXPECT_TRUE(cards.open(QIODevice::ReadOnly));
    for (const QByteArray& line : cards.readAll().split('\n'))
      if (line.startsWith("UID:")) uids[n] << QString::fromUtf8(line.trimmed());
    ++n;
  }
  EXPECT_EQ(uids[0].size(), 6);
  EXPECT_EQ(uids[0], uids[1]);
}

// Contacts kept in a mail folder are exported with --all-folders (its mail is not), and a
// contact is given its folder as a category only where more than one folder gives contacts,
// the folder named below the top of the store.
TEST_F(RealStores, EveryFolderHoldingContactsWhateverItsClass) {
  const QString mixed = MakeStore(dir, QStringLiteral("mixed"), R"({"folders": [
    {"path": "Contacts", "items": [{"FullName": "Bo Berg", "LastName": "Berg"}]},
    {"path": "Contact Search", "containerClass": "IPF.Contact"},
    {"path": "Kept", "containerClass": "IPF.Note", "items": [
      {"FullName": "Ann Ash", "LastName": "Ash"},
      {"messageClass": "IPM.Note", "Subject": "Not a contact"}]}]})");
  const QString single = MakeStore(dir, QStringLiteral("single"), R"({"folders": [
    {"path": "Contacts", "items": [{"FullName": "Bo Berg", "LastName": "Berg"}]},
    {"path": "Contact Search", "containerClass": "IPF.Contact"}]})");
  struct Case {
    QString store;
    QStringList names;
    QStringList categories;  // Evolution's view, card by card
  };
  const Case cases[] = {{mixed, {"Bo Berg", "Ann Ash"}, {"Contacts", "Kept"}},
                        {single, {"Bo Berg"}, {""}}};
  for (const Case& c : cases) {
    const QString file = dir + QStringLiteral("/every.vcf");
    const ProgramOutput run =
        RunCli({"export", "--format", "vcard4", "--all-folders", "--out", file, c.store});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonArray cards = EvolutionCardReader().ReadOrFail({file}).array();
    QStringList names, categories;
    for (const QJsonValue card : cards) {
      names << card["fn"].toString();
      categories << card["categories"].toString();
    }
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(categories, c.categories);
  }
}

// A store whose contacts lie only in a mail folder: every form names that folder, how many it
// holds and the --folder that takes them, and --all-folders only where that form takes it; what
// the advice names works.
TEST_F(RealStores, WithoutAContactsFolderTheAdviceNamesWhatTheFormTakes) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString store = FixturePst(QStringLiteral("72-contacts-in-mail-folder.pst"));
  const QString folder = QStringLiteral("Top of Personal Folders/myInbox");
  struct Form {
    QStringList command;
    bool allFolders;  // the form takes --all-folders
  };
  const Form forms[] = {
      {{"export", "--format", "vcard"}, false}, {{"export", "--format", "vcards"}, false},
      {{"export", "--format", "xls"}, false},   {{"export", "--format", "wab"}, false},
      {{"export", "--format", "vcard4"}, true}, {{"export", "--format", "vcard3"}, true},
      {{"export", "--format", "csv"}, true},    {{"scan"}, false},
  };
  int n = 0;
  for (const Form& f : forms) {
    SCOPED_TRACE(f.command.join(u' ').toStdString());
    QStringList out;
    if (f.command[0] == u"export") out = {"--out", dir + QStringLiteral("/advice-%1/").arg(++n)};
    const ProgramOutput run = RunCli(f.command + out + QStringList{store});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("\"%1\" (72 contacts)").arg(folder)) &&
                run.err.contains(QStringLiteral("--folder \"%1\"").arg(folder)))
        << run.err.toStdString();
    EXPECT_EQ(run.err.contains(u"--all-folders"), f.allFolders) << run.err.toStdString();
    const ProgramOutput named = RunCli(f.command + out + QStringList{"--folder", folder, store});
    EXPECT_EQ(named.status, 0) << named.err.toStdString();
    if (f.allFolders) {
      const ProgramOutput all = RunCli(f.command + out + QStringList{"--all-folders", store});
      EXPECT_EQ(all.status, 0) << all.err.toStdString();
    }
  }
}

// An empty contacts folder is said to hold none, in every form: nothing written, status 1.
TEST_F(RealStores, AnEmptyContactsFolderWritesNothing) {
  const QString store =
      MakeStore(dir, QStringLiteral("empty"), R"({"folders": [{"path": "Contacts"}]})");
  for (const char* form : {"vcard", "vcards", "xls", "wab", "vcard4", "vcard3", "csv"}) {
    SCOPED_TRACE(form);
    const QString out = dir + QStringLiteral("/empty-") + form + u'/';
    const ProgramOutput run = RunCli({"export", "--format", form, "--out", out, store});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(u"holds no contacts") || run.err.contains(u"holds none"))
        << run.err.toStdString();
    EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
  }
}

// Every CSV row carries a name Python's csv module reads under "First Name" or "Last Name":
// a contact with only a display name gets it split where it is clearly a given name and a
// surname, else whole under "First Name".
TEST_F(RealStores, EveryCsvRowIsNamed) {
  struct Named {
    const char* item;  // the contact as lumivex-pstgen takes it
    const char* first;
    const char* last;
  };
  const Named table[] = {
      {R"("FullName": "Ann Smith")", "Ann", "Smith"},
      {R"("FullName": "Smith, Ann")", "Ann", "Smith"},
      {R"("FullName": "Seán O'Brien-Kelly")", "Seán", "O'Brien-Kelly"},
      {R"("FullName": "Мария Иванова")", "Мария", "Иванова"},
      {R"("FullName": "Γιάννης Παπαδόπουλος")", "Γιάννης", "Παπαδόπουλος"},
      {R"("FullName": "山田 太郎")", "山田 太郎", ""},
      {R"("FullName": "王小明")", "王小明", ""},
      {R"("FullName": "김민준")", "김민준", ""},
      {R"("FullName": "ann.smith@example.com", "Email1Address": "ann.smith@example.com")",
       "ann.smith@example.com", ""},
      {R"("FullName": "IT Helpdesk")", "IT Helpdesk", ""},
      {R"("FullName": "Acme Garden Supplies")", "Acme Garden Supplies", ""},
      {R"("FullName": "J. Smith")", "J. Smith", ""},
      {R"("CompanyName": "Contoso Ltd")", "Contoso Ltd", ""},
      {R"("FullName": "Ann Smith", "FirstName": "Annie", "LastName": "Smyth")", "Annie", "Smyth"},
  };
  QByteArray items;
  for (const Named& n : table) items += (items.isEmpty() ? "{" : ",{") + QByteArray(n.item) + "}";
  const QString generated =
      MakeStore(dir, QStringLiteral("names"),
                R"({"folders": [{"path": "Contacts", "items": [)" + items + "]}]}");
  const QString csv = dir + QStringLiteral("/names.csv");
  const ProgramOutput run = RunCli({"export", "--format", "csv", "--out", csv, generated});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  const QJsonArray rows = RowsByHeading(PythonCsvReader().ReadOrFail({csv}).array()[0].toArray());
  ASSERT_EQ(rows.size(), static_cast<qsizetype>(std::size(table)));
  for (size_t i = 0; i < std::size(table); ++i) {
    SCOPED_TRACE(table[i].item);
    EXPECT_EQ(rows[qsizetype(i)]["First Name"].toString(), QString::fromUtf8(table[i].first));
    EXPECT_EQ(rows[qsizetype(i)]["Last Name"].toString(), QString::fromUtf8(table[i].last));
  }

  // The sample store and the every-field stores: no row without a name, whatever it holds.
  for (const QString& store : {BinDir() + "/sample.pst", BinDir() + "/every-field.pst",
                               BinDir() + "/every-field-ansi.pst"}) {
    SCOPED_TRACE(store.toStdString());
    const ProgramOutput all =
        RunCli({"export", "--format", "csv", "--all-folders", "--out", csv, store});
    ASSERT_EQ(all.status, 0) << all.err.toStdString();
    const QJsonArray got = RowsByHeading(PythonCsvReader().ReadOrFail({csv}).array()[0].toArray());
    EXPECT_FALSE(got.isEmpty());
    for (const QJsonValue row : got)
      EXPECT_FALSE(row["First Name"].toString().isEmpty() && row["Last Name"].toString().isEmpty())
          << QJsonDocument(row.toObject()).toJson().toStdString();
  }
}
