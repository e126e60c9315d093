// lumivex-cli export on the real store files: one card per entry as Evolution and KContacts read
// them, each field where the store has it (as pst-extractor, a reader apart from libpff, sees
// the store), the per-contact files, the other formats, and the failures a user meets.
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <unistd.h>

#include <string_view>

using namespace lumivex::testing;

namespace {

ProgramOutput Cli(const QStringList& args, const QMap<QString, QString>& environment = {}) {
  return RunCli(QStringList{"export"} + args, environment);
}

// The card fields and the store properties that feed them.
const std::pair<const char*, const char*> kFields[] = {
    {"given", "0x3A06"},     {"family", "0x3A11"},    {"fn", "0x3001"},
    {"org", "0x3A16"},       {"title", "0x3A17"},     {"workPhone", "0x3A08"},
    {"homePhone", "0x3A09"}, {"cellPhone", "0x3A1C"}, {"workFax", "0x3A24"},
    {"email", "lid:0x8083"},
};

class ExportVerb : public ::testing::Test {
 protected:
  void SetUp() override { out = ScratchDir(QStringLiteral("export-verb")); }
  QStringList Files(const QString& dir) const {
    return QDir(dir).entryList(QDir::Files, QDir::Name);
  }
  QString out;
};

}  // namespace

TEST_F(ExportVerb, RealStoresGiveOneCardPerEntryWithItsFields) {
  LUMIVEX_REQUIRE_FIXTURES();
  const Utf8Reader readers[] = {EvolutionCardReader(1252), KContactsCardReader(1252)};
  for (const Utf8Reader& reader : readers)
    ASSERT_TRUE(reader.missing.isEmpty()) << reader.missing.toStdString();
  struct Case {
    const char* file;
    const char* folder;  // empty: the default contacts folder
    int entries;
  };
  for (const Case& c :
       {Case{"six-contacts.pst", "", 6}, Case{"contact-and-distlist.pst", "", 2},
        Case{"mail-and-one-contact.pst", "", 1},
        Case{"72-contacts-in-mail-folder.pst", "Top of Personal Folders/myInbox", 72},
        Case{"offline-store-4k-pages.ost", "", 0}}) {
    SCOPED_TRACE(c.file);
    const QString store = FixturePst(QString::fromUtf8(c.file));
    const QString dir = out + u'/' + QString::fromUtf8(c.file);
    QStringList args = {"--format", "vcard", "--out", dir, store};
    if (*c.folder) args << "--folder" << QString::fromUtf8(c.folder);
    const ProgramOutput run = Cli(args);
    if (c.entries == 0) {  // an empty contacts folder: said so, nothing written
      EXPECT_EQ(run.status, 1);
      EXPECT_TRUE(run.err.contains(u"holds no contacts; nothing was written"))
          << run.err.toStdString();
      EXPECT_TRUE(Files(dir).isEmpty());
      continue;
    }
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ASSERT_EQ(Files(dir).size(), 1);
    const QString file = dir + u'/' + Files(dir)[0];
    EXPECT_EQ(run.out, file + QStringLiteral("\n%1 Contacts Saved Successfully\n").arg(c.entries));
    // A mail folder is exported too, with a warning.
    EXPECT_EQ(run.err.contains(u"is not a contacts folder"), *c.folder != '\0');

    QJsonArray source;
    if (c.entries > 0) {
      QString folderPath = QString::fromUtf8(c.folder);
      if (folderPath.isEmpty()) folderPath = QStringLiteral("Top of Personal Folders/Contacts");
      source = SourceItems(store, folderPath);
      ASSERT_EQ(source.size(), c.entries);
    }
    for (const Utf8Reader& reader : readers) {
      QString error;
      const QJsonArray cards = reader.Read({file}, &error).array();
      ASSERT_TRUE(error.isEmpty()) << error.toStdString();
      ASSERT_EQ(cards.size(), c.entries) << reader.name.toStdString();
      // Each contact of the store has a card whose fields hold its values.
      int compared = 0;
      for (const QJsonValue item : source) {
        if (item["0x001A"].toString() != u"IPM.Contact") continue;
        const QString fullName = item["0x3001"].toString();
        const auto card = std::find_if(cards.begin(), cards.end(), [&](const QJsonValue& v) {
          return v["fn"].toString() == fullName;
        });
        ASSERT_NE(card, cards.end()) << fullName.toStdString();
        const QJsonObject fields = card->toObject();
        for (const auto& [field, tag] : kFields)
          EXPECT_EQ(fields[QLatin1String(field)].toString(), item[QLatin1String(tag)].toString())
              << reader.name.toStdString() << " " << fullName.toStdString() << " " << field;
        const QJsonArray home = fields["homeAdr"].toArray();
        EXPECT_EQ(home[2].toString(), item["0x3A5D"].toString());
        EXPECT_EQ(home[3].toString(), item["0x3A59"].toString());
        ++compared;
      }
      EXPECT_EQ(compared, c.entries - (QString::fromUtf8(c.file).contains(u"distlist") ? 1 : 0));
    }
  }
}

