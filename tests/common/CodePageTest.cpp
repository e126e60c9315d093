#include "common/CodePage.h"

#include <gtest/gtest.h>

using namespace lumivex;

TEST(CodePage, FollowsTheLocaleLanguage) {
  EXPECT_EQ(CodePageForLocale(QStringLiteral("en_US.UTF-8")), 1252);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("C")), 1252);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("de_DE@euro")), 1252);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("pl_PL.UTF-8")), 1250);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("ru_RU")), 1251);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("el_GR")), 1253);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("tr_TR")), 1254);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("he_IL")), 1255);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("ar_EG")), 1256);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("lt_LT")), 1257);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("vi_VN")), 1258);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("th_TH")), 874);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("ja_JP.UTF-8")), 932);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("zh_CN.UTF-8")), 936);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("zh_TW.UTF-8")), 950);
  EXPECT_EQ(CodePageForLocale(QStringLiteral("ko_KR")), 949);
}

TEST(CodePage, ConvertsAndReplacesWhatItCannotHold) {
  EXPECT_EQ(ToAnsi(u"Zoë €5", 1252), QByteArray("Zo\xEB \x80" "5"));
  EXPECT_EQ(ToAnsi(u"Łódź", 1250), QByteArray("\xA3\xF3\x64\x9F"));
  EXPECT_EQ(ToAnsi(u"日本", 932), QByteArray("\x93\xFA\x96\x7B"));
  // No Japanese in 1252: one "?" per character, as the Windows conversion gives.
  EXPECT_EQ(ToAnsi(u"a日本b", 1252), QByteArray("a??b"));
  EXPECT_EQ(ToAnsi(u"", 1252), QByteArray());
  EXPECT_EQ(FromAnsi(QByteArray("\x93\xFA\x96\x7B"), 932), u"日本");
  EXPECT_EQ(FromAnsi(QByteArray("Zo\xEB"), 1252), u"Zoë");
}

TEST(CodePage, OverrideWinsOverTheEnvironment) {
  SetAnsiCodePage(1251);
  EXPECT_EQ(AnsiCodePage(), 1251);
  EXPECT_EQ(ToAnsi(u"Я"), QByteArray("\xDF"));
  SetAnsiCodePage(0);
}
