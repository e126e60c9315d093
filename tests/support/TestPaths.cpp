#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

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

QString StoreOfUnreadableEntries(const QString& dir) {
  const QString description = dir + QStringLiteral("/unreadable.json");
  const QString store = dir + QStringLiteral("/unreadable.pst");
  QFile json(description);
  if (!json.open(QIODevice::WriteOnly)) return {};
  json.write(R"({"folders": [{"path": "Contacts", "items": [
      {"FirstName": "Ann", "LastName": "Lost", "Email1Address": "lost-1@example.org"},
      {"FirstName": "Bo", "LastName": "Lost", "Email1Address": "lost-2@example.org"}]}]})");
  json.close();
  // Without encoding, each contact's e-mail address stands in its data as UTF-16 text, the
  // first time it is met.
  QProcess pstgen;
  pstgen.start(BinDir() + QStringLiteral("/lumivex-pstgen"),
               {description, QStringLiteral("--encoding"), QStringLiteral("none"),
                QStringLiteral("--out"), store});
  if (!pstgen.waitForFinished(60000) || pstgen.exitCode() != 0) return {};
  QByteArray bytes = FileBytes(store);
  for (const QString& address :
       {QStringLiteral("lost-1@example.org"), QStringLiteral("lost-2@example.org")}) {
    const qsizetype at = bytes.indexOf(
        QByteArray(reinterpret_cast<const char*>(address.utf16()), address.size() * 2));
    if (at < 0) return {};
    bytes[at] = char(bytes[at] ^ 0xFF);
  }
  QFile out(store);
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) return {};
  return store;
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