TEST_F(ExportVerb, PerContactFilesAreTheSameAtEveryStart) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString store = FixturePst(QStringLiteral("six-contacts.pst"));
  ProgramOutput run = Cli({"--format", "vcards", "--out", out, store});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  const QStringList files = Files(out);
  ASSERT_EQ(files.size(), 6);
  QStringList printed = run.out.split(u'\n', Qt::SkipEmptyParts);
  EXPECT_EQ(printed.takeLast(), u"6 Contacts Saved Successfully");
  ASSERT_EQ(printed.size(), 6);
  for (const QString& path : printed) EXPECT_TRUE(files.contains(QFileInfo(path).fileName()));
  // Three contacts have no first and last name: their files are named by the number alone.
  EXPECT_EQ(files.filter(QRegularExpression(QStringLiteral("^\\d+\\.vcf$"))).size(), 3);
  // A new start draws the same numbers: the same names, replaced.
  run = Cli({"--format", "vcards", "--out", out, store});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(Files(out), files);
}

TEST_F(ExportVerb, DefaultStoreAndTheOtherFormats) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString store = FixturePst(QStringLiteral("six-contacts.pst"));
  ProgramOutput run =
      Cli({"--format", "vcard", "--out", out + "/new/folder"}, {{"LUMIVEX_DEFAULT_STORE", store}});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.endsWith(u"\n6 Contacts Saved Successfully\n"));
  EXPECT_EQ(Files(out + "/new/folder").size(), 1);
  EXPECT_FALSE(run.err.contains(u'\r'));  // no progress line when stderr is not a terminal
  for (const char* format : {"xls", "wab"}) {
    const QString dir = out + u'/' + QString::fromUtf8(format);
    run = Cli({"--format", format, "--out", dir, store});
    ASSERT_EQ(run.status, 0) << format << ": " << run.err.toStdString();
    const QStringList files = Files(dir);
    ASSERT_EQ(files.size(), 1) << format;
    EXPECT_TRUE(files[0].startsWith(u"OutlookContacts-") &&
                files[0].endsWith(u'.' + QString::fromUtf8(format)));
    EXPECT_EQ(run.out, dir + u'/' + files[0] + QStringLiteral("\n6 Contacts Saved Successfully\n"));
  }
  // What the sheet and the book hold is pinned byte for byte by the output digests of these
  // same commands, and read back by independent readers in the worksheet and address-book tests.
}

