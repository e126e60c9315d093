// lumivex-cli folders and scan, run as the user runs them: output, --json, exit status and the
// one line on stderr for bad input.
#include "tests/support/TestPaths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace lumivex {
namespace {

using testing::FixturePst;

struct CliRun {
  int status = -1;
  QString out;
  QString err;
};

CliRun Cli(const QStringList& args, const QString& home = QString(),
           const QString& defaultStore = QString()) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("LUMIVEX_DEFAULT_STORE"));
  if (!defaultStore.isEmpty()) env.insert(QStringLiteral("LUMIVEX_DEFAULT_STORE"), defaultStore);
  env.insert(QStringLiteral("HOME"),
             home.isEmpty() ? testing::ScratchDir(QStringLiteral("cli-empty-home")) : home);
  process.setProcessEnvironment(env);
  process.start(testing::BinDir() + QStringLiteral("/lumivex-cli"), args);
  CliRun run;
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "lumivex-cli did not finish: " << args.join(u' ').toStdString();
    return run;
  }
  run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

// Exit status 1 or 2 and exactly one line on stderr holding `text`.
void ExpectOneLineError(const CliRun& run, int status, const QString& text) {
  EXPECT_EQ(run.status, status) << run.err.toStdString();
  EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
  EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
  EXPECT_TRUE(run.err.startsWith(QStringLiteral("lumivex-cli "))) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains(text)) << run.err.toStdString();
}

TEST(StoreVerbs, FoldersPrintsTheIndentedTree) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString store = FixturePst(QStringLiteral("contact-and-distlist.pst"));
  const CliRun run = Cli({QStringLiteral("folders"), store});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.isEmpty());
  const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 24);
  EXPECT_EQ(lines[0], QStringLiteral("Personal Folders (%1)").arg(store));
  EXPECT_TRUE(lines.contains(QStringLiteral("  Top of Personal Folders  [no class, 0 entries]")));
  EXPECT_TRUE(
      lines.contains(QStringLiteral("    Contacts  [IPF.Contact, 2 entries]  (default contacts)")));
  EXPECT_TRUE(lines.contains(QStringLiteral("    Calendar  [IPF.Appointment, 1 entry]")));
}

TEST(StoreVerbs, FoldersJsonHoldsPathsClassesAndCounts) {
  LUMIVEX_REQUIRE_FIXTURES();
  const CliRun run = Cli({QStringLiteral("folders"), QStringLiteral("--json"),
                          FixturePst(QStringLiteral("japanese-contact-ansi-cp932.pst"))});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  const QJsonObject root = QJsonDocument::fromJson(run.out.toUtf8()).object();
  EXPECT_EQ(root[QStringLiteral("defaultContactsFolder")].toString(),
            QStringLiteral("Outlook データ ファイルのトップ/連絡先 (Contact dedicated)"));
  const QJsonArray top = root[QStringLiteral("folders")].toArray();
  ASSERT_GE(top.size(), 2);
  const QJsonObject personal = top[1].toObject();
  EXPECT_EQ(personal[QStringLiteral("name")].toString(),
            QStringLiteral("Outlook データ ファイルのトップ"));
  const QJsonObject contacts = personal[QStringLiteral("folders")].toArray()[1].toObject();
  EXPECT_EQ(contacts[QStringLiteral("containerClass")].toString(), QStringLiteral("IPF.Contact"));
  EXPECT_EQ(contacts[QStringLiteral("defaultItemType")].toInt(), 2);
  EXPECT_EQ(contacts[QStringLiteral("count")].toInt(), 1);
}

