// The address-book export through the whole run: the template copy, the component's calls, the
// progress and completion steps, and every failure before the loop reported with what to do.
#include "convert/AddressBookExport.h"
#include "source/StoreBackend.h"
#include "tests/convert/RunTestSupport.h"
#include "tests/support/ScopedChanges.h"
#include "tests/wab/WabLayoutCheck.h"
#include "wab/AddressBook.h"

#include <QDateTime>
#include <QDir>

#include <unistd.h>
#include <cstdlib>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

class AddressBookExport : public RunTest {
 protected:
  ScopedEnvironment toolDir{"LUMIVEX_TOOL_DIR", BinDir()};

  RunResult Run() { return RunTest::Run({.wab = true}); }
  static FakeContact Entry(const QString& fullName, const QString& email) {
    FakeContact contact;
    contact.properties = {{"FullName", fullName}, {"Email1Address", email}};
    return contact;
  }
  void ExpectFailure(const RunResult& result, const char* says) {
    EXPECT_EQ(result.status, RunResult::kFailed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].style, 16);
    EXPECT_TRUE(view.messages[0].text.contains(QString::fromUtf8(says)))
        << view.messages[0].text.toStdString();
    EXPECT_TRUE(view.labels.isEmpty());
  }
};

TEST_F(AddressBookExport, EmptyFolderLeavesTheTemplateCopyAndReportsZero) {
  const RunResult result = Run();
  ASSERT_EQ(result.status, RunResult::kCompleted);
  ASSERT_EQ(Files().size(), 1);
  EXPECT_TRUE(HasStemName(Files()[0], "wab"));
  EXPECT_EQ(result.outputPath, target + u'/' + Files()[0]);
  EXPECT_EQ(ReadBytes(result.outputPath.toStdString()),
            ReadBytes((BinDir() + QStringLiteral("/xwab.def")).toStdString()));
  EXPECT_TRUE(wab::LiveContacts(wab::ReadBook(result.outputPath.toStdString())).empty());
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"0 Contacts Saved Successfully");
}

TEST_F(AddressBookExport, EveryEntryIsCountedAndEachReadableOneBecomesAContact) {
  Contacts().Add(Entry(QStringLiteral("John Smith"), QStringLiteral("john@example.com")));
  Contacts().Add(Entry(QStringLiteral("No Address"), QString()));
  Contacts().Add(Entry(QStringLiteral("John Smith"), QStringLiteral("john@example.com")));
  FakeContact unreadable = Entry(QStringLiteral("Lost"), QStringLiteral("lost@example.com"));
  unreadable.unreadable = true;
  Contacts().Add(unreadable);
  FakeContact badMail = Entry(QStringLiteral("Half"), QStringLiteral("half@example.com"));
  badMail.failing.insert(QStringLiteral("Email1Address"));
  Contacts().Add(badMail);
  Contacts().Add(Entry(QStringLiteral("山田 太郎 😀 Zoë"), QStringLiteral("taro@example.jp")));

  const RunResult result = Run();
  ASSERT_EQ(result.status, RunResult::kCompleted);
  EXPECT_EQ(result.contacts, 6);
  EXPECT_EQ(view.messages.back().text, u"6 Contacts Saved Successfully");
  // A progress step for every entry, the failed ones too.
  EXPECT_EQ(view.labels.size(), 6);
  EXPECT_EQ(view.labels.last(), u"Saving Contacts 6/6");
  EXPECT_TRUE(view.hidden && view.progressValue == 0) << "the window goes, its bar reset";

  CheckLayout(ReadBytes(result.outputPath.toStdString()));
  const auto contacts = wab::LiveContacts(wab::ReadBook(result.outputPath.toStdString()));
  ASSERT_EQ(contacts.size(), 4u);  // duplicates kept; the two failed reads add nothing
  EXPECT_EQ(contacts[0].displayName, "John Smith");
  EXPECT_EQ(contacts[1].displayName, "No Address");
  EXPECT_EQ(contacts[1].email, "");
  EXPECT_EQ(contacts[2].email, "john@example.com");
  EXPECT_EQ(contacts[3].displayName, "山田 太郎 😀 Zoë");
}

