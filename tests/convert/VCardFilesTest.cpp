// Both vCard forms: the single file and its time-stamped name, the per-contact files and their
// names, and what happens to names that collide or cannot be read.
#include "tests/convert/RunTestSupport.h"

#include <QDateTime>

#include <unistd.h>

using namespace lumivex;
using namespace lumivex::testing;

class VCardFiles : public RunTest {
 protected:
  // The numbers the per-contact form draws at a new start of the program.
  static QStringList FirstNumbers(int n) {
    Module1::ResetRandomNumber();
    QStringList numbers;
    for (int i = 0; i < n; ++i) numbers << QString::number(Module1::RandomNumber(1, 40000));
    Module1::ResetRandomNumber();
    return numbers;
  }
};

TEST_F(VCardFiles, SingleFileHoldsEveryRecordUnderTheStemName) {
  AddContacts({{"Ann", "Lee"}, {"Bob", "Ray"}, {"Cy", "Oh"}});
  const QDateTime before = QDateTime::currentDateTime();
  const RunResult result = Run(Single());
  ASSERT_EQ(Files().size(), 1);
  const QString name = Files()[0];
  EXPECT_TRUE(HasStemName(name, "vcf")) << name.toStdString();
  EXPECT_EQ(name.left(26), RunContext::OutputStem(before).left(26));  // same day
  EXPECT_EQ(result.outputPath, target + u'/' + name);

  const QByteArray bytes = Read(name);
  EXPECT_EQ(bytes.count("\r\n"), 66);
  EXPECT_EQ(bytes.count('\n'), 66);
  EXPECT_EQ(bytes.count("BEGIN:VCARD\r\n"), 3);
}

TEST_F(VCardFiles, OutputStemIsDayMonthYearAndTwentyFourHourTime) {
  EXPECT_EQ(RunContext::OutputStem(QDateTime(QDate(2008, 8, 21), QTime(14, 5, 9))),
            u"OutlookContacts-21-08-2008-14-05-09");
  EXPECT_EQ(RunContext::OutputStem(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5))),
            u"OutlookContacts-02-01-2024-03-04-05");
}

TEST_F(VCardFiles, ARunInTheSameSecondReplacesTheSingleFile) {
  AddContacts({{"Ann", "Lee"}});
  for (int attempt = 0; attempt < 5; ++attempt) {
    const QString stem = RunContext::OutputStem();
    Run(Single());
    Contacts().Add(MakeContact(QStringLiteral("Bob"), QStringLiteral("Ray")));
    Run(Single());
    if (RunContext::OutputStem() != stem) {  // a second went by: try again
      QDir(target).removeRecursively();
      QDir().mkpath(target);
      Contacts().contacts.resize(1);
      continue;
    }
    ASSERT_EQ(Files().size(), 1);
    EXPECT_EQ(Read(Files()[0]).count("BEGIN:VCARD"), 2);  // the second run's file
    return;
  }
  GTEST_SKIP() << "every attempt crossed a second boundary";
}

TEST_F(VCardFiles, PerContactNamesAreFirstLastAndTheDrawnNumber) {
  const QStringList n = FirstNumbers(5);
  AddContacts({{"Ann", "Lee"}, {"Bob", "Lee\\Smith"}, {"Cy", "Oh/Brien"}, {"", ""}});
  FakeContact noLast;
  noLast.properties = {{"FirstName", "Dee"}};
  Contacts().Add(noLast);
  const RunResult result = Run(Each());
  ASSERT_EQ(result.status, RunResult::kCompleted);
  QStringList expected = {"AnnLee" + n[0] + ".vcf", "Smith" + n[1] + ".vcf",
                          "Brien" + n[2] + ".vcf", n[3] + ".vcf", "Dee" + n[4] + ".vcf"};
  EXPECT_EQ(result.outputPath, target + u'/' + expected.back());
  expected.sort();
  EXPECT_EQ(Files(), expected);
  for (const QString& file : expected)
    EXPECT_EQ(Read(file).count("\r\n"), 22) << file.toStdString();
  EXPECT_TRUE(Read(expected.filter("Smith")[0]).contains("N:Lee\\Smith;Bob;\r\n"));
  EXPECT_EQ(view.messages.back().text, u"5 Contacts Saved Successfully");
}

