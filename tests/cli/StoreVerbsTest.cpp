// lumivex-cli folders and scan, run as the user runs them: output, --json, exit status and the
// one line on stderr for bad input.
#include "source/PstFormat.h"
#include "tests/convert/ProgramRun.h"
#include "tests/support/TestPaths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <span>

namespace lumivex {
namespace {

using testing::FixturePst;

using CliRun = testing::ProgramOutput;

// Runs with an empty home folder, so only `defaultStore` can be the default profile's store.
CliRun Cli(const QStringList& args, const QString& defaultStore = QString()) {
  const CliRun run = testing::RunProgram(
      testing::BinDir() + "/lumivex-cli", args,
      {{"LUMIVEX_DEFAULT_STORE", defaultStore}, {"HOME", testing::ScratchDir("cli-empty-home")}},
      30000);
  EXPECT_TRUE(run.finished) << "lumivex-cli did not finish: " << args.join(u' ').toStdString();
  return run;
}

// Exit status 1 or 2 and exactly one line on stderr holding `text`.
void ExpectOneLineError(const CliRun& run, int status, const QString& text) {
  EXPECT_EQ(run.status, status) << run.err.toStdString();
  EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
  EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
  EXPECT_TRUE(run.err.startsWith("lumivex-cli ")) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains(text)) << run.err.toStdString();
}

TEST(StoreVerbs, FoldersPrintsTheIndentedTree) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString store = FixturePst("contact-and-distlist.pst");
  const CliRun run = Cli({"folders", store});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.isEmpty());
  const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 24);
  EXPECT_EQ(lines[0], "Personal Folders (" + store + ")");
  EXPECT_TRUE(lines.contains("  Top of Personal Folders  [no class, 0 entries]"));
  EXPECT_TRUE(lines.contains("    Contacts  [IPF.Contact, 2 entries]  (default contacts)"));
  EXPECT_TRUE(lines.contains("    Calendar  [IPF.Appointment, 1 entry]"));
}

// A folder without a name gets a stand-in in the tree, not a bare "[class, count]" that looks
// like a part of the line before it.
TEST(StoreVerbs, FoldersShowsAFolderWithoutAName) {
  LUMIVEX_REQUIRE_FIXTURES();
  const CliRun run = Cli(
      {"folders", testing::SharedDir() + "/fixtures/damaged/email-type-unknown-generated-200.pst"});
  EXPECT_TRUE(run.out.contains("\n    (no name)  [IPF.Contact, 200 entries]  (default contacts)\n"))
      << run.out.toStdString();
}

TEST(StoreVerbs, FoldersJsonHoldsPathsClassesAndCounts) {
  LUMIVEX_REQUIRE_FIXTURES();
  const CliRun run = Cli({"folders", "--json", FixturePst("japanese-contact-ansi-cp932.pst")});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  const QJsonObject root = QJsonDocument::fromJson(run.out.toUtf8()).object();
  EXPECT_EQ(root["defaultContactsFolder"].toString(),
            "Outlook データ ファイルのトップ/連絡先 (Contact dedicated)");
  const QJsonArray top = root["folders"].toArray();
  ASSERT_GE(top.size(), 2);
  const QJsonObject personal = top[1].toObject();
  EXPECT_EQ(personal["name"].toString(), "Outlook データ ファイルのトップ");
  const QJsonObject contacts = personal["folders"].toArray()[1].toObject();
  EXPECT_EQ(contacts["containerClass"].toString(), "IPF.Contact");
  EXPECT_EQ(contacts["defaultItemType"].toInt(), 2);
  EXPECT_EQ(contacts["count"].toInt(), 1);
}

