// lumivex-cli wab-dump, run as the user runs it: the listing, --json, and one clear line and a
// nonzero exit for anything that is not a readable address book. (The export verb's books are
// listed by it in ExportVerbTest.)
#include "tests/convert/ProgramRun.h"
#include "wab/AddressBook.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

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
  const ProgramOutput plain = RunCli({"wab-dump", path});
  EXPECT_EQ(plain.status, 0) << plain.err.toStdString();
  EXPECT_EQ(plain.out, QStringLiteral("John Smith <john@example.com>\n山田 太郎\n"
                                      "Zoë \"Q\" Jürgens <zoe@example.de>\n3 contacts in ") +
                           path + u'\n');

  const ProgramOutput json = RunCli({"wab-dump", "--json", path});
  ASSERT_EQ(json.status, 0);
  const QJsonObject result = QJsonDocument::fromJson(json.out.toUtf8()).object();
  EXPECT_EQ(result[u"count"].toInt(), 3);
  EXPECT_TRUE(result[u"unicode"].toBool());
  const QJsonArray contacts = result[u"contacts"].toArray();
  ASSERT_EQ(contacts.size(), 3);
  EXPECT_EQ(contacts[2][u"displayName"].toString(), u"Zoë \"Q\" Jürgens");
  EXPECT_EQ(contacts[1][u"email"].toString(), u"");
  EXPECT_EQ(contacts[0][u"id"].toInt(), 1);

  const ProgramOutput empty = RunCli({"wab-dump", BinDir() + "/xwab.def"});
  EXPECT_EQ(empty.status, 0);
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
    const ProgramOutput result = RunCli({"wab-dump", c.file});
    EXPECT_EQ(result.status, 1) << c.says;
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_EQ(result.err.count(u'\n'), 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.says))) << result.err.toStdString();
  }
}

TEST(WabDump, HelpAndBadArguments) {
  const ProgramOutput help = RunCli({"wab-dump", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.contains(u"Usage: lumivex-cli wab-dump FILE [--json]"));
  for (const QStringList& args :
       {QStringList{"wab-dump"}, {"wab-dump", "--jsn", "a"}, {"wab-dump", "a", "b"}})
    EXPECT_EQ(RunCli(args).status, 2) << args.join(u' ').toStdString();
}

}  // namespace