TEST_F(VCardFiles, ANewStartDrawsTheSameNamesAndReplacesThoseFiles) {
  AddContacts({{"Ann", "Lee"}, {"Ann", "Lee"}, {"Bob", "Ray"}});
  Run(Each());
  const QStringList first = Files();
  ASSERT_EQ(first.size(), 3);  // two contacts with equal names get different numbers
  // Within one start the sequence goes on, so the next run draws new names.
  Run(Each());
  EXPECT_EQ(Files().size(), 6);
  // A new start draws the first run's numbers again: the same three names, replaced.
  QDir(target).removeRecursively();
  QDir().mkpath(target);
  Module1::ResetRandomNumber();
  Contacts().contacts[0].properties["JobTitle"] = QStringLiteral("Changed");
  Run(Each());
  EXPECT_EQ(Files(), first);
  bool changed = false;
  for (const QString& file : Files()) changed |= Read(file).contains("TITLE:Changed\r\n");
  EXPECT_TRUE(changed);
}

TEST_F(VCardFiles, NoEntryOfARunReplacesAnothersFile) {
  const QStringList n = FirstNumbers(3);
  // An entry whose names cannot be read is named by its number, not by the names kept from
  // the entry before it.
  FakeContact notAContact;
  notAContact.unreadable = true;
  Contacts().Add(MakeContact(QStringLiteral("Ann"), QStringLiteral("Lee"))).Add(notAContact);
  Run(Each());
  QStringList expected = {"AnnLee" + n[0] + ".vcf", n[1] + ".vcf"};
  expected.sort();
  EXPECT_EQ(Files(), expected);
  // Its record repeats the kept values.
  EXPECT_TRUE(Read(n[1] + ".vcf").contains("N:Lee;Ann;\r\n"));

  // Equal names and an equal number: the number is drawn again. Ten thousand contacts named
  // alike draw from 40000 numbers, so coincidences are certain.
  QDir(target).removeRecursively();
  QDir().mkpath(target);
  Contacts().contacts.clear();
  for (int i = 0; i < 10000; ++i)
    Contacts().Add(MakeContact(QStringLiteral("Ann"), QStringLiteral("Lee")));
  view = RecordingView();
  Run(Each());
  EXPECT_EQ(Files().size(), 10000);
  EXPECT_EQ(view.messages.back().text, u"10000 Contacts Saved Successfully");
}

TEST_F(VCardFiles, NamesLinuxCannotHoldStillGetAFile) {
  const QStringList n = FirstNumbers(2);
  FakeContact nul;
  nul.properties = {{"FirstName", QStringLiteral("A") + QChar(u'\0') + "nn"}, {"LastName", "Lee"}};
  FakeContact longName;
  longName.properties = {{"FirstName", QString(300, u'é')}, {"LastName", "Lee"}};
  Contacts().Add(nul).Add(longName);
  Run(Each());
  ASSERT_EQ(Files().size(), 2);
  EXPECT_TRUE(Files().contains("AnnLee" + n[0] + ".vcf"));
  const QString cut = Files().filter(n[1] + ".vcf").value(0);
  EXPECT_GE(QFile::encodeName(cut).size(), 254);  // "é" takes two bytes: one may be left over
  EXPECT_LE(QFile::encodeName(cut).size(), 255);
  EXPECT_TRUE(cut.startsWith(u"éé"));
}

TEST_F(VCardFiles, AFolderThatCannotHoldFilesIsReportedOrSkipped) {
  AddContacts({{"Ann", "Lee"}});
  // Root writes anywhere it has a folder: a plain file in the folder's place refuses everyone.
  QFile(target + "/not-a-folder").open(QIODevice::WriteOnly);
  const QString blocked = target + "/not-a-folder";
  Module1::SetFolderBrowser([blocked](int32_t, const QString&) { return blocked; });

  RunResult result = Run(Single());
  EXPECT_EQ(result.status, RunResult::kFailed);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].style, 16);
  EXPECT_TRUE(view.messages[0].text.startsWith("Cannot create the vCard file " + blocked +
                                               "/OutlookContacts-"))
      << view.messages[0].text.toStdString();
  EXPECT_TRUE(view.messages[0].text.contains(u"Not a directory"));
  EXPECT_FALSE(view.hidden);
  EXPECT_EQ(mail->openSessions, 0);

  // The per-contact form skips the files it cannot create, counting their entries all the same.
  view = RecordingView();
  result = Run(Each());
  EXPECT_EQ(result.status, RunResult::kCompleted);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"1 Contacts Saved Successfully");
}
