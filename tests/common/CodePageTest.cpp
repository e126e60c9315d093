#include "common/CodePage.h"

#include <gtest/gtest.h>

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
