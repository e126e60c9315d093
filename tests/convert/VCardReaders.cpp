#include "tests/convert/VCardReaders.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>

namespace lumivex::testing {

QJsonArray VCardReader::Read(const QString& path, int codePage, QString* error) const {
  QProcess process;
  process.start(command.first(), command.mid(1) << path << QString::number(codePage));
  if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    *error =
        name + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
    return {};
  }
  QJsonParseError parse;
  const QJsonDocument doc = QJsonDocument::fromJson(process.readAllStandardOutput(), &parse);
  if (!doc.isArray()) *error = name + QStringLiteral(" printed no JSON: ") + parse.errorString();
  return doc.array();
}

VCardReader EvolutionReader() {
  VCardReader reader;
  reader.name = QStringLiteral("Evolution's address-book library");
  reader.command = {QStringLiteral("/usr/bin/python3"),
                    QStringLiteral(LUMIVEX_SOURCE_DIR "/tests/convert/readers/evolution_read.py")};
  QProcess probe;
  probe.start(reader.command.first(),
              {QStringLiteral("-c"), QStringLiteral("import gi; gi.require_version("
                                                    "'EBookContacts', '1.2')")});
  if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
    reader.missing = QStringLiteral(
        "Evolution's address-book library is not installed (Debian: python3-gi, "
        "gir1.2-ebookcontacts-1.2)");
  return reader;
}

VCardReader KContactsReader() {
  VCardReader reader;
  reader.name = QStringLiteral("KContacts");
  reader.command = {QStringLiteral(LUMIVEX_KCONTACTS_READER)};
  if (!QFileInfo(reader.command.first()).isExecutable())
    reader.missing = QStringLiteral(
        "the KContacts reader was not built: KF5Contacts was not found when the build was "
        "configured (Debian: libkf5contacts-dev)");
  return reader;
}

}  // namespace lumivex::testing
