// Compressed RTF bodies and their text: the worked examples of the compressed-RTF format, the
// bodies of the real store files as libpff unpacks them, and the text an RTF reader shows.
#include "source/Rtf.h"
#include "source/StoreFile.h"
#include "tests/support/TestPaths.h"

#include <libpff.h>

#include <QFile>

#include <gtest/gtest.h>

#include <functional>

namespace lumivex {
namespace {

QByteArray Bytes(std::initializer_list<int> values) {
  QByteArray out;
  for (int v : values) out.append(static_cast<char>(v));
  return out;
}

// The two worked examples of the format's description, its uncompressed form, and damage.
TEST(Rtf, DecompressesTheFormatsExamplesAndRefusesDamage) {
  struct Case {
    const char* name;
    QByteArray stored;
    QByteArray rtf;  // empty: refused
  };
  const QByteArray hello =
      Bytes({0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xf1,
             0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32,
             0x35, 0x42, 0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62,
             0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0});
  QByteArray badCrc = hello;
  badCrc[12] = 0;
  const Case cases[] = {
      {"simple", hello, "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n"},
      {"reference crossing the write position",
       Bytes({0x1a, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x00, 0x00, 0x4c, 0x5a,
              0x46, 0x75, 0xe2, 0xd4, 0x4b, 0x51, 0x41, 0x00, 0x04, 0x20,
              0x57, 0x58, 0x59, 0x5a, 0x0d, 0x6e, 0x7d, 0x01, 0x0e, 0xb0}),
       "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}"},
      {"uncompressed",
       Bytes({0x2e, 0, 0, 0, 0x22, 0, 0, 0, 'M', 'E', 'L', 'A', 0, 0, 0, 0}) +
           "{\\rtf1\\ansi\\ansicpg1252\\pard test}",
       "{\\rtf1\\ansi\\ansicpg1252\\pard test}"},
      {"shorter than the header", "0123456789abcde", {}},
      {"unknown kind", Bytes({0x0c, 0, 0, 0, 0x11, 0, 0, 0, 'A', 'B', 'C', 'D', 0, 0, 0, 0}), {}},
      {"checksum mismatch", badCrc, {}},
      {"truncated", hello.chopped(6), {}},
      {"declares more than it holds",
       Bytes({0x0c, 0, 0, 0, 0, 0, 0, 0x10, 'L', 'Z', 'F', 'u', 0, 0, 0, 0}),
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QByteArray rtf;
    QString why;
    const bool ok = rtf::Decompress(c.stored, rtf, why);
    EXPECT_EQ(ok, !c.rtf.isEmpty()) << why.toStdString();
    EXPECT_EQ(ok ? rtf : why.isEmpty() ? QByteArray("no reason") : QByteArray(), c.rtf);
  }
}

TEST(Rtf, TextIsWhatAnRtfReaderShows) {
  struct Case {
    const char* rtf;
    const char* text;  // UTF-8
  };
  const Case cases[] = {
      {"{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n", "hello world"},
      {"{\\rtf1 one\\par two\\line three\\tab four\\par\\par }", "one\ntwo\nthree\tfour"},
      {"{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0\\blue0;}{\\stylesheet{\\s0 "
       "Normal;}}{\\info{\\title Title}}{\\*\\generator Riched20;}{\\pict\\pngblip 89504e47}Text}",
       "Text"},
      {"{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\{x\\}\\\\}", "café {x}\\"},
      {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}", "Привет"},
      {"{\\rtf1\\ansi\\ansicpg932 \\'93\\'fa\\'96\\'7b}", "日本"},
      // A font of another character set than the document's: its text is in that code page.
      {"{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\fswiss"
       "\\fcharset204{\\*\\panose 020b0604020202020204}Arial Cyr;}}caf\\'e9 {\\f1 \\'cf\\'f0\\'e8} "
       "\\f1 \\'e2\\f0 \\'e9}",
       "café При вé"},
      {"{\\rtf1\\uc1 \\u8364?5 \\u-10179?\\u-8704?}", "€5 😀"},
      {"{\\rtf1\\ansi\\ansicpg932\\uc2 \\u26085\\'93\\'fa!}", "日!"},
      {"{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}}}", "link"},
      // An HTML body wrapped in RTF: the HTML's text, without the parts kept for RTF readers.
      {"{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 {\\*\\htmltag19 <html>}{\\*\\htmltag34 "
       "<head><style>p {color:red}</style></head>}{\\*\\htmltag50 <body>}\\htmlrtf "
       "{\\htmlrtf0 Hello{\\*\\htmltag116 <br>}\\htmlrtf \\line \\htmlrtf0 World{\\*\\htmltag84 "
       "&amp;}\\htmlrtf &\\htmlrtf0 more{\\*\\htmltag148 </p>}\\htmlrtf \\par }\\htmlrtf0 "
       "{\\*\\htmltag58 </body>}}",
       "Hello\nWorld&more"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rtf);
    EXPECT_EQ(rtf::ToText(c.rtf), QString::fromUtf8(c.text));
  }
  // Groups nested deeper than any document are hidden, and the text after them is still read.
  const QByteArray deep =
      "{\\rtf1 a" + QByteArray(100000, '{') + "x" + QByteArray(100000, '}') + "b}";
  EXPECT_EQ(rtf::ToText(deep), QStringLiteral("ab"));
}

// Every compressed RTF body of the real store files unpacks as libpff unpacks it.
TEST(Rtf, RealBodiesUnpackAsLibpffUnpacksThem) {
  LUMIVEX_REQUIRE_FIXTURES();
  int bodies = 0;
  QStringList texts;
  for (const char* name : {"mail-and-one-contact.pst", "japanese-contact-unicode.pst"}) {
    SCOPED_TRACE(name);
    const QString path = testing::FixturePst(QString::fromLatin1(name));
    libpff_file_t* file = nullptr;
    ASSERT_EQ(libpff_file_initialize(&file, nullptr), 1);
    ASSERT_EQ(
        libpff_file_open(file, QFile::encodeName(path).constData(), LIBPFF_OPEN_READ, nullptr), 1);
    auto ours = storefile::StoreFile::Open(path, storefile::ReaderChoice::kOwn);
    std::function<void(storefile::StoreItem&)> walk = [&](storefile::StoreItem& folder) {
      for (int m = 0; m < folder.MessageCount(); ++m) {
        auto message = folder.Message(m);
        const int index = message->Find(0x1009);
        if (index < 0) continue;
        QByteArray stored, rtf;
        QString why;
        ASSERT_TRUE(message->Data(index, stored));
        ASSERT_TRUE(rtf::Decompress(stored, rtf, why)) << why.toStdString();
        libpff_item_t* item = nullptr;
        ASSERT_EQ(libpff_file_get_item_by_identifier(file, message->Id(), &item, nullptr), 1);
        size_t size = 0;
        ASSERT_EQ(libpff_message_get_rtf_body_size(item, &size, nullptr), 1);
        QByteArray expected(static_cast<qsizetype>(size), '\0');
        ASSERT_EQ(libpff_message_get_rtf_body(item, reinterpret_cast<uint8_t*>(expected.data()),
                                              size, nullptr),
                  1);
        libpff_item_free(&item, nullptr);
        // libpff adds the end of a C string to the text, which itself may end in one.
        while (expected.endsWith('\0')) expected.chop(1);
        QByteArray ours = rtf;
        while (ours.endsWith('\0')) ours.chop(1);
        EXPECT_EQ(ours.size(), expected.size());
        EXPECT_TRUE(ours == expected);
        texts << rtf::ToText(rtf);
        ++bodies;
      }
      for (int f = 0; f < folder.SubFolderCount(); ++f) walk(*folder.SubFolder(f));
    };
    walk(*ours->RootFolder());
    libpff_file_close(file, nullptr);
    libpff_file_free(&file, nullptr);
  }
  EXPECT_EQ(bodies, 3);
  // The meeting keeps its description only as RTF; readpst gives it as "The usual weekly
  // meeting". The two contacts' RTF bodies hold no text, as their plain bodies hold none.
  EXPECT_TRUE(texts.contains(QStringLiteral("The usual weekly meeting")))
      << texts.join(u'|').toStdString();
  EXPECT_EQ(texts.count(QString()), 2);
}

}  // namespace
}  // namespace lumivex