// Folder names are data: a "%1" or a "/" in one comes out as it is, and --folder finds it again.
TEST(StoreVerbs, FolderNamesComeOutAsTheyAre) {
  const QString dir = testing::ScratchDir("cli-folder-names");
  QFile description(dir + "/names.json");
  ASSERT_TRUE(description.open(QIODevice::WriteOnly));
  description.write(R"({"folders": [
      {"path": ["Contacts", "Deals 50%1 off"], "containerClass": "IPF.Contact",
       "items": [{"FirstName": "Ann"}]},
      {"path": ["Contacts", "Family/Friends"], "containerClass": "IPF.Contact",
       "items": [{"FirstName": "Bo"}, {"FirstName": "Cy"}]}]})");
  description.close();
  const CliRun made = testing::RunProgram(testing::BinDir() + "/lumivex-pstgen",
                                          {description.fileName(), "--out", dir + "/names.pst"});
  ASSERT_EQ(made.status, 0) << made.err.toStdString();

  const CliRun run = Cli({"folders", "--json", dir + "/names.pst"});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  QJsonArray below;
  for (const QJsonValue top : QJsonDocument::fromJson(run.out.toUtf8())["folders"].toArray())
    for (const QJsonValue sub : top["folders"].toArray())
      if (sub["name"] == "Contacts") below = sub["folders"].toArray();
  ASSERT_EQ(below.size(), 2) << run.out.toStdString();
  EXPECT_EQ(below[0].toObject()["path"].toString(),
            "Top of Personal Folders/Contacts/Deals 50%1 off");
  EXPECT_EQ(below[0].toObject()["count"].toInt(), 1);
  EXPECT_EQ(below[1].toObject()["name"].toString(), "Family/Friends");

  const CliRun scan = Cli(
      {"scan", dir + "/names.pst", "--folder", "Top of Personal Folders/Contacts/Family/Friends"});
  EXPECT_EQ(scan.status, 0) << scan.err.toStdString();
  EXPECT_TRUE(scan.out.startsWith("2 entries in ")) << scan.out.toStdString();
}

TEST(StoreVerbs, ScanCountsTheDefaultOrTheNamedFolder) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString six = FixturePst("six-contacts.pst");
  CliRun run = Cli({"scan", six});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, "6 entries in \"Top of Personal Folders/Contacts\" of " + six + "\n");

  // The default profile's store when STORE is left out.
  run = Cli({"scan", "--json"}, FixturePst("contact-and-distlist.pst"));
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
  EXPECT_EQ(json["count"].toInt(), 2);
  EXPECT_EQ(json["contactsFolder"].toBool(), true);
  EXPECT_EQ(json["folder"].toString(), "Top of Personal Folders/Contacts");

  // A mail folder is counted, with a warning.
  run = Cli({"scan", FixturePst("72-contacts-in-mail-folder.pst"), "--folder",
             "Top of Personal Folders/myInbox"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.startsWith("72 entries in ")) << run.out.toStdString();
  EXPECT_TRUE(
      run.err.contains(QStringLiteral("warning: \"Top of Personal Folders/myInbox\" is "
                                      "not a contacts folder")))
      << run.err.toStdString();

  run = Cli({"scan", "--folder=Root - Mailbox/IPM_SUBTREE/Contacts",
             FixturePst("offline-store-4k-pages.ost")});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.startsWith("0 entries in ")) << run.out.toStdString();
}

TEST(StoreVerbs, BadInputGivesOneLineAndAnExitStatus) {
  const QString scratch = testing::ScratchDir("cli-bad-input");
  ExpectOneLineError(Cli({"scan", scratch + "/none.pst"}), 1, "no such file");
  ExpectOneLineError(Cli({"folders", scratch}), 1, "it is a folder");
  ExpectOneLineError(Cli({"scan"}), 1, "LUMIVEX_DEFAULT_STORE");
  // A default store that cannot be opened is said to be the one the variable names.
  ExpectOneLineError(Cli({"scan"}, scratch + "/none.pst"), 1,
                     "no such file; check the path (the default store, named by "
                     "LUMIVEX_DEFAULT_STORE");
  ExpectOneLineError(Cli({"scan", "--bogus"}), 2, "unknown option '--bogus'");
  ExpectOneLineError(Cli({"scan", "a.pst", "b.pst"}), 2, "one store file at most");
  ExpectOneLineError(Cli({"scan", "--folder"}), 2, "--folder needs a value");
  if (testing::SharedDir().isEmpty()) return;
  // The way out on this command line: naming a folder.
  ExpectOneLineError(Cli({"scan", FixturePst("mail-only.pst")}), 1,
                     "has no contacts folder; name one with --folder PATH");
  ExpectOneLineError(
      Cli({"scan", FixturePst("six-contacts.pst"), "--folder", "Top of Personal Folders/Nope"}), 1,
      "no folder \"Top of Personal Folders/Nope\"");
  ExpectOneLineError(Cli({"folders", FixturePst("bad-header-checksum.pst")}), 1, "damaged");
}

