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

QString SourceDir() { return QStringLiteral(LUMIVEX_SOURCE_DIR); }

QString BinDir() { return QStringLiteral(LUMIVEX_BIN_DIR); }

QString ScratchDir(const QString& name) {
  QDir dir(QDir::current().absoluteFilePath(QStringLiteral("scratch/") + name));
  dir.removeRecursively();
  QDir().mkpath(dir.path());
  return dir.path();
}

}  // namespace lumivex::testing