TEST(StoreVerbs, ScanCountsTheDefaultOrTheNamedFolder) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString six = FixturePst(QStringLiteral("six-contacts.pst"));
  CliRun run = Cli({QStringLiteral("scan"), six});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_EQ(run.out,
            QStringLiteral("6 entries in \"Top of Personal Folders/Contacts\" of %1\n").arg(six));

  // The default profile's store when STORE is left out.
  run = Cli({QStringLiteral("scan"), QStringLiteral("--json")}, QString(),
            FixturePst(QStringLiteral("contact-and-distlist.pst")));
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
  EXPECT_EQ(json[QStringLiteral("count")].toInt(), 2);
  EXPECT_EQ(json[QStringLiteral("contactsFolder")].toBool(), true);
  EXPECT_EQ(json[QStringLiteral("folder")].toString(),
            QStringLiteral("Top of Personal Folders/Contacts"));

  // A mail folder is counted, with a warning.
  run = Cli({QStringLiteral("scan"), FixturePst(QStringLiteral("72-contacts-in-mail-folder.pst")),
             QStringLiteral("--folder"), QStringLiteral("Top of Personal Folders/myInbox")});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.startsWith(QStringLiteral("72 entries in "))) << run.out.toStdString();
  EXPECT_TRUE(
      run.err.contains(QStringLiteral("warning: \"Top of Personal Folders/myInbox\" is "
                                      "not a contacts folder")))
      << run.err.toStdString();

  run = Cli({QStringLiteral("scan"), QStringLiteral("--folder=Root - Mailbox/IPM_SUBTREE/Contacts"),
             FixturePst(QStringLiteral("offline-store-4k-pages.ost"))});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.startsWith(QStringLiteral("0 entries in "))) << run.out.toStdString();
}

TEST(StoreVerbs, BadInputGivesOneLineAndAnExitStatus) {
  const QString scratch = testing::ScratchDir(QStringLiteral("cli-bad-input"));
  ExpectOneLineError(Cli({QStringLiteral("scan"), scratch + "/none.pst"}), 1,
                     QStringLiteral("no such file"));
  ExpectOneLineError(Cli({QStringLiteral("folders"), scratch}), 1,
                     QStringLiteral("it is a folder"));
  ExpectOneLineError(Cli({QStringLiteral("scan")}), 1, QStringLiteral("LUMIVEX_DEFAULT_STORE"));
  ExpectOneLineError(Cli({QStringLiteral("scan"), QStringLiteral("--bogus")}), 2,
                     QStringLiteral("unknown option '--bogus'"));
  ExpectOneLineError(
      Cli({QStringLiteral("scan"), QStringLiteral("a.pst"), QStringLiteral("b.pst")}), 2,
      QStringLiteral("one store file at most"));
  ExpectOneLineError(Cli({QStringLiteral("scan"), QStringLiteral("--folder")}), 2,
                     QStringLiteral("--folder needs a value"));
  if (testing::SharedDir().isEmpty()) return;
  ExpectOneLineError(Cli({QStringLiteral("scan"), FixturePst(QStringLiteral("mail-only.pst"))}), 1,
                     QStringLiteral("has no contacts folder"));
  ExpectOneLineError(
      Cli({QStringLiteral("scan"), FixturePst(QStringLiteral("six-contacts.pst")),
           QStringLiteral("--folder"), QStringLiteral("Top of Personal Folders/Nope")}),
      1, QStringLiteral("no folder \"Top of Personal Folders/Nope\""));
  ExpectOneLineError(
      Cli({QStringLiteral("folders"), FixturePst(QStringLiteral("bad-header-checksum.pst"))}), 1,
      QStringLiteral("damaged"));
}

TEST(StoreVerbs, HelpAnswersTheQuestions) {
  for (const QString& verb : {QStringLiteral("scan"), QStringLiteral("folders")}) {
    const CliRun run = Cli({verb, QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage: lumivex-cli ") + verb));
    EXPECT_TRUE(run.out.contains(QStringLiteral("--json")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("Exit status")));
  }
  EXPECT_TRUE(Cli({QStringLiteral("scan"), QStringLiteral("-h")})
                  .out.contains(QStringLiteral("not a contacts folder is counted too")));
}

}  // namespace
}  // namespace lumivex