TEST(StoreVerbs, HelpAnswersTheQuestions) {
  for (const QString verb : {"scan", "folders"}) {
    const CliRun run = Cli({verb, "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.startsWith("Usage: lumivex-cli " + verb));
    EXPECT_TRUE(run.out.contains("--json"));
    EXPECT_TRUE(run.out.contains("Exit status"));
  }
  EXPECT_TRUE(Cli({"scan", "-h"}).out.contains("not a contacts folder is counted too"));
}

// What is not a store is refused at once, with one line saying what it is: a pipe would block
// the open for ever, and a device reads without end.
TEST(StoreVerbs, PipesAndDevicesAreRefusedBeforeOpening) {
  const QString fifo = testing::ScratchDir("cli-fifo") + "/f.pst";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  for (const QString& verb : {QStringLiteral("folders"), QStringLiteral("scan")}) {
    ExpectOneLineError(Cli({verb, fifo}), 1, "it is a pipe (FIFO), not a file");
    ExpectOneLineError(Cli({verb, "/dev/zero"}), 1, "/dev/zero: it is a device, not a file");
  }
}

// Damaged stores: the verbs end, say what cannot be read, and exit with 3 where they ran to
// their end; an undamaged store gives 0 and nothing on stderr.
TEST(StoreVerbs, DamagedStoresAreReportedWithStatusThree) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString damaged = testing::SharedDir() + "/fixtures/damaged/";
  struct Case {
    QStringList args;
    int status;
    int warnings;  // lines on stderr before the summary
    const char* says;
  };
  for (const Case& c : {
           Case{{"folders", damaged + "node-without-data-block.pst"},
                3,
                0,
                "part of the folder tree cannot be read"},
           // Damage of the store found while reading it is told, as the export tells it.
           Case{{"scan", damaged + "node-without-data-block.pst"},
                3,
                1,
                "(the folder tree is damaged)"},
           // A folder whose own node is lost, as `folders` marks it, though not the contacts.
           Case{{"scan", damaged + "name-map-lost-silently-six-contacts.pst"},
                3,
                1,
                "a folder at the top of the folder tree cannot be read (the folder's node cannot "
                "be read"},
           Case{{"scan", "--check", damaged + "subnode-count-zero-picture-dropped.pst"},
                3,
                1,
                "is not whole: it says it has attachments"},
           // Counted from the folder's list without reading the entries; --check reads them.
           Case{{"scan", damaged + "name-map-block-overwritten.pst"}, 0, 0, ""},
           // Every entry is written without its named fields, as every export says.
           Case{{"scan", "--check", damaged + "name-map-block-overwritten.pst"},
                3,
                6,
                "is not whole: written without its e-mail addresses, business address, web page"},
           // Its categories cannot be read: written without them, as every export says.
           Case{{"scan", "--check", damaged + "one-entry-unreadable-generated-200.pst"},
                3,
                1,
                "entry 72 of \"Top of Personal Folders/Contacts\" is not whole: written without "
                "what could not be read (its categories cannot be read"},
           Case{{"scan", FixturePst("six-contacts.pst")}, 0, 0, ""},
       }) {
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
    if (c.status == 0) {
      EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
      continue;
    }
    ASSERT_EQ(lines.size(), c.warnings + 1) << run.err.toStdString();
    for (int i = 0; i < c.warnings; ++i)
      EXPECT_TRUE(lines[i].contains(c.says)) << lines[i].toStdString();
    EXPECT_TRUE(lines.back().contains("incomplete: ")) << lines.back().toStdString();
    if (c.warnings == 0) {
      EXPECT_TRUE(lines.back().contains(c.says)) << lines.back().toStdString();
    }
  }
  // scan --json lists them too, each under what the exports call it.
  struct Listed {
    const char* store;
    QList<int> unreadable, damaged;  // positions
  };
  for (const Listed& l : {
           Listed{"name-map-block-overwritten.pst", {}, {1, 2, 3, 4, 5, 6}},
           Listed{"one-entry-unreadable-generated-200.pst", {}, {72}},
           Listed{"data-pointer-to-other-contact.pst", {181, 184}, {}},
       }) {
    SCOPED_TRACE(l.store);
    const CliRun run = Cli({"scan", "--check", "--json", damaged + l.store});
    const QJsonDocument json = QJsonDocument::fromJson(run.out.toUtf8());
    const auto positions = [&](const char* key) {
      QList<int> listed;
      for (const QJsonValue& entry : json[QLatin1String(key)].toArray())
        listed << entry["position"].toInt();
      return listed;
    };
    EXPECT_EQ(positions("unreadable"), l.unreadable) << run.out.toStdString();
    EXPECT_EQ(positions("damaged"), l.damaged) << run.out.toStdString();
  }
}

// The contents table of six-contacts.pst spoiled behind a valid checksum (two bytes of its
// block changed, found by the mutation campaign): the table lists no entry while the folder
// records six. scan and export say that entries are missing instead of counting 0 as whole.
TEST(StoreVerbs, EntriesMissingFromTheFolderListAreReported) {
  LUMIVEX_REQUIRE_FIXTURES();
  QFile six(FixturePst("six-contacts.pst"));
  ASSERT_TRUE(six.open(QIODevice::ReadOnly));
  QByteArray bytes = six.readAll();
  constexpr int kBlock = 33280, kTrailer = kBlock + 512 - 16;  // the table's block, its trailer
  bytes[kBlock + 99] = char(0x80);
  bytes[kBlock + 309] = char(0x20);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
  const uint16_t size = uint16_t(data[kTrailer] | (data[kTrailer + 1] << 8));
  const uint32_t crc = pst::Crc32(std::span(data + kBlock, size));
  for (int i = 0; i < 4; ++i) bytes[kTrailer + 4 + i] = char(crc >> (8 * i));
  const QString path = testing::ScratchDir("cli-missing-entries") + "/six.pst";
  QFile out(path);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(bytes);
  out.close();

  const QString says = "is damaged: the folder records 6 entries, but its list of entries holds 0";
  CliRun run = Cli({"scan", path});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains(says)) << run.err.toStdString();
  // The store's damage (another reader took it), the folder's, the summary.
  EXPECT_EQ(run.err.count(u'\n'), 3) << run.err.toStdString();
  run = Cli({"export", "--format", "vcard", "--out", testing::ScratchDir("cli-missing-out"), path});
  EXPECT_EQ(run.status, 1) << run.err.toStdString();  // none of the six to write
  EXPECT_TRUE(run.err.contains(says)) << run.err.toStdString();
  EXPECT_FALSE(run.out.contains("Saved Successfully")) << run.out.toStdString();
  // folders marks the folder in the tree, beside the count of its list.
  run = Cli({"folders", path});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  const QStringList lines = run.out.split(u'\n').filter("Contacts  [IPF.Contact, 0 entries]");
  ASSERT_EQ(lines.size(), 1) << run.out.toStdString();
  EXPECT_TRUE(lines[0].contains("damaged: " + says.mid(says.indexOf("the folder records"))))
      << lines[0].toStdString();
}

}  // namespace
}  // namespace lumivex
