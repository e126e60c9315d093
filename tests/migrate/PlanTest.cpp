// Reading a migration's plan: what is refused and why, CSV quoting, globs, and the slices.
#include "migrate/Plan.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace lumivex::migrate;
using namespace lumivex::testing;

namespace {

struct PlanCase {
  const char* name;
  const char* text;
  const char* error;  // a part of the message; empty: the plan is read
};

void PrintTo(const PlanCase& c, std::ostream* out) {
  *out << c.name;
}

class PlanReading : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanReading, RefusesWhatCannotWorkAndSaysWhere) {
  const QString dir = ScratchDir(QString::fromLatin1(GetParam().name));
  QFile file(dir + "/plan.csv");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(GetParam().text);
  file.close();
  Plan plan;
  QString error;
  const bool read = ReadPlan(dir + "/plan.csv", plan, error);
  const QString expected = QString::fromUtf8(GetParam().error);
  EXPECT_EQ(read, expected.isEmpty()) << error.toStdString();
  EXPECT_TRUE(error.contains(expected)) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Plans, PlanReading,
    ::testing::Values(
        PlanCase{"Whole", "id,stores,to,user,password-file\nann,a.pst,http://h/,ann,pw\n", ""},
        PlanCase{"PasswordColumn", "id,stores,to,user,password\nann,a.pst,http://h/,ann,x\n",
                 "passwords are never read from a plan"},
        PlanCase{"PasswordInAddress", "id,stores,to\nann,a.pst,https://ann:Secret9@h/\n",
                 "holds a password: passwords are never read from a plan"},
        // A "#" in the password breaks the address apart: it is found all the same.
        PlanCase{"PasswordWithAHashInAddress", "id,stores,to\nann,a.pst,https://ann:Se#cret9@h/\n",
                 "holds a password: passwords are never read from a plan"},
        PlanCase{"NoTo", "id,stores\nann,a.pst\n", "no 'to' column"},
        PlanCase{"TwiceTheSameId", "id,stores,to\nann,a.pst,vdir:a\nann,b.pst,vdir:b\n",
                 "line 3: the id 'ann' is there twice"},
        PlanCase{"NoStores", "id,stores,to\nann,,vdir:a\n", "line 2: 'ann' has no stores"},
        PlanCase{"BothPasswordSources",
                 "id,stores,to,user,password-file,password-command\nann,a,ann@h,ann,pw,pass x\n",
                 "both a password-file and a password-command"},
        PlanCase{"LoginForAFolder", "id,stores,to,user\nann,a.pst,vdir:cards,ann\n",
                 "takes no user or password"},
        PlanCase{"NoDestination", "id,stores,to\nann,a.pst,somewhere\n",
                 "'ann' has no destination we can use"},
        PlanCase{"NotUtf8", "id,stores,to\nJos\xe9,a.pst,vdir:a\n", "is not UTF-8"},
        PlanCase{"BookForAccountsAndEvolution",
                 "id,stores,to,book\nann,a.pst,http://h/,Work\nbob,b.pst,evolution,Work\n"
                 "cy,c.pst,vdir:c,\n",
                 ""},
        PlanCase{"BookForAFolder", "id,stores,to,book\nann,a.pst,vdir:a,\nbob,b.pst,vdir:b,Work\n",
                 "line 3: 'bob' goes to the folder vdir:b, which is one address book"},
        PlanCase{"BookForANamedEvolutionBook", "id,stores,to,book\nann,a.pst,evolution:Foo,Bar\n",
                 "line 2: 'ann' goes to evolution:Foo, which names its book already"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlanCsv, QuotedFieldsHoldSeparatorsQuotesAndLineBreaks) {
  const std::vector<QStringList> rows =
      ParseCsv(QStringLiteral("\xEF\xBB\xBFid,stores\r\n\"a,b\",\"x;\"\"y\"\"\nz\"\r\n\n"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], (QStringList{"a,b", "x;\"y\"\nz"}));
}

TEST(PlanStores, GlobsFromThePlansFolderAndWhatMatchesNothing) {
  const QString dir = ScratchDir(QStringLiteral("globs"));
  QDir().mkpath(dir + "/home/ann");
  for (const char* name : {"home/ann/b.pst", "home/ann/a.pst", "home/ann/notes.txt"}) {
    QFile file(dir + u'/' + QLatin1String(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  QStringList unmatched;
  const QStringList files = ExpandStores(
      {"home/ann/*.pst", dir + "/home/ann/a.pst", "home/bob/*.pst", "gone.pst"}, dir, unmatched);
  EXPECT_EQ(files, (QStringList{dir + "/home/ann/a.pst", dir + "/home/ann/b.pst"}));
  EXPECT_EQ(unmatched, (QStringList{"home/bob/*.pst", "gone.pst"}));
}

TEST(PlanShards, TheSliceFollowsFromTheIdAlone) {
  // FNV-1a (64 bits) of "a" and "foobar", as its authors publish them.
  const struct {
    const char* id;
    quint64 hash;
  } known[] = {{"a", 0xaf63dc4c8601ec8cull}, {"foobar", 0x85944171f73967e8ull}};
  for (const auto& k : known)
    for (const int count : {1, 2, 3, 7})
      EXPECT_EQ(ShardOf(QString::fromLatin1(k.id), count), static_cast<int>(k.hash % count) + 1)
          << k.id << " " << count;
  int index = 0;
  int count = 0;
  EXPECT_TRUE(ParseShard(QStringLiteral("3/3"), index, count));
  EXPECT_EQ(std::pair(index, count), std::pair(3, 3));
  for (const char* wrong : {"0/3", "4/3", "3", "a/b", "1/0"})
    EXPECT_FALSE(ParseShard(QString::fromLatin1(wrong), index, count)) << wrong;
}

}  // namespace
