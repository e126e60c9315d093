// lumivex-cli wab-dump, run as the user runs it: the listing, --json, and one clear line and a
// nonzero exit for anything that is not a readable address book.
#include "tests/support/TestPaths.h"
#include "wab/AddressBook.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

struct Output {
  int exitCode = -1;
  QString out, err;
};

Output Cli(const QStringList& args) {
  QProcess process;
  process.start(BinDir() + QStringLiteral("/lumivex-cli"), args);
  process.waitForFinished(30000);
  return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

QString SampleBook() {
  const QString path = ScratchDir(QStringLiteral("wab-dump")) + QStringLiteral("/book.wab");
  wab::AddressBook::WriteEmpty(path.toStdString());
  wab::AddressBook book;
  book.Open(path.toStdString());
  book.createnew("John Smith", "john@example.com");
  book.createnew("山田 太郎", "");
  book.createnew("Zoë \"Q\" Jürgens", "zoe@example.de");
  book.Close();
  return path;
}

TEST(WabDump, ListsEveryContactAndTheCount) {
  const QString path = SampleBook();
  const Output plain = Cli({QStringLiteral("wab-dump"), path});
  EXPECT_EQ(plain.exitCode, 0) << plain.err.toStdString();
  EXPECT_EQ(plain.out, QStringLiteral("John Smith <john@example.com>\n山田 太郎\n"
                                      "Zoë \"Q\" Jürgens <zoe@example.de>\n3 contacts in ") +
                           path + u'\n');

  const Output json = Cli({QStringLiteral("wab-dump"), QStringLiteral("--json"), path});
  ASSERT_EQ(json.exitCode, 0);
  const QJsonObject result = QJsonDocument::fromJson(json.out.toUtf8()).object();
  EXPECT_EQ(result[u"count"].toInt(), 3);
  EXPECT_TRUE(result[u"unicode"].toBool());
  const QJsonArray contacts = result[u"contacts"].toArray();
  ASSERT_EQ(contacts.size(), 3);
  EXPECT_EQ(contacts[2][u"displayName"].toString(), u"Zoë \"Q\" Jürgens");
  EXPECT_EQ(contacts[1][u"email"].toString(), u"");
  EXPECT_EQ(contacts[0][u"id"].toInt(), 1);

  const Output empty = Cli({QStringLiteral("wab-dump"), BinDir() + QStringLiteral("/xwab.def")});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_TRUE(empty.out.startsWith(u"0 contacts in ")) << empty.out.toStdString();
}

TEST(WabDump, FilesThatAreNoAddressBookFailWithOneLine) {
  const QString dir = ScratchDir(QStringLiteral("wab-dump-bad"));
  QFile text(dir + QStringLiteral("/notes.wab"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write(QByteArray(200, 'x'));
  text.close();

  // A real book whose index points past the end of the file.
  QFile damaged(SampleBook());
  ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
  QByteArray bytes = damaged.readAll();
  const int index = bytes[0x20] | bytes[0x21] << 8;  // descriptor 0's offset
  bytes[index + 4] = char(0xF0);
  bytes[index + 7] = char(0x7F);
  damaged.seek(0);
  damaged.write(bytes);
  damaged.close();

  const struct {
    QString file;
    const char* says;
  } cases[] = {
      {text.fileName(), "not a Windows Address Book file"},
      {damaged.fileName(), "the address book is damaged: record 1 lies outside the file"},
      {dir + QStringLiteral("/missing.wab"), "cannot open the address book"},
      {dir, "is a folder"},
  };
  for (const auto& c : cases) {
    const Output result = Cli({QStringLiteral("wab-dump"), c.file});
    EXPECT_EQ(result.exitCode, 1) << c.says;
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_EQ(result.err.count(u'\n'), 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.says))) << result.err.toStdString();
  }
}

TEST(WabDump, HelpAndBadArguments) {
  const Output help = Cli({QStringLiteral("wab-dump"), QStringLiteral("--help")});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.contains(u"Usage: lumivex-cli wab-dump FILE [--json]"));
  EXPECT_EQ(Cli({QStringLiteral("wab-dump")}).exitCode, 2);
  EXPECT_EQ(
      Cli({QStringLiteral("wab-dump"), QStringLiteral("--jsn"), QStringLiteral("a")}).exitCode, 2);
  EXPECT_EQ(Cli({QStringLiteral("wab-dump"), QStringLiteral("a"), QStringLiteral("b")}).exitCode,
            2);
}

// The export verb's address book, from a real store file, listed by wab-dump; and its template
// missing.
TEST(WabExport, RealStoreToAddressBookAndBack) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString pst = FixturePst(QStringLiteral("six-contacts.pst"));
  const QString out = ScratchDir(QStringLiteral("wab-cli-export"));
  const QStringList exportArgs = {QStringLiteral("export"),
                                  QStringLiteral("--format"),
                                  QStringLiteral("wab"),
                                  QStringLiteral("--out"),
                                  out,
                                  pst};
  const Output exported = Cli(exportArgs);
  ASSERT_EQ(exported.exitCode, 0) << exported.err.toStdString();
  const QStringList lines = exported.out.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith(out + QStringLiteral("/OutlookContacts-")));
  EXPECT_TRUE(lines[0].endsWith(u".wab"));
  EXPECT_EQ(lines[1], u"6 Contacts Saved Successfully");

  const Output dump = Cli({QStringLiteral("wab-dump"), QStringLiteral("--json"), lines[0]});
  const QJsonObject result = QJsonDocument::fromJson(dump.out.toUtf8()).object();
  EXPECT_EQ(result[u"count"].toInt(), 6);
  const QJsonObject first = result[u"contacts"].toArray().first().toObject();
  EXPECT_EQ(first[u"displayName"].toString(), u"Sebastian Wright");
  EXPECT_EQ(first[u"email"].toString(), u"SebastianWright@dayrep.com");

  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LUMIVEX_TOOL_DIR"), out + QStringLiteral("/nowhere"));
  process.setProcessEnvironment(environment);
  process.start(BinDir() + QStringLiteral("/lumivex-cli"), exportArgs);
  process.waitForFinished(30000);
  EXPECT_EQ(process.exitCode(), 1);
  EXPECT_TRUE(process.readAllStandardError().contains("xwab.def is missing"));
}

}  // namespace