TEST_F(ExportVerb, FailuresAreOneLineAndANonzeroStatus) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString six = FixturePst(QStringLiteral("six-contacts.pst"));
  struct Case {
    QStringList args;
    int status;
    const char* says;
    QMap<QString, QString> environment = {};
  };
  QFile(out + "/plain-file").open(QIODevice::WriteOnly);
  for (const Case& c : {
           Case{{"--format", "vcard", "--out", out + "/new", out + "/missing.pst"},
                1,
                "missing.pst"},
           Case{{"--format", "vcard", "--out", out, FixturePst("mail-only.pst")},
                1,
                "has no contacts folder"},
           Case{{"--format", "vcard", "--out", out, FixturePst("bad-header-checksum.pst")},
                1,
                "damaged"},
           Case{{"--format", "vcard", "--out", out, "--folder", "Nowhere", six}, 1, "Nowhere"},
           Case{{"--format", "vcard", "--out", out + "/plain-file", six}, 1, "not a folder"},
           Case{{"--format", "vcard", "--out", out + "/plain-file/sub", six},
                1,
                "cannot create the folder"},
           Case{{"--format", "wab", "--out", out, six},
                1,
                "xwab.def is missing",
                {{"LUMIVEX_TOOL_DIR", out + "/nowhere"}}},
           Case{{"--format", "html", "--out", out, six}, 2, "unknown format 'html'"},
           Case{{"--format", "vcard", six}, 2, "--out DIR is missing"},
           Case{{"--out", out, six}, 2, "--format is missing"},
           Case{{"--format", "vcard", "--code-page", "65001", "--out", out, six},
                2,
                "unknown code page"},
       }) {
    const ProgramOutput run = Cli(c.args, c.environment);
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.startsWith(u"lumivex-cli export: "));
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.says))) << run.err.toStdString();
  }
  EXPECT_EQ(Files(out), QStringList{"plain-file"});  // nothing half-written
  EXPECT_FALSE(QFileInfo::exists(out + "/new"));     // no folder made for a store that failed
}

// Among several stores, one without a contacts folder is left out and the others' contacts are
// written and sent: an archive of mail only with a warning; one that is damaged, or keeps its
// contacts in folders of another kind, as a store left out (exit 3). Alone, each is the failure
// above. A folder whose list of entries misses some is told as a damaged folder by the send.
TEST_F(ExportVerb, AStoreWithoutContactsAmongSeveralIsLeftOutAndTold) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString six = FixturePst(QStringLiteral("six-contacts.pst"));
  const QString damaged = SharedDir() + "/fixtures/damaged/";
  const struct {
    QString other;
    int status;
    const char* said;  // by export and send
  } cases[] = {
      {FixturePst(QStringLiteral("mail-only.pst")), 0,
       " has no contacts folder: it is left out (see 'lumivex-cli folders "},
      {damaged + "contacts-folder-node-lost-cp932.pst", 3,
       " has no contacts folder that can be read: 4 of its folders cannot be read, so the store "
       "is damaged"},
      {FixturePst(QStringLiteral("72-contacts-in-mail-folder.pst")), 3,
       " has no contacts folder, but keeps contacts in other folders (see 'lumivex-cli folders "},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.other.toStdString());
    const ProgramOutput run = Cli(
        {"--format", "vcard4", "--out", out + QStringLiteral("/all%1.vcf").arg(++n), six, c.other});
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    EXPECT_EQ(run.out.endsWith(u"\n6 Contacts Saved Successfully\n"), c.status == 0)
        << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(c.other + QLatin1String(c.said))) << run.err.toStdString();
    EXPECT_EQ(run.err.contains(u"incomplete: 1 store was left out;"), c.status == 3);
    const ProgramOutput sent =
        RunCli({"send", "--to", "vdir:" + out + QStringLiteral("/cards%1").arg(n), six, c.other},
               {{"XDG_STATE_HOME", out + "/state"}});
    EXPECT_EQ(sent.status, c.status) << sent.err.toStdString();
    EXPECT_TRUE(sent.out.startsWith(u"6 added,")) << sent.out.toStdString();
    EXPECT_TRUE(sent.err.contains(c.other + QLatin1String(c.said))) << sent.err.toStdString();
  }
  const ProgramOutput lost = RunCli(
      {"send", "--to", "vdir:" + out + "/lost", damaged + "entry-count-mismatch-generated-200.pst"},
      {{"XDG_STATE_HOME", out + "/state"}});
  EXPECT_EQ(lost.status, 3);
  EXPECT_TRUE(
      lost.err.contains(u"0 unreadable entries, a damaged folder (its contacts are not all "
                        u"sent)"))
      << lost.err.toStdString();
}

