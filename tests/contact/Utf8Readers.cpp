#include "tests/contact/Utf8Readers.h"

#include "tests/support/TestPaths.h"

#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

namespace lumivex::testing {

namespace {

const QString kScript = QStringLiteral(LUMIVEX_SOURCE_DIR "/tests/contact/readers/utf8_read.py");

// Empty when `/usr/bin/python3 -c probe` succeeds, else `missing`.
QString Probe(const QString& probe, const QString& missing) {
  QProcess process;
  process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), probe});
  return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
                 process.exitCode() == 0
             ? QString()
             : missing;
}

Utf8Reader Python(const QString& name, const QString& mode, const QString& probe,
                  const QString& missing) {
  return {name, Probe(probe, missing), {QStringLiteral("/usr/bin/python3"), kScript, mode}};
}

}  // namespace

QJsonDocument Utf8Reader::ReadOrFail(const QStringList& files) const {
  if (!missing.isEmpty()) {
    ADD_FAILURE() << missing.toStdString();
    return {};
  }
  QString error;
  const QJsonDocument doc = Read(files, &error);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  return doc;
}

QJsonDocument Utf8Reader::Read(const QStringList& files, QString* error) const {
  QProcess process;
  process.start(command.first(), command.mid(1) + files);
  if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    *error = name + QStringLiteral(" failed: ") + QString::fromUtf8(process.readAllStandardError());
    return {};
  }
  QJsonParseError parse;
  const QJsonDocument doc = QJsonDocument::fromJson(process.readAllStandardOutput(), &parse);
  if (doc.isNull()) *error = name + QStringLiteral(" printed no JSON: ") + parse.errorString();
  return doc;
}

Utf8Reader VObjectReader() {
  return Python(QStringLiteral("vobject"), QStringLiteral("vobject"),
                QStringLiteral("import vobject"),
                QStringLiteral("vobject is not installed (Debian: python3-vobject)"));
}

// The files in Windows code page `codePage` rather than UTF-8 (0): our vCard 2.1 files.
QStringList CodePage(int codePage) {
  return codePage ? QStringList{QStringLiteral("--code-page"), QString::number(codePage)}
                  : QStringList();
}

Utf8Reader EvolutionCardReader(int codePage) {
  Utf8Reader reader =
      Python(QStringLiteral("Evolution's address-book library"), QStringLiteral("evolution"),
             QStringLiteral("import gi; gi.require_version('EBookContacts', '1.2')"),
             QStringLiteral("Evolution's address-book library is not installed (Debian: "
                            "python3-gi, gir1.2-ebookcontacts-1.2)"));
  reader.command += CodePage(codePage);
  return reader;
}

Utf8Reader KContactsCardReader(int codePage) {
  Utf8Reader reader;
  reader.name = QStringLiteral("KContacts");
  reader.command = QStringList{QStringLiteral(LUMIVEX_KCONTACTS_READER)} + CodePage(codePage);
  if (!QFileInfo(reader.command.first()).isExecutable())
    reader.missing = QStringLiteral(
        "the KContacts reader was not built: KF5Contacts was not found when the build was "
        "configured (Debian: libkf5contacts-dev)");
  return reader;
}

Utf8Reader EvolutionBookReader() {
  return Python(QStringLiteral("Evolution Data Server"), QStringLiteral("evolution-book"),
                QStringLiteral("import gi; gi.require_version('EBook', '1.2')"),
                QStringLiteral("Evolution's client library is not installed (Debian: python3-gi, "
                               "gir1.2-ebook-1.2)"));
}

Utf8Reader EvolutionBookEditor() {
  Utf8Reader editor = EvolutionBookReader();
  editor.command.last() = QStringLiteral("evolution-book-edit");
  return editor;
}

Utf8Reader EvolutionBookDeleter() {
  Utf8Reader deleter = EvolutionBookReader();
  deleter.command.last() = QStringLiteral("evolution-book-delete");
  return deleter;
}

Utf8Reader CardDavServer() {
  return Python(QStringLiteral("Radicale"), QStringLiteral("carddav"),
                QStringLiteral("import radicale"),
                QStringLiteral("the Radicale CardDAV server is not installed (Debian: radicale)"));
}

Utf8Reader PythonCsvReader() {
  return Python(QStringLiteral("Python's csv module"), QStringLiteral("csv"),
                QStringLiteral("import csv"), QStringLiteral("/usr/bin/python3 is missing"));
}

Utf8Reader LibreOfficeCsvReader() {
  return Python(QStringLiteral("LibreOffice Calc"), QStringLiteral("libreoffice"),
                QStringLiteral("import shutil, sys; sys.exit(shutil.which('soffice') is None)"),
                QStringLiteral("LibreOffice is not installed (Debian: libreoffice-calc-nogui)"));
}

QJsonArray RowsByHeading(const QJsonArray& rows) {
  QJsonArray out;
  if (rows.isEmpty()) return out;
  const QJsonArray heading = rows[0].toArray();
  for (qsizetype i = 1; i < rows.size(); ++i) {
    const QJsonArray row = rows[i].toArray();
    QJsonObject o;
    for (qsizetype j = 0; j < heading.size(); ++j)
      o[heading[j].toString()] = j < row.size() ? row[j] : QJsonValue();
    o[QStringLiteral("#cells")] = row.size();
    out.append(o);
  }
  return out;
}

}  // namespace lumivex::testing
