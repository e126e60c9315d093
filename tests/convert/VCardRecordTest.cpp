// The 22-line record, compared byte for byte: separators, CR LF, the code page, and the values
// kept from the previous entry when a read fails.
#include "common/CodePage.h"
#include "convert/AnsiTextFile.h"
#include "convert/VCardRecord.h"
#include "tests/convert/RunTestSupport.h"

using namespace lumivex;
using namespace lumivex::testing;

namespace {

// Writes the records of `contacts` with one set of kept values, as a run does, and returns the
// file's bytes.
QByteArray Records(const std::vector<FakeContact>& contacts, int codePage = 1252) {
  const QString path = ScratchDir(QStringLiteral("vcard-record")) + "/r.vcf";
  auto folder =
      std::make_shared<FakeFolder>(QStringLiteral("Contacts"), QStringLiteral("IPF.Contact"));
  folder->contacts = contacts;
  {
    AnsiTextFile output(codePage);
    EXPECT_TRUE(output.Open(path));
    VCardFields fields;
    const auto entries = folder->GetItems();
    for (int i = 0; i < entries->Count(); ++i) WriteVCardRecord(output, *entries->Item(i), fields);
    EXPECT_TRUE(output.Close());
  }
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  return file.readAll();
}

const QByteArray kFull =
    "BEGIN:VCARD\r\n"
    "VERSION:2.1\r\n"
    "N:Lee;Ann;Marie\r\n"
    "FN:Ann Marie Lee\r\n"
    "ORG:Quorvane; Ltd;Sales, North\r\n"
    "TITLE:Buyer\r\n"
    "NOTE:First paragraph.\r\nSecond paragraph.\r\n"
    "TEL;WORK;VOICE:+1 555 0100\r\n"
    "TEL;HOME;VOICE:+1 555 0101\r\n"
    "TEL;CELL;VOICE:+1 555 0102\r\n"
    "TEL;PAGER;VOICE:+1 555 0103\r\n"
    "TEL;WORK;FAX:+1 555 0104\r\n"
    "TEL;HOME;FAX:+1 555 0105\r\n"
    "ADR;WORK:;Room 4;1 Main St;Springfield;IL;62701;USA\r\n"
    "LABEL;WORK;ENCODING=QUOTED-PRINTABLE:BusinessOffice=0D=0A1 Main St=0D=0ASpringfield, IL "
    "62701=0D=0AUSA\r\n"
    "ADR;HOME:;;2 Elm Rd;Shelbyville;IN;46176;USA\r\n"
    "LABEL;HOME;ENCODING=QUOTED-PRINTABLE:2 Elm Rd=0D=0AShelbyville, IN 46176=0D=0AUSA\r\n"
    "URL;HOME:http://ann.example\r\n"
    "URL;WORK:http://ann.example\r\n"
    "BDAY:3/14/1970\r\n"
    "EMAIL;PREF;INTERNET:ann@example.com\r\n"
    "End:VCARD\r\n";

const QByteArray kEmpty =
    "BEGIN:VCARD\r\n"
    "VERSION:2.1\r\n"
    "N:;;\r\n"
    "FN:\r\n"
    "ORG:;\r\n"
    "TITLE:\r\n"
    "NOTE:\r\n"
    "TEL;WORK;VOICE:\r\n"
    "TEL;HOME;VOICE:\r\n"
    "TEL;CELL;VOICE:\r\n"
    "TEL;PAGER;VOICE:\r\n"
    "TEL;WORK;FAX:\r\n"
    "TEL;HOME;FAX:\r\n"
    "ADR;WORK:;;;;;;\r\n"
    "LABEL;WORK;ENCODING=QUOTED-PRINTABLE:BusinessOffice=0D=0A=0D=0A,  =0D=0A\r\n"
    "ADR;HOME:;;;;;;\r\n"
    "LABEL;HOME;ENCODING=QUOTED-PRINTABLE:=0D=0A,  =0D=0A\r\n"
    "URL;HOME:\r\n"
    "URL;WORK:\r\n"
    "BDAY:\r\n"
    "EMAIL;PREF;INTERNET:\r\n"
    "End:VCARD\r\n";

}  // namespace

TEST(VCardRecord, FullAndEmptyContactsGiveTheExact22Lines) {
  EXPECT_EQ(Records({VCardContact()}), kFull);
  EXPECT_EQ(Records({FakeContact{}}), kEmpty);
  // Records follow one another without blank lines.
  EXPECT_EQ(Records({VCardContact(), FakeContact{}}), kFull + kEmpty);
}