// An empty default contacts folder while another folder keeps the store's contacts: scan, the
// exports and the send each say where they are kept, after what they said before.
TEST_F(ExportVerb, AnEmptyDefaultFolderIsToldWhereTheContactsAreKept) {
  QFile description(out + "/elsewhere.json");
  ASSERT_TRUE(description.open(QIODevice::WriteOnly));
  description.write(R"({"defaultContacts": "Contacts", "folders": [
      {"path": "Inbox/a/People", "containerClass": "IPF.Contact",
       "generate": {"contacts": 3, "seed": 5}}]})");
  description.close();
  const QString store = out + "/elsewhere.pst";
  ASSERT_EQ(
      RunProgram(BinDir() + "/lumivex-pstgen", {description.fileName(), "--out", store}).status, 0);
  const QString people = "\"Top of Personal Folders/Inbox/a/People\"";
  const QString kept =
      "contacts are kept in " + people + " (3 contacts): name one with --folder " + people;
  const struct {
    QStringList args;
    int status;
    QString said;  // on stderr, the hint after it
  } cases[] = {
      {{"scan", store}, 0, "warning: \"Top of Personal Folders/Contacts\" holds no entries, but "},
      {{"export", "--format", "vcard4", "--out", out + "/a.vcf", store},
       1,
       "the folder \"Top of Personal Folders/Contacts\" holds none; nothing was written; "},
      {{"export", "--format", "vcard", "--out", out + "/b", store},
       1,
       "holds no contacts; nothing was written; "},
      {{"send", "--to", "vdir:" + out + "/cards", store},
       0,
       "warning: the contacts folder of " + store + " holds none, but "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    const ProgramOutput run = RunCli(c.args, {{"XDG_STATE_HOME", out + "/state"}});
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(c.said + kept)) << run.err.toStdString();
  }
}

// Unmerged, copies of one entry in two copies of a store keep their one UID: the export says that
// an address book given the file keeps one card of each. Merged, or of two stores that share no
// entry, nothing is said.
TEST_F(ExportVerb, CopiesOfOneEntryWrittenUnmergedAreTold) {
  const char* json = R"({"folders":[{"path":"Contacts","items":[
      {"FirstName":"Anna","LastName":"Berg","CreationTime":"2020-01-01T10:00:00Z"},
      {"FirstName":"Bo","LastName":"Lind","CreationTime":"2020-01-01T10:00:00Z"}]}]})";
  QFile file(out + "/copy.json");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(json);
  file.close();
  for (const char* name : {"live", "backup", "other"})
    ASSERT_EQ(RunProgram(BinDir() + "/lumivex-pstgen",
                         {out + "/copy.json", "--store-key",
                          name == std::string_view("other") ? "other" : "home", "--out",
                          out + "/" + name + ".pst"})
                  .status,
              0);
  const QString told =
      "lumivex-cli export: warning: 2 contacts written are copies of entries of another store, "
      "under the same UID: an address book given them keeps one card of each UID";
  const struct {
    QStringList args;
    bool said;
  } cases[] = {{{"--no-merge", out + "/live.pst", out + "/backup.pst"}, true},
               {{out + "/live.pst", out + "/backup.pst"}, false},
               {{"--no-merge", out + "/live.pst", out + "/other.pst"}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    const ProgramOutput run =
        Cli(QStringList{"--format", "vcard4", "--out", out + "/copies.vcf"} + c.args);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.startsWith(told), c.said) << run.err.toStdString();
  }
}