TEST_F(AddressBookExport, TemplateComesFromTheToolFolder) {
  ScopedEnvironment opt("LUMIVEX_TOOL_DIR", "/opt/lumivex");
  EXPECT_EQ(AddressBookTemplatePath(), u"/opt/lumivex/xwab.def");
  ScopedEnvironment top("LUMIVEX_TOOL_DIR", "/");
  EXPECT_EQ(AddressBookTemplatePath(), u"/xwab.def");
}

TEST_F(AddressBookExport, MissingOrDamagedTemplateStopsTheRunWithNoFileLeft) {
  AddContacts({{"Ann", "Lee"}});
  const QString dir = ScratchDir(QStringLiteral("wab-template"));
  const ScopedEnvironment empty("LUMIVEX_TOOL_DIR", dir);
  ExpectFailure(Run(), "xwab.def is missing");
  EXPECT_TRUE(Files().isEmpty());

  QFile file(dir + QStringLiteral("/xwab.def"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not an address book at all");
  file.close();
  view = RecordingView();
  ExpectFailure(Run(), "not a Windows Address Book");
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(AddressBookExport, UnwritableTargetFolderIsReported) {
  // Root writes through permission bits; /proc refuses new files to everyone.
  if (geteuid() == 0) {
    target = QStringLiteral("/proc/self");
  } else {
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  }
  ExpectFailure(Run(), "Choose another folder");
  QFile::setPermissions(target,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(AddressBookExport, AFolderInTheWayOfTheTargetIsReported) {
  // The target's name carries the time to the second: block the next few seconds' names.
  const QDateTime now = QDateTime::currentDateTime();
  for (int s = 0; s < 5; ++s)
    QDir(target).mkdir(RunContext::OutputStem(now.addSecs(s)) + QStringLiteral(".wab"));
  ExpectFailure(Run(), "a folder of that name is in the way");
  EXPECT_FALSE(APIFileCopy(BinDir() + QStringLiteral("/xwab.def"), target));
}

TEST(AddressBookFileCopy, CopiesOverwritesOrKeepsAsAsked) {
  const QString dir = ScratchDir(QStringLiteral("wab-copy"));
  const QString src = BinDir() + QStringLiteral("/xwab.def");
  const QString dest = dir + QStringLiteral("/a.wab");
  EXPECT_TRUE(APIFileCopy(src, dest, false));
  QFile(dest).resize(3);
  EXPECT_FALSE(APIFileCopy(src, dest, true));
  EXPECT_EQ(QFileInfo(dest).size(), 3);
  EXPECT_TRUE(APIFileCopy(src, dest));
  EXPECT_EQ(QFileInfo(dest).size(), QFileInfo(src).size());
  EXPECT_FALSE(APIFileCopy(dir + QStringLiteral("/none"), dest));
}

// A real store file through the real backend: every contact of the folder reaches the book with
// the name and address the backend reads.
TEST_F(AddressBookExport, RealStoreContactsReachTheBook) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString pst = FixturePst(QStringLiteral("six-contacts.pst"));
  SetMailProvider(MakeStoreMailProvider(nullptr, pst));
  const RunResult result = Run();
  ASSERT_EQ(result.status, RunResult::kCompleted) << result.error.toStdString();
  EXPECT_EQ(result.contacts, 6);

  const auto items = OpenStoreFile(pst)->DefaultContactsFolder()->GetItems();
  const auto contacts = wab::LiveContacts(wab::ReadBook(result.outputPath.toStdString()));
  ASSERT_EQ(contacts.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    QString name, email;
    ASSERT_TRUE(items->Item(i)->Read("FullName", name) &&
                items->Item(i)->Read("Email1Address", email));
    EXPECT_EQ(contacts[size_t(i)].displayName, name.toStdString());
    EXPECT_EQ(contacts[size_t(i)].email, email.toStdString());
  }
  CheckLayout(ReadBytes(result.outputPath.toStdString()));
}

}  // namespace
