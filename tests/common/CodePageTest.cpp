#include "common/CodePage.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <iterator>
#include <string>

using namespace lumivex;

// Encoding and modifier suffixes ignored, the region deciding where the language alone does not,
// and 1252 for anything unknown.
TEST(CodePage, FollowsTheLocaleLanguage) {
  const std::pair<const char*, int> cases[] = {
      {"en_US.UTF-8", 1252}, {"C", 1252},          {"de_DE@euro", 1252},
      {"pl_PL.UTF-8", 1250}, {"ru_RU", 1251},      {"th_TH", 874},
      {"ja_JP.UTF-8", 932},  {"zh_CN.UTF-8", 936}, {"zh_TW.UTF-8", 950}};
  for (const auto& [locale, codePage] : cases)
    EXPECT_EQ(CodePageForLocale(QString::fromLatin1(locale)), codePage) << locale;
}

TEST(CodePage, ConvertsAndReplacesWhatItCannotHold) {
  EXPECT_EQ(ToAnsi(u"Zoë €5", 1252), QByteArray("Zo\xEB \x80"
                                                "5"));
  EXPECT_EQ(ToAnsi(u"Łódź", 1250), QByteArray("\xA3\xF3\x64\x9F"));
  EXPECT_EQ(ToAnsi(u"日本", 932), QByteArray("\x93\xFA\x96\x7B"));
  // No Japanese in 1252: one "?" per character, as the Windows conversion gives.
  EXPECT_EQ(ToAnsi(u"a日本b", 1252), QByteArray("a??b"));
  EXPECT_EQ(ToAnsi(u"", 1252), QByteArray());
  EXPECT_EQ(FromAnsi(QByteArray("\x93\xFA\x96\x7B"), 932), u"日本");
  EXPECT_EQ(FromAnsi(QByteArray("Zo\xEB"), 1252), u"Zoë");
  // Vietnamese is written with combining marks: the converter holds each letter back for a mark
  // that may follow, and the last letter must still come out.
  EXPECT_EQ(FromAnsi(QByteArray("Nam"), 1258), u"Nam");
  EXPECT_EQ(FromAnsi(ToAnsi(u"Nguyễn Văn Việt", 1258), 1258), u"Nguyễn Văn Việt");
}

TEST(CodePage, OverrideWinsOverTheEnvironment) {
  SetAnsiCodePage(1251);
  EXPECT_EQ(AnsiCodePage(), 1251);
  EXPECT_EQ(ToAnsi(u"Я"), QByteArray("\xDF"));
  SetAnsiCodePage(0);
}

namespace {

// glibc's own conversion of `text`, as an independent reader of what ToAnsi must give: nearest
// letters where the code page lacks one, "?" for what has none.
QByteArray Iconv(const std::u16string& text, int codePage) {
  const std::string to = "CP" + std::to_string(codePage) + "//TRANSLIT";
  iconv_t cd = iconv_open(to.c_str(), "UTF-16LE");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << to;
  std::string out(text.size() * 8 + 16, '\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
  size_t inLeft = text.size() * 2;
  char* dst = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    *dst++ = '?';  // a unit that does not convert at all
    --outLeft;
    in += 2;
    inLeft -= 2;
  }
  iconv(cd, nullptr, nullptr, &dst, &outLeft);
  iconv_close(cd);
  return QByteArray(out.data(), dst - out.data());
}

}  // namespace

// The single-byte code pages are converted through tables built once: every character of the
// basic plane, and texts mixing scripts, accents and combining marks, come out as iconv gives
// them for the whole text.
TEST(CodePage, SingleBytePagesConvertAsIconvDoes) {
  const int pages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
  for (int page : pages) {
    SCOPED_TRACE(page);
    int differences = 0;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
      if (c >= 0xD800 && c < 0xE000) continue;
      const std::u16string one(1, static_cast<char16_t>(c));
      if (ToAnsi(QStringView(one.data(), 1), page) != Iconv(one, page) && ++differences < 5)
        ADD_FAILURE() << "U+" << std::hex << uint32_t(c);
    }
    const char16_t pool[] = {u'a',      u'Z',      u' ',      u'é',      u'ß', u'€',      u'Ł',
                             u'ő',      u'Ж',      u'я',      u'Ω',      u'ά', u'日',     u'ฉ',
                             u'א',      u'ع',      u'ă',      u'ư',      u'ễ', u'\u0301', u'\u0323',
                             u'\u20AB', u'\u201C', u'\uFB01', u'\u00A0', u'Ő'};
    uint32_t seed = 12345;
    for (int n = 0; n < 3000; ++n) {
      std::u16string text;
      seed = seed * 1103515245u + 12345u;
      const int length = 1 + static_cast<int>((seed >> 16) % 10);
      for (int i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        text.push_back(pool[(seed >> 16) % std::size(pool)]);
      }
      QByteArray appended("x");
      AppendAnsi(appended, QStringView(text.data(), qsizetype(text.size())), page);
      const QByteArray expected = Iconv(text, page);
      EXPECT_EQ(ToAnsi(QStringView(text.data(), qsizetype(text.size())), page), expected)
          << QString::fromStdU16String(text).toStdString();
      EXPECT_EQ(appended, "x" + expected);
    }
  }
}