// What the code-page forms cannot take is told after the success line's file, as the window
// tells it: letters of other scripts became "?", notes of several lines and other values with a
// line break or a ";" between parts break vCard 2.1 cards, a text too long for a worksheet cell
// leaves the cell empty.
TEST_F(ExportVerb, LettersAndNotesTheFormCannotTakeAreTold) {
  // A store whose one contact every form takes whole.
  QFile plain(out + "/plain.json");
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.write(R"({"folders": [{"path": "Contacts", "items": [
      {"FirstName": "Ann", "LastName": "Lee", "Body": "One line."}]}]})");
  plain.close();
  ASSERT_EQ(
      RunProgram(BinDir() + "/lumivex-pstgen", {out + "/plain.json", "--out", out + "/plain.pst"})
          .status,
      0);
  // One whose company and street break a vCard 2.1 card's parts, and whose note is longer than a
  // worksheet cell.
  QFile odd(out + "/odd.json");
  ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
  odd.write(R"({"folders": [{"path": "Contacts", "items": [
      {"FirstName": "Ann", "LastName": "Lee", "CompanyName": "Lee; Partners",
       "BusinessAddressStreet": "12 Main St\r\nSuite 5", "Body": ")" +
            QByteArray(300, 'x') + R"("}]}]})");
  odd.close();
  ASSERT_EQ(RunProgram(BinDir() + "/lumivex-pstgen", {out + "/odd.json", "--out", out + "/odd.pst"})
                .status,
            0);
  struct Case {
    const char* format;
    QString store;
    bool letters, lines, parts = false, longText = false;
  };
  for (const Case& c : {Case{"vcards", BinDir() + "/every-field.pst", true, true, true},
                        Case{"xls", BinDir() + "/every-field.pst", true, false},
                        Case{"vcard", out + "/plain.pst", false, false},
                        Case{"vcard", out + "/odd.pst", false, false, true},
                        Case{"xls", out + "/odd.pst", false, false, false, true}}) {
    SCOPED_TRACE(c.format);
    const ProgramOutput run = Cli({"--format", c.format, "--code-page", "1252", "--out",
                                   out + "/told-" + QLatin1String(c.format), c.store});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.contains(u"cannot hold: each became \"?\""), c.letters)
        << run.err.toStdString();
    EXPECT_EQ(run.err.contains(u"of more than one line"), c.lines) << run.err.toStdString();
    EXPECT_EQ(run.err.contains(u"address books may put the parts after it into other fields"),
              c.parts)
        << run.err.toStdString();
    EXPECT_EQ(run.err.contains(u"1 contact has a text longer than a worksheet cell holds"),
              c.longText)
        << run.err.toStdString();
  }
}

// A damaged store's export tells the letters its form could not take too, before the summary
// of the damage that makes it incomplete.
TEST_F(ExportVerb, LossesOfTheFormAreToldOnADamagedStoreToo) {
  LUMIVEX_REQUIRE_FIXTURES();
  const ProgramOutput run =
      Cli({"--format", "vcard", "--code-page", "1252", "--out", out + "/damaged",
           SharedDir() + "/fixtures/damaged/node-page-checksum-broken-contact-substituted.pst"});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  const qsizetype letters = run.err.indexOf(u"cannot hold: each became \"?\"");
  EXPECT_GE(letters, 0) << run.err.toStdString();
  EXPECT_GT(run.err.indexOf(u"lumivex-cli export: incomplete: "), letters);
}

// Damaged stores in the merged forms: the contacts written and merged are counted in the
// summary, and a folder whose list of folders alone cannot be read is told as such (its own
// contacts are written).
TEST_F(ExportVerb, DamagedStoresInTheMergedFormsAreToldAsTheyAre) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString damaged = SharedDir() + "/fixtures/damaged/";
  ProgramOutput run = Cli({"--format", "vcard4", "--out", out + "/merged.vcf",
                           damaged + "node-page-checksum-broken-contact-substituted.pst"});
  EXPECT_EQ(run.status, 3);
  EXPECT_TRUE(run.err.contains(u"199 contacts written (2 entries merged into 1 contact; "))
      << run.err.toStdString();
  run = Cli({"--format", "vcard4", "--all-folders", "--out", out + "/all.vcf",
             damaged + "message-store-unreadable-six-contacts.pst"});
  EXPECT_EQ(run.status, 3);
  EXPECT_TRUE(run.err.contains(u"the folders under \"Top of Personal Folders/Contacts\" of "))
      << run.err.toStdString();
  EXPECT_FALSE(run.err.contains(u"the folder \"Top of Personal Folders/Contacts\" of "))
      << run.err.toStdString();
  EXPECT_EQ(FileBytes(out + "/all.vcf").count("BEGIN:VCARD"), 6);
  // A folder whose list lost every entry: nothing written, so its contacts are not said to be
  // "not all written".
  run = Cli({"--format", "vcard4", "--out", out + "/lost.vcf",
             damaged + "entry-count-mismatch-generated-200.pst"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.contains(u"nothing was written: ") &&
              run.err.contains(u"; 1 folder is damaged (its contacts cannot be found); "))
      << run.err.toStdString();
}

