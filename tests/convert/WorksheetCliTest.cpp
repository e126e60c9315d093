// lumivex-cli export --format xls: the same sheet as the desktop run, from a real store file.
#include "tests/support/TestPaths.h"
#include "tests/xls/BiffRecords.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using namespace lumivex::testing;

namespace {

struct CliRun {
  int exitCode = -1;
  QString out;
  QString err;
};

CliRun RunCli(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
  process.setProcessEnvironment(environment);
  process.start(BinDir() + QStringLiteral("/lumivex-cli"), arguments);
  CliRun run;
  if (!process.waitForFinished(60000)) return run;
  run.exitCode = process.exitCode();
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

}  // namespace

TEST(WorksheetCli, ExportsAStoreFileIntoOneSheet) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString out = ScratchDir(QStringLiteral("worksheet-cli")) + QStringLiteral("/sheets");
  const CliRun run =
      RunCli({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("xls"),
              QStringLiteral("--out"), out, FixturePst(QStringLiteral("six-contacts.pst"))});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

  const QStringList sheets = QDir(out).entryList({QStringLiteral("OutlookContacts-*.xls")});
  ASSERT_EQ(sheets.size(), 1);
  const QString sheet = out + u'/' + sheets[0];
  EXPECT_EQ(run.out, sheet + QStringLiteral("\n6 Contacts Saved Successfully\n"));

  bool complete = false;
  const auto records = ParseRecords(FileBytes(sheet), &complete);
  ASSERT_TRUE(complete);
  int labels = 0;
  int lastRow = 0;
  for (const BiffRecord& record : records) {
    if (record.number != 0x04) continue;
    ++labels;
    lastRow = std::max(lastRow, ParseLabel(record).row + 1);
  }
  EXPECT_EQ(labels, 7 * 39);
  EXPECT_EQ(lastRow, 7);
  EXPECT_EQ(records.back().number, 0x0A);
}
