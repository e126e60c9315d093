#include "common/Module1.h"

#include <gtest/gtest.h>

#include <set>

using namespace lumivex;

TEST(ExtractFileName, TakesThePartAfterTheLastSeparator) {
  EXPECT_EQ(Module1::ExtractFileName(QStringLiteral("AnnLee123.vcf")), u"AnnLee123.vcf");
  EXPECT_EQ(Module1::ExtractFileName(QStringLiteral("AnnLee\\Smith123.vcf")), u"Smith123.vcf");
  EXPECT_EQ(Module1::ExtractFileName(QStringLiteral("/tmp/out/a.xls")), u"a.xls");
  EXPECT_EQ(Module1::ExtractFileName(QStringLiteral("a/b\\c")), u"c");
  EXPECT_EQ(Module1::ExtractFileName(QStringLiteral("folder\\")), u"");
}

// The short date as Windows writes it in each locale: its order and separators, four digits
// for the year.
TEST(ShortDate, KeepsTheLocalesOrderWithAFourDigitYear) {
  const QDate day(1975, 5, 17);
  const std::pair<const char*, const char*> cases[] = {
      {"en_US", "5/17/1975"},  {"de_DE", "17.05.1975"}, {"en_GB", "17/05/1975"},
      {"fr_FR", "17/05/1975"}, {"ja_JP", "1975/05/17"}, {"C", "05/17/1975"},
  };
  for (const auto& [locale, expected] : cases)
    EXPECT_EQ(Module1::ShortDate(day, QLocale(QString::fromLatin1(locale))),
              QString::fromUtf8(expected))
        << locale;
  EXPECT_EQ(Module1::ShortDate(QDate(2025, 5, 17), QLocale(QStringLiteral("en_US"))), u"5/17/2025");
}

TEST(Increment, StopsAt32767) {
  int16_t counter = 32766;
  EXPECT_TRUE(Module1::Increment(counter));
  EXPECT_EQ(counter, 32767);
  EXPECT_FALSE(Module1::Increment(counter));
  EXPECT_EQ(counter, 32767);
}

TEST(RandomNumber, SameSequenceAtEveryStartAndWithinBounds) {
  Module1::ResetRandomNumber();
  std::vector<int32_t> first;
  for (int i = 0; i < 1000; ++i) first.push_back(Module1::RandomNumber(1, 40000));
  Module1::ResetRandomNumber();
  std::set<int32_t> distinct;
  for (int i = 0; i < 1000; ++i) {
    const int32_t n = Module1::RandomNumber(1, 40000);
    EXPECT_EQ(n, first[i]);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 40000);
    distinct.insert(n);
  }
  EXPECT_GT(distinct.size(), 950u);  // the sequence goes on rather than repeating
  for (int i = 0; i < 200; ++i) {
    const int32_t n = Module1::RandomNumber(5, 6);
    EXPECT_TRUE(n == 5 || n == 6);
  }
}