// Files that can take no byte (a limit on file size stands in for a full disk): every form
// fails with one line naming the file and why, and leaves nothing half-written behind but the
// single vCard file, which keeps the lines that went in.
TEST_F(ExportVerb, AFullDiskIsAFailureAndLeavesNoHalfWrittenFiles) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString six = FixturePst(QStringLiteral("six-contacts.pst"));
  for (const char* format : {"vcard", "vcards", "xls", "wab"}) {
    SCOPED_TRACE(format);
    const QString dir = out + u'/' + QLatin1String(format);
    const ProgramOutput run =
        RunProgram("sh",
                   {"-c", "trap '' XFSZ; ulimit -f 0; exec \"$@\"", "sh", BinDir() + "/lumivex-cli",
                    "export", "--format", format, "--out", dir, six},
                   {{"LC_ALL", "en_US.UTF-8"}});
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(run.out.contains(u"Saved Successfully")) << run.out.toStdString();
    EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(dir)) << run.err.toStdString();
    // Nothing cut short under the file's name, nor a temporary file beside it.
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty())
        << QDir(dir).entryList(QDir::Files | QDir::Hidden).join(u' ').toStdString();
  }
}

// Some contacts fit in the files and some do not (a file-size limit of 1 KB, and notes of 3,000
// characters in two of five contacts): the export goes on, names each contact that got no file,
// and does not call it a success.
TEST_F(ExportVerb, ContactsWithoutAFileMakeTheExportIncomplete) {
  QFile description(out + "/five.json");
  ASSERT_TRUE(description.open(QIODevice::WriteOnly));
  const QByteArray longNote(3000, 'n');
  description.write(R"({"folders": [{"path": ["Contacts"], "containerClass": "IPF.Contact",
      "items": [{"FirstName": "Ann"}, {"FirstName": "Bo", "Body": ")" +
                    longNote + R"("},
                {"FirstName": "Cy"}, {"FirstName": "Di", "Body": ")" +
                    longNote + R"("},
                {"FirstName": "Ed"}]}]})");
  description.close();
  const ProgramOutput made = RunProgram(BinDir() + "/lumivex-pstgen",
                                        {description.fileName(), "--out", out + "/five.pst"});
  ASSERT_EQ(made.status, 0) << made.err.toStdString();
  const QString dir = out + "/cards";
  const ProgramOutput run =
      RunProgram("sh",
                 {"-c", "trap '' XFSZ; ulimit -f 2; exec \"$@\"", "sh", BinDir() + "/lumivex-cli",
                  "export", "--format", "vcards", "--out", dir, out + "/five.pst"},
                 {{"LC_ALL", "en_US.UTF-8"}});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  EXPECT_FALSE(run.out.contains(u"Saved Successfully")) << run.out.toStdString();
  const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3) << run.err.toStdString();
  EXPECT_TRUE(lines[0].contains(QRegularExpression("entry 2 got no file: .*/Bo\\d+\\.vcf")))
      << lines[0].toStdString();
  EXPECT_TRUE(lines[1].contains(QRegularExpression("entry 4 got no file: .*/Di\\d+\\.vcf")))
      << lines[1].toStdString();
  EXPECT_TRUE(lines[2].contains(u"incomplete: 2 of 5 contacts got no file"))
      << lines[2].toStdString();
  EXPECT_EQ(Files(dir).size(), 3);
}

