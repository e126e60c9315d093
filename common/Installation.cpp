#include "common/Installation.h"

#include "lumivex/Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace lumivex {

QString DataDir() {
  const QString overridden = qEnvironmentVariable("LUMIVEX_TOOL_DIR");
  if (!overridden.isEmpty()) return overridden;
  const QString programs = QCoreApplication::applicationDirPath();
  const QString installed =
      QDir::cleanPath(programs + u'/' + QString::fromUtf8(kDataDirFromPrograms));
  return QFileInfo(installed).isDir() ? installed : programs;
}

QString ModuleDir() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() + u'/' +
                         QString::fromUtf8(kModuleDirFromPrograms));
}

QString VersionText() {
  return QStringLiteral("%1 Build %2")
      .arg(QString::fromUtf8(kVersion), QString::fromUtf8(kBuildNumber));
}

}  // namespace lumivex
