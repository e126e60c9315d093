#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFileInfo>

namespace lumivex::testing {

QString SharedDir() {
  QString dir = qEnvironmentVariable("LUMIVEX_SHARED_DIR", QStringLiteral(LUMIVEX_SHARED_DIR));
  if (!QFileInfo(dir + QStringLiteral("/fixtures/pst")).isDir()) return {};
  return QDir(dir).absolutePath();
}

QString FixturePst(const QString& name) {
  const QString dir = SharedDir();
  return dir.isEmpty() ? QString() : dir + QStringLiteral("/fixtures/pst/") + name;
}

bool MissingMaySkip() {
  return qEnvironmentVariable("LUMIVEX_SKIP_MISSING") == QStringLiteral("1");
}

QString SourceDir() {
  return QStringLiteral(LUMIVEX_SOURCE_DIR);
}

QString BinDir() {
  return QStringLiteral(LUMIVEX_BIN_DIR);
}

QString ScratchDir(const QString& name) {
  // ctest runs every test case as a process of its own, several at once: each case gets a
  // folder of its own, so that two cases asking for the same name never share one.
  QString owner = QStringLiteral("no-test");
  if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info())
    owner = QString::fromUtf8(test->test_suite_name()) + u'.' + QString::fromUtf8(test->name());
  owner.replace(u'/', u'_');
  QDir dir(QDir::current().absoluteFilePath(QStringLiteral("scratch/") + owner + u'/' + name));
  dir.removeRecursively();
  QDir().mkpath(dir.path());
  return dir.path();
}

}  // namespace lumivex::testing
