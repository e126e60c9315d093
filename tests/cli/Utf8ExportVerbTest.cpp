// lumivex-cli export --format vcard4|vcard3|csv as a program: every folder and a file per
// contact, unreadable entries listed with the export ending in status 3 (1 when none was read),
// wrong arguments refused.
#include "tests/contact/Utf8Readers.h"
#include "tests/convert/ProgramRun.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <tuple>

#include <gtest/gtest.h>

using namespace lumivex::testing;

namespace {

ProgramOutput Cli(const QStringList& args) {
  return RunCli(QStringList{"export"} + args);
}

class Utf8ExportVerb : public ::testing::Test {
 protected:
  void SetUp() override { out = ScratchDir(QStringLiteral("utf8-export-verb")); }
  QString out;
};

}  // namespace

TEST_F(Utf8ExportVerb, EveryFolderAndFilePerContact) {
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  if (!QFileInfo::exists(sample)) LUMIVEX_MISSING("the sample store has not been built");
  const QString dir = out + QStringLiteral("/cards");
  const ProgramOutput run =
      Cli({"--format", "vcard3", "--per-contact", "--all-folders", "--out", dir, sample});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
  const QString summary = lines.takeLast();
  const QStringList names = QDir(dir).entryList(QDir::Files);
  // One file per entry of both contacts folders of the sample store, each listed as written.
  EXPECT_EQ(names.size(), lines.size());
  EXPECT_TRUE(summary.startsWith(QString::number(names.size()) +
                                 QStringLiteral(" Contacts Saved Successfully")))
      << summary.toStdString();
  QStringList files;
  for (const QString& name : names) files << dir + u'/' + name;
  EXPECT_EQ(VObjectReader().ReadOrFail(files).array().size(), names.size());
  // The folder below the top is each contact's category.
  const QJsonArray cards = EvolutionCardReader().ReadOrFail(files).array();
  int suppliers = 0;
  for (const QJsonValue card : cards)
    suppliers += card["categories"].toString().split(u',').contains(u"Contacts/Suppliers");
  EXPECT_EQ(suppliers, 3);
}

// --exclude-folder that names no folder of the store leaves nothing out: a misspelt path is told.
TEST_F(Utf8ExportVerb, AnExcludedFolderNoStoreHasIsTold) {
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  if (!QFileInfo::exists(sample)) LUMIVEX_MISSING("the sample store has not been built");
  struct Case {
    const char* excluded;
    bool told;
  };
  for (const Case& c : {Case{"Top of Personal Folders/Contacts/Suppliers", false},
                        Case{"Top of Personal Folders/Contacts/Supplier", true}}) {
    SCOPED_TRACE(c.excluded);
    const ProgramOutput run = Cli({"--format", "vcard4", "--all-folders", "--dry-run",
                                   "--exclude-folder", c.excluded, sample});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.contains(QStringLiteral("\"%1\" names no folder").arg(c.excluded)), c.told)
        << run.err.toStdString();
  }
}

// Exports into a folder, one after another within a second or two: each keeps a file of its own.
TEST_F(Utf8ExportVerb, ExportsIntoAFolderNeverReplaceOneAnother) {
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  if (!QFileInfo::exists(sample)) LUMIVEX_MISSING("the sample store has not been built");
  const QString dir = out + QStringLiteral("/timed/");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Cli({"--format", "csv", "--out", dir, sample}).status, 0);
  EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 3)
      << QDir(dir).entryList().join(u' ').toStdString();
}

// A ";" in a category or a child's name, which a CSV cell separates its values by, becomes ","
// there and is told; vCard keeps it and says nothing.
TEST_F(Utf8ExportVerb, ASemicolonInAListValueIsToldWhereCsvChangesIt) {
  QFile json(out + "/semi.json");
  ASSERT_TRUE(json.open(QIODevice::WriteOnly));
  json.write(R"({"folders": [{"path": "Contacts", "items": [
      {"FirstName": "Ann", "LastName": "Lee", "Categories": ["Famille; proche", "Work"]},
      {"FirstName": "Bo", "LastName": "Ek", "Categories": ["Work"]}]}]})");
  json.close();
  ASSERT_EQ(RunProgram(BinDir() + "/lumivex-pstgen", {json.fileName(), "--out", out + "/semi.pst"})
                .status,
            0);
  for (const char* format : {"csv", "vcard4"}) {
    SCOPED_TRACE(format);
    const ProgramOutput run =
        Cli({"--format", format, "--out", out + "/semi-" + format, out + "/semi.pst"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.contains("1 contact has a category or child's name holding \";\""),
              QLatin1String(format) == "csv")
        << run.err.toStdString();
  }
}

