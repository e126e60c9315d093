// The command line as a terminal shows it. An export stopped by SIGINT (Ctrl-C), SIGTERM or
// SIGHUP (a closed terminal) leaves none of its temporary files in the target folder and ends
// with 128 + the signal, as a shell reports a program ended by it; a temporary file left by a
// process that was killed outright is removed by the next export into that folder; the progress
// line ends where the path of the file written is printed.
#include "tests/convert/ProgramRun.h"
#include "tests/support/TestPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

namespace lumivex {
namespace {

QStringList Everything(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                QDir::NoDotAndDotDot);
}

class SignalsTest : public ::testing::Test {
 protected:
  // A store large enough that every form takes a good part of a second to write; made in the
  // test's own scratch folder, as ctest runs the cases at once.
  void MakeLargeStore() {
    store = testing::ScratchDir("store") + "/large.pst";
    const testing::ProgramOutput made =
        testing::RunProgram(testing::BinDir() + "/lumivex-pstgen",
                            {"--contacts", "60000", "--seed", "5", "--out", store});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
  }
  QString store;
};

TEST_F(SignalsTest, ASignalDuringAnExportLeavesNoTemporaryFile) {
  ASSERT_NO_FATAL_FAILURE(MakeLargeStore());
  struct Case {
    const char* format;
    QStringList extra;
    int signal;
  };
  const Case cases[] = {
      {"vcard", {}, SIGINT},   {"xls", {}, SIGTERM},
      {"wab", {}, SIGHUP},     {"wab", {}, SIGINT},
      {"vcards", {}, SIGTERM}, {"vcard4", {}, SIGHUP},
      {"csv", {}, SIGINT},     {"vcard3", {"--per-contact"}, SIGTERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.format).arg(c.signal).toStdString());
    const QString out =
        testing::ScratchDir(QStringLiteral("signals-%1-%2").arg(c.format).arg(c.signal));
    const bool oneFile = QStringList{"vcard", "xls", "wab", "vcard4", "csv"}.contains(c.format);
    // The fixed forms take a folder, the others a file unless they write one file per contact.
    const QString target =
        QString(c.format) == "vcard4" || QString(c.format) == "csv" ? out + "/contacts" : out;
    QProcess cli;
    cli.start(testing::BinDir() + "/lumivex-cli",
              QStringList{"export", "--format", c.format, "--out", target, store} + c.extra);
    ASSERT_TRUE(cli.waitForStarted());
    // The signal comes as soon as the export has begun writing.
    QElapsedTimer clock;
    clock.start();
    while (Everything(out).isEmpty() && cli.state() == QProcess::Running &&
           !clock.hasExpired(60000))
      QThread::usleep(200);
    ASSERT_EQ(cli.state(), QProcess::Running) << "the export ended before it could be stopped";
    kill(static_cast<pid_t>(cli.processId()), c.signal);
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 128 + c.signal);
    if (oneFile) {
      EXPECT_EQ(Everything(out), QStringList()) << "neither the file nor a part of it is left";
    } else {
      // The contact files finished before the signal stay; nothing half-written does.
      for (const QString& name : Everything(out))
        EXPECT_TRUE(!name.startsWith(u'.') && name.endsWith(".vcf")) << name.toStdString();
    }
  }
}

TEST_F(SignalsTest, TheNextExportRemovesWhatAKilledOneLeft) {
  const QString out = testing::ScratchDir("signals-stale");
  // A process that has ended: its number is free (unless reused at once, which the check of a
  // running process below also covers).
  QProcess ended;
  ended.start("true");
  const qint64 gone = ended.processId();
  ASSERT_TRUE(ended.waitForFinished());
  const QString running = QString::number(QCoreApplication::applicationPid());
  const QStringList left = {
      QStringLiteral(".OutlookContacts-01-01-2026-10-00-00.vcf.%1.part").arg(gone),
      QStringLiteral(".OutlookContacts-01-01-2026-10-00-00.wab.%1.part.records").arg(gone),
      QStringLiteral(".OutlookContacts-01-01-2026-10-00-00.wab.%1.part").arg(running),
      QStringLiteral("notes.%1.part.txt").arg(gone),
      QStringLiteral(".OutlookContacts-01-01-2026-10-00-00.wab.%1.part.tables").arg(gone)};
  for (const QString& name : left) {
    QFile file(out + u'/' + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  ASSERT_EQ(testing::RunCli(
                {"export", "--format", "vcard", "--out", out, testing::BinDir() + "/sample.pst"})
                .status,
            0);
  QStringList hidden = Everything(out).filter(QRegularExpression("^\\."));
  // Only the file of the process that still runs (this test) stays, beside what is not ours.
  EXPECT_EQ(hidden, QStringList{left[2]});
  EXPECT_TRUE(QFile::exists(out + u'/' + left[3]));
}

TEST_F(SignalsTest, TheProgressLineIsNotRepeatedAfterThePath) {
  ASSERT_NO_FATAL_FAILURE(MakeLargeStore());
  for (const char* format : {"vcard", "vcard4"}) {
    SCOPED_TRACE(format);
    const QString out = testing::ScratchDir(QStringLiteral("terminal-%1").arg(format));
    // script(1) gives the program a terminal and copies what it shows.
    const QString command =
        QStringLiteral("'%1' export --format %2 --out '%3' '%4'")
            .arg(testing::BinDir() + "/lumivex-cli", format,
                 out + (QString(format) == "vcard4" ? "/contacts.vcf" : ""), store);
    const testing::ProgramOutput shown =
        testing::RunProgram("script", {"-qec", command, "/dev/null"});
    ASSERT_EQ(shown.status, 0) << shown.out.toStdString();
    const qsizetype path = shown.out.indexOf(out + u'/');
    ASSERT_GE(path, 0) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.left(path).contains("Saving Contacts")) << "progress was shown";
    EXPECT_FALSE(shown.out.mid(path).contains("Saving Contacts")) << shown.out.toStdString();
  }
}

}  // namespace
}  // namespace lumivex