// Stores that our reader opens but whose entries are damaged: every entry not read whole is
// named (folder, position, reason), a summary follows, the status is 3, and no form claims
// success. Where none of them can be read no file is kept, and the status is then 1.
TEST_F(ExportVerb, UnreadableEntriesAreListedAndTheStatusIsThree) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  if (!QFileInfo::exists(sample))
    LUMIVEX_MISSING("the sample store " << sample.toStdString() << " has not been built");
  // The sample store with the 512 bytes at 58,880 zeroed: the block of its 36th contact.
  QFile::copy(sample, out + "/zeroed.pst");
  QFile zeroed(out + "/zeroed.pst");
  ASSERT_TRUE(zeroed.open(QIODevice::ReadWrite));
  zeroed.seek(58880);
  zeroed.write(QByteArray(512, '\0'));
  zeroed.close();
  struct Case {
    QString store;
    int unreadable;  // warning lines
    QString says;    // in each
    int written;     // contacts in the address book
  };
  for (const Case& c : {
           Case{out + "/zeroed.pst", 1,
                "entry 36 of \"Top of Personal Folders/Contacts\" cannot be read: ", 45},
           // Neither of its two entries can be read: no form keeps a file.
           Case{StoreOfUnreadableEntries(out), 2,
                "of \"Top of Personal Folders/Contacts\" cannot be read: mismatch in the checksum",
                0},
           // A damaged name-to-id map: every entry is written without its named fields, and told.
           Case{SharedDir() + "/fixtures/damaged/name-map-block-overwritten.pst", 6,
                "is not whole: written without its e-mail addresses, business address", 6},
       }) {
    for (const char* format : {"vcard", "vcards", "xls", "wab"}) {
      SCOPED_TRACE(c.store.toStdString() + " " + format);
      const QString dir = out + "/" + QFileInfo(c.store).baseName() + "-" + format;
      const ProgramOutput run = Cli({"--format", format, "--out", dir, c.store});
      const bool empty = c.written == 0;
      EXPECT_EQ(run.status, empty ? 1 : 3) << run.err.toStdString();
      EXPECT_FALSE(run.out.contains(u"Saved Successfully")) << run.out.toStdString();
      // Each unreadable entry, the letters and notes the form could not take, then the summary.
      const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
      ASSERT_FALSE(lines.isEmpty());
      EXPECT_EQ(lines.filter(c.says).size(), c.unreadable) << run.err.toStdString();
      EXPECT_TRUE(lines.back().contains(empty ? u"nothing was written" : u"incomplete: "))
          << lines.back().toStdString();
      if (empty) {
        EXPECT_TRUE(Files(dir).isEmpty()) << Files(dir).join(u' ').toStdString();
      } else if (format == std::string_view("wab")) {
        const ProgramOutput dump = RunCli({"wab-dump", "--json", dir + "/" + Files(dir).value(0)});
        EXPECT_EQ(QJsonDocument::fromJson(dump.out.toUtf8())["count"].toInt(), c.written);
      }
    }
  }
}