TEST(VCardRecord, NonAsciiTextIsWrittenInTheLocaleCodePage) {
  FakeContact western;
  western.properties = {{"FirstName", "Zoë"}, {"LastName", "Müller"}, {"JobTitle", "Café €"}};
  QByteArray bytes = Records({western}, 1252);
  EXPECT_TRUE(bytes.contains("N:M\xfcller;Zo\xeb;\r\n"));
  EXPECT_TRUE(bytes.contains("TITLE:Caf\xe9 \x80\r\n"));

  FakeContact cyrillic;
  cyrillic.properties = {{"FirstName", "Анна"}, {"LastName", "Ли"}, {"FullName", "Анна Ли"}};
  bytes = Records({cyrillic}, 1251);
  EXPECT_TRUE(bytes.contains("N:\xcb\xe8;\xc0\xed\xed\xe0;\r\n"));
  EXPECT_TRUE(bytes.contains("FN:\xc0\xed\xed\xe0 \xcb\xe8\r\n"));

  FakeContact japanese;
  japanese.properties = {{"LastName", "山田"}, {"FirstName", "太郎"}};
  bytes = Records({japanese}, 932);
  EXPECT_TRUE(bytes.contains("N:\x8e\x52\x93\x63;\x91\xbe\x98\x59;\r\n"));

  // A character the code page cannot hold becomes its nearest or "?", one byte each, never
  // bytes of another encoding.
  bytes = Records({japanese}, 1252);
  EXPECT_TRUE(bytes.contains("N:??;??;\r\n")) << bytes.constData();
  EXPECT_EQ(bytes.count("\r\n"), 22);
}

TEST(VCardRecord, AFailingReadKeepsThePreviousEntrysValue) {
  FakeContact second = MakeContact(QStringLiteral("Bob"), QStringLiteral("Ray"));
  second.failing = {"JobTitle", "Email1Address", "FirstName"};
  FakeContact third;
  third.unreadable = true;  // every read fails: the whole record repeats the one before
  FakeContact first = VCardContact();
  const QByteArray bytes = Records({first, second, third});
  ASSERT_EQ(bytes.count("BEGIN:VCARD\r\n"), 3);
  const qsizetype secondStart = bytes.indexOf("BEGIN:VCARD", 1);
  const qsizetype thirdStart = bytes.indexOf("BEGIN:VCARD", secondStart + 1);
  const QByteArray secondRecord = bytes.mid(secondStart, thirdStart - secondStart);
  EXPECT_TRUE(secondRecord.contains("N:Ray;Ann;\r\n")) << secondRecord.constData();
  EXPECT_TRUE(secondRecord.contains("TITLE:Buyer\r\n"));
  EXPECT_TRUE(secondRecord.contains("EMAIL;PREF;INTERNET:ann@example.com\r\n"));
  EXPECT_EQ(bytes.mid(thirdStart), secondRecord);
}

// A line given in pieces has the bytes of the joined line (as the iconv program converts it),
// also where a character is split between two pieces or needs the converter.
TEST(AnsiTextFile, ALineInPiecesHasTheJoinedLinesBytes) {
  const struct {
    std::vector<QString> pieces;
    int codePage;
    QByteArray bytes;
  } cases[] = {
      {{"caf", QStringLiteral("é")}, 1252, "caf\xE9\r\n"},
      {{QStringLiteral("a") + QChar(0xD83D), QChar(0xDE00) + QStringLiteral("b")}, 1252, "a?b\r\n"},
      {{QStringLiteral("日本"), QStringLiteral("語")}, 932, "\x93\xFA\x96\x7B\x8C\xEA\r\n"},
  };
  const QString path = ScratchDir(QStringLiteral("ansi-text-file")) + "/pieces.txt";
  for (const auto& c : cases) {
    AnsiTextFile file(c.codePage);
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.WriteLine({c.pieces[0], c.pieces[1]}));
    ASSERT_TRUE(file.Close());
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().toHex(), c.bytes.toHex()) << c.codePage;
  }
}

// Lines that fill the buffer many times over, with characters that become several bytes, and a
// line longer than the whole buffer come out whole (bytes as the iconv program converts them).
TEST(AnsiTextFile, LinesPastTheBufferComeOutWhole) {
  const struct {
    QString line;
    int codePage;
    int lines;
    QByteArray bytes;  // of one line, before its CR LF
  } cases[] = {
      {QString(60000, QChar(0xFB01)), 1252, 20, QByteArray("fi").repeated(60000)},
      {QString(150, QChar(0x00BD)), 1250, 2000, QByteArray(" 1/2 ").repeated(150)},
      {QString(100000, u'a') + QStringLiteral("😀"), 1252, 5, QByteArray(100000, 'a') + "?"},
      {QString(400000, u'a') + QStringLiteral("é"), 1252, 3, QByteArray(400000, 'a') + "\xE9"},
  };
  const QString path = ScratchDir(QStringLiteral("ansi-text-file")) + "/long.txt";
  for (const auto& c : cases) {
    AnsiTextFile file(c.codePage);
    ASSERT_TRUE(file.Open(path));
    for (int i = 0; i < c.lines; ++i) {
      file.WriteLine(u"x");
      file.WriteLine({c.line.left(7), c.line.mid(7)});
    }
    ASSERT_TRUE(file.Close());
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray all = written.readAll();
    EXPECT_TRUE(all == ("x\r\n" + c.bytes + "\r\n").repeated(c.lines))
        << c.codePage << " " << all.size() << " bytes";
  }
}
