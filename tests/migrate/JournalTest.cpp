// The journal of a migration read back: every slice's file together, in the order of the events'
// times, a line cut by a power cut left out, each person's latest run taken as where they stand.
#include "migrate/Journal.h"
#include "tests/support/TestPaths.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace lumivex::migrate;
using namespace lumivex::testing;

namespace {

void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

TEST(MigrationJournal, EverySlicesEventsInTimeOrderTheLatestRunCounting) {
  const QString dir = ScratchDir(QStringLiteral("journal"));
  const QString plan = dir + "/plan.csv";
  Write(plan, "id,stores,to\n");
  // Slice 1 of 2: ann fails, then (in slice 2's file, later) finishes; bob's last line is cut.
  Write(plan + ".1-of-2.journal",
        R"({"time":"2026-01-01T10:00:00.000Z","id":"ann","event":"started"}
{"time":"2026-01-01T10:00:01.000Z","id":"ann","event":"stores","stores":["/a.pst","/b.pst"]}
{"time":"2026-01-01T10:00:09.000Z","id":"ann","event":"failed","reason":"HTTP 503","remedy":"network","added":3,"failed":4}
{"time":"2026-01-01T10:00:02.000Z","id":"bob","event":"started"}
{"time":"2026-01-01T10:00:0)");
  Write(plan + ".2-of-2.journal",
        R"({"time":"2026-01-01T11:00:00.000Z","id":"ann","event":"started"}
{"time":"2026-01-01T11:00:05.000Z","id":"ann","event":"finished","entries":9,"contacts":7,"added":4,"unchanged":3}
{"time":"2026-01-01T10:30:00.000Z","id":"cy","event":"started"}
{"time":"2026-01-01T10:30:02.000Z","id":"cy","event":"stopped","added":2}
)");
  Write(plan + ".journal.bak",
        R"({"time":"2027-01-01T00:00:00.000Z","id":"cy","event":"finished"})");

  const QStringList journals = JournalsOf(plan);
  EXPECT_EQ(journals, (QStringList{plan + ".1-of-2.journal", plan + ".2-of-2.journal"}));
  const std::map<QString, PersonState> states = ReadJournals(journals);
  ASSERT_EQ(states.size(), 3u);
  const PersonState& ann = states.at("ann");
  EXPECT_EQ(ann.status, Status::kDone);
  EXPECT_EQ(ann.attempts, 2);
  EXPECT_EQ(std::tuple(ann.counts.entries, ann.counts.contacts, ann.counts.Sent(),
                       ann.counts.unchanged, ann.counts.failed),
            std::tuple(9, 7, 4, 3, 0));
  EXPECT_TRUE(ann.reason.isEmpty());
  const PersonState& bob = states.at("bob");
  EXPECT_EQ(bob.status, Status::kPending);
  EXPECT_TRUE(bob.interrupted);
  const PersonState& cy = states.at("cy");
  EXPECT_EQ(cy.status, Status::kPending);
}

TEST(MigrationJournal, AppendsWholeLinesAndOneRunOfASliceAtATime) {
  const QString dir = ScratchDir(QStringLiteral("journal-append"));
  const QString path = JournalPath(dir + "/plan.csv", 2, 3);
  EXPECT_EQ(path, dir + "/plan.csv.2-of-3.journal");
  Journal first;
  QString error;
  ASSERT_TRUE(first.Open(path, error)) << error.toStdString();
  first.SetShard("2/3");
  Counts counts;
  counts.added = 5;
  ASSERT_TRUE(first.Append("ann", "started", {}));
  ASSERT_TRUE(first.Append("ann", "finished", counts.ToJson()));
  Journal second;
  EXPECT_FALSE(second.Open(path, error));
  EXPECT_TRUE(error.contains("another migration of this plan")) << error.toStdString();
  EXPECT_EQ(QFile(path).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
  const PersonState ann = ReadJournals({path}).at("ann");
  EXPECT_EQ(std::tuple(ann.status, ann.counts.added, ann.shard),
            std::tuple(Status::kDone, 5, "2/3"));
}

}  // namespace