TEST_F(Utf8ExportVerb, UnreadableEntriesAreListedAndTheStatusSaysWhatWasWritten) {
  LUMIVEX_REQUIRE_FIXTURES();
  struct Case {
    QString store;
    int entries, skipped;
  };
  for (const Case& c : {
           // Two entries share one data block: neither can be told to be the one it holds.
           Case{SharedDir() + QStringLiteral("/fixtures/damaged/data-pointer-to-other-contact.pst"),
                205, 2},
           Case{StoreOfUnreadableEntries(out), 2, 2},
       }) {
    SCOPED_TRACE(c.store.toStdString());
    ASSERT_FALSE(c.store.isEmpty());
    const QString file = out + QStringLiteral("/damaged.vcf");
    QFile::remove(file);
    const ProgramOutput run = Cli({"--format", "vcard4", "--no-merge", "--out", file, c.store});
    const QRegularExpression entry(QStringLiteral(
        "^lumivex-cli export: warning: entry (\\d+) of \"Top of Personal Folders/Contacts\" "
        "cannot be read: .+$"));
    const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), c.skipped + 1) << run.err.toStdString();
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
      EXPECT_TRUE(entry.match(lines[i]).hasMatch()) << lines[i].toStdString();
    // With none read, nothing is written: no file, and the status is 1.
    if (c.skipped == c.entries) {
      EXPECT_EQ(run.status, 1) << run.err.toStdString();
      EXPECT_EQ(lines.last(),
                QStringLiteral("lumivex-cli export: nothing was written: none of the %1 entries "
                               "could be read; see the lines above")
                    .arg(c.entries));
      EXPECT_FALSE(QFileInfo::exists(file));
      continue;
    }
    EXPECT_EQ(run.status, 3) << run.err.toStdString();
    EXPECT_EQ(lines.last(),
              QStringLiteral("lumivex-cli export: incomplete: %1 of %2 entries could not be read "
                             "(they are left out, the other %3 were written); see the lines above")
                  .arg(c.skipped)
                  .arg(c.entries)
                  .arg(c.entries - c.skipped));
    // The file holds the other entries, and nothing of those skipped.
    EXPECT_EQ(VObjectReader().ReadOrFail({file}).array().size(), c.entries - c.skipped);
  }
}

// A damaged name-to-id map: every entry is written with its names, company and telephones and
// without its e-mail addresses (named properties), each told as not whole, and the status is 3.
TEST_F(Utf8ExportVerb, ADamagedNameMapWritesEveryEntryWithoutItsNamedFields) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QStringList names = {"Sebastian Wright",  "Wichert Kroos",     "Christoffer van de Meeberg",
                             "Margaret J. Tolle", "Matthew R. Wilcox", "Bertha A. Buell"};
  for (const char* store :
       {"name-map-block-overwritten.pst", "name-map-lost-silently-six-contacts.pst",
        "name-map-stream-zeroed-six-contacts.pst"}) {
    for (const char* format : {"vcard4", "vcard3", "csv"}) {
      SCOPED_TRACE(std::string(store) + " " + format);
      const QString file = out + QStringLiteral("/%1-%2").arg(store, format);
      const ProgramOutput run = Cli({"--format", format, "--no-merge", "--out", file,
                                     SharedDir() + "/fixtures/damaged/" + store});
      EXPECT_EQ(run.status, 3) << run.err.toStdString();
      const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
      ASSERT_EQ(lines.size(), 7) << run.err.toStdString();
      for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(lines[i].startsWith(
            QStringLiteral("lumivex-cli export: warning: entry %1 of \"Top of Personal "
                           "Folders/Contacts\" is not whole: written without its e-mail addresses")
                .arg(i + 1)))
            << lines[i].toStdString();
      EXPECT_EQ(lines[6], QStringLiteral("lumivex-cli export: incomplete: 6 of 6 contacts were "
                                         "written without some of their fields; see the lines "
                                         "above"));
      ASSERT_TRUE(QFileInfo::exists(file));
      // What a reader sees: every contact by its full name (the CSV, which has no such column,
      // by its company), and no e-mail address.
      QStringList written, emails;
      if (QLatin1String(format) == u"csv") {
        const QJsonArray rows =
            RowsByHeading(PythonCsvReader().ReadOrFail({file}).array()[0].toArray());
        for (const QJsonValue& row : rows) {
          written << row["Company"].toString();
          emails << row["E-mail Address"].toString();
        }
        EXPECT_EQ(written, (QStringList{"", "Grade A Investment", "Krauses Sofa Factory", "Adaptaz",
                                        "Briazz", "Awthentikz"}));
      } else {
        for (const QJsonValue& card : VObjectReader().ReadOrFail({file}).array()) {
          written << card["FN"][0]["value"].toString();
          if (card.toObject().contains(u"EMAIL")) emails << card["EMAIL"][0]["value"].toString();
        }
        EXPECT_EQ(written, names);
      }
      emails.removeAll(QString());
      EXPECT_TRUE(emails.isEmpty()) << emails.join(u' ').toStdString();
    }
  }
}

TEST_F(Utf8ExportVerb, WrongArgumentsAreRefused) {
  const QString sample = BinDir() + QStringLiteral("/sample.pst");
  struct Case {
    QStringList args;
    const char* says;
  };
  const Case cases[] = {
      {{"--format", "csv", "--per-contact", "--out", out, sample}, "--per-contact is for vcard4"},
      {{"--format", "vcard4", "--code-page", "1252", "--out", out, sample}, "UTF-8"},
      {{"--format", "vcard4", sample}, "--out FILE or DIR is missing"},
      {{"--format", "vcard4", "--out", out, "--frobnicate", sample}, "unknown option"},
  };
  for (const Case& c : cases) {
    const ProgramOutput run = Cli(c.args);
    EXPECT_EQ(run.status, 2) << c.says;
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.says))) << run.err.toStdString();
  }
  const ProgramOutput help = Cli({"--help"});
  for (const char* text : {"vcard4", "vcard3", "csv", "--per-contact", "--all-folders",
                           "KIND:group", "X-ADDRESSBOOKSERVER-MEMBER", "Exit status", "3 "})
    EXPECT_TRUE(help.out.contains(QString::fromUtf8(text))) << text;
}