TEST_F(ExportVerb, HelpExplainsFormatsNamesAndCodePage) {
  const ProgramOutput run = Cli({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* text : {"vcard", "vcards", "xls", "wab", "OutlookContacts-DD-MM-YYYY-hh-mm-ss",
                           "AnnLee123.vcf", "code page", "1252", "932", "Examples:", "--folder",
                           "LUMIVEX_DEFAULT_STORE", "Exit status"})
    EXPECT_TRUE(run.out.contains(QString::fromUtf8(text))) << text;
}

TEST_F(ExportVerb, ProgressLineOnATerminal) {
  LUMIVEX_REQUIRE_FIXTURES();
  if (!QFileInfo::exists(QStringLiteral("/usr/bin/script")))
    LUMIVEX_MISSING("/usr/bin/script (Debian: bsdutils) is needed to give the run a terminal");
  const QString command = QStringLiteral("'%1/lumivex-cli' export --format vcards --out '%2' '%3'")
                              .arg(BinDir(), out, FixturePst(QStringLiteral("six-contacts.pst")));
  const ProgramOutput run = RunProgram("/usr/bin/script", {"-qec", command, "/dev/null"});
  EXPECT_EQ(run.status, 0);
  const QString terminal = run.out;
  EXPECT_TRUE(terminal.contains(u"\rSaving Contacts 1/6")) << terminal.toStdString();
  EXPECT_TRUE(terminal.contains(u"Saving Contacts 6/6\r\n")) << terminal.toStdString();
  EXPECT_TRUE(terminal.endsWith(u"6 Contacts Saved Successfully\r\n"));
  // Each file's path stands on a line of its own above the progress line.
  EXPECT_EQ(terminal.count(QRegularExpression(QStringLiteral("(^|\\033\\[K)/[^\\r]+\\.vcf\\r\\n"))),
            6);
}

// Past 32,767 entries the progress line still counts every entry (the window's counter stops
// there): 40,000 synthetic contacts end on "40000/40000".
TEST_F(ExportVerb, ProgressCountsEveryEntryPastTheWindowsCounter) {
  if (!QFileInfo::exists(QStringLiteral("/usr/bin/script")))
    GTEST_SKIP() << "/usr/bin/script (Debian: bsdutils) is needed to give the run a terminal";
  const QString store = out + "/40000.pst";
  const ProgramOutput made = RunProgram(BinDir() + "/lumivex-pstgen",
                                        {"--contacts", "40000", "--seed", "1", "--out", store});
  ASSERT_EQ(made.status, 0) << made.err.toStdString();
  const QString command = QStringLiteral("'%1/lumivex-cli' export --format vcard --out '%2' '%3'")
                              .arg(BinDir(), out + "/cards", store);
  const ProgramOutput run = RunProgram("/usr/bin/script", {"-qec", command, "/dev/null"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.contains(u"\rSaving Contacts 40000/40000"))
      << run.out.right(300).toStdString();
  EXPECT_TRUE(run.out.endsWith(u"40000 Contacts Saved Successfully\r\n"));
}

// One file per contact where no file can be written (a limit of 0 bytes a file): the export
// stops after ten contacts in a row, with one line saying why and what to do, not one line for
// each of the sample's 46 contacts.
TEST_F(ExportVerb, PerContactFilesThatKeepFailingStopTheExportEarly) {
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  const QString dir = out + "/cards";
  const ProgramOutput run =
      RunProgram("sh",
                 {"-c", "trap '' XFSZ; ulimit -f 0; exec \"$@\"", "sh", BinDir() + "/lumivex-cli",
                  "export", "--format", "vcards", "--out", dir, sample},
                 {{"LC_ALL", "en_US.UTF-8"}});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
  EXPECT_TRUE(run.err.startsWith(
      QStringLiteral(
          "lumivex-cli export: stopped after 10 contacts in a row got no file: the disk holding %1 "
          "is full (File too large); 0 of the 46 contacts were written; free some disk space or "
          "choose another folder for --out")
          .arg(dir)))
      << run.err.toStdString();
  EXPECT_TRUE(Files(dir).isEmpty());
}

// A folder the user may not write in gets the same words in every form.
TEST_F(ExportVerb, AFolderThatRefusesFilesHasOneWordingInEveryForm) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs the exports as the user nobody, which needs root";
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  const QString locked = out + "/locked";
  QDir().mkpath(locked);
  for (const char* format : {"vcard", "vcards", "xls", "wab", "vcard4", "csv"}) {
    SCOPED_TRACE(format);
    const bool oneFile = std::string_view(format) == "vcard4" || std::string_view(format) == "csv";
    const ProgramOutput run = RunProgram(
        "setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", BinDir() + "/lumivex-cli", "export",
         "--format", format, "--out", oneFile ? locked + "/all.file" : locked + "/cards", sample},
        {{"HOME", locked}});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              QStringLiteral("lumivex-cli export: you may not write in the folder %1 (Permission "
                             "denied): choose another folder for --out\n")
                  .arg(locked));
  }
  EXPECT_TRUE(QDir(locked).isEmpty());
}
