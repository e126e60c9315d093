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
  // Part of the store's name-to-id map is overwritten: entries whose named properties cannot be
  // resolved cannot be read whole.
  const QString store =
      SharedDir() + QStringLiteral("/fixtures/damaged/name-map-block-overwritten.pst");
  const QString file = out + QStringLiteral("/damaged.vcf");
  const ProgramOutput run = Cli({"--format", "vcard4", "--out", file, store});
  const QRegularExpression entry(QStringLiteral(
      "^lumivex-cli export: warning: entry (\\d+) of \"Top of Personal Folders/Contacts\" "
      "cannot be read: .+$"));
  const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 2);
  for (qsizetype i = 0; i + 1 < lines.size(); ++i)
    EXPECT_TRUE(entry.match(lines[i]).hasMatch()) << lines[i].toStdString();
  const qsizetype skipped = lines.size() - 1;
  // With none read, nothing is written: no file, and the status is 1.
  if (skipped == 6) {
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_EQ(lines.last(), QStringLiteral("lumivex-cli export: nothing was written: none of the 6 "
                                           "entries could be read; see the lines above"));
    EXPECT_FALSE(QFileInfo::exists(file));
    return;
  }
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  const QRegularExpression summary(
      QStringLiteral("^lumivex-cli export: incomplete: (\\d+) of 6 entries could not be read "
                     "\\(they are left out, the other (\\d+) were written\\); see the lines "
                     "above$"));
  const auto m = summary.match(lines.last());
  ASSERT_TRUE(m.hasMatch()) << lines.last().toStdString();
  EXPECT_EQ(m.captured(1).toInt(), skipped);
  EXPECT_EQ(m.captured(2).toInt(), 6 - skipped);
  // The file holds the other entries, and nothing of those skipped.
  EXPECT_EQ(VObjectReader().ReadOrFail({file}).array().size(), 6 - skipped);
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
