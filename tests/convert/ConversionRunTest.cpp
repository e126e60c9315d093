// The run's frame: the session and its release, the progress shown, the completion message, and
// the failures before a writer's loop. (A cancelled folder prompt: FrmConversionTest.)
#include "tests/convert/RunTestSupport.h"
#include "tests/support/ScopedChanges.h"

using namespace lumivex;
using namespace lumivex::testing;

using Calls = std::vector<std::string>;

namespace {
const Calls kOpenAndRelease = {"CreateMailClientApp", "GetNamespace MAPI",
                               "CreateRdoSession",    "Logon",
                               "GetDefaultFolder 10", "Logoff"};
}

class ConversionRun : public RunTest {};

TEST_F(ConversionRun, NoOptionOpensAndReleasesTheSessionAndWritesNothing) {
  AddContacts({{"Ann", "Lee"}});
  const RunResult result = Run({});
  EXPECT_EQ(result.status, RunResult::kNoOption);
  EXPECT_EQ(mail->calls, kOpenAndRelease);
  EXPECT_EQ(mail->openSessions, 0);
  EXPECT_EQ(view.events, QStringList{"range 0..1"});  // no message, the window is not hidden
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(ConversionRun, ProgressLabelsCompletionAndRelease) {
  AddContacts({{"Ann", "Lee"}, {"Bob", "Ray"}, {"Cy", "Oh"}});
  // The label's total is the folder's count at each entry: it follows a folder that grows.
  Contacts().extraCountDuring = 2;
  const RunResult result = Run(Single());
  ASSERT_EQ(result.status, RunResult::kCompleted);
  EXPECT_EQ(result.contacts, 3);
  EXPECT_EQ(view.events,
            (QStringList{"range 0..3", "value 1", "label Saving Contacts 1/5", "value 2",
                         "label Saving Contacts 2/5", "value 3", "label Saving Contacts 3/5",
                         "enable", "message 3 Contacts Saved Successfully", "value 0", "hide"}));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, u"Conversion Completed...");
  EXPECT_EQ(view.messages[0].style, 64);
  EXPECT_EQ(mail->calls, kOpenAndRelease);
  EXPECT_EQ(mail->openSessions, 0);
  EXPECT_EQ(result.outputPath, Module1::OutputPath);
}

TEST_F(ConversionRun, EmptyFolderGivesAnEmptyFileAndZeroContacts) {
  const RunResult result = Run(Single());
  ASSERT_EQ(result.status, RunResult::kCompleted);
  ASSERT_EQ(Files().size(), 1);
  EXPECT_TRUE(Read(Files()[0]).isEmpty());
  EXPECT_EQ(view.rangeMax, 0);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"0 Contacts Saved Successfully");

  // The per-contact form writes no file and says the same.
  view = RecordingView();
  QDir(target).removeRecursively();
  QDir().mkpath(target);
  Run(Each());
  EXPECT_TRUE(Files().isEmpty());
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"0 Contacts Saved Successfully");
}

TEST_F(ConversionRun, TargetFolderGetsOneTrailingSeparator) {
  AddContacts({{"Ann", "Lee"}});
  Module1::SetFolderBrowser([this](int32_t, const QString&) { return target + u'/'; });
  Run(Single());
  EXPECT_TRUE(Module1::OutputPath.startsWith(target + u'/'));
  EXPECT_FALSE(Module1::OutputPath.contains(u"//"));
  EXPECT_EQ(Files().size(), 1);
}

TEST_F(ConversionRun, ChosenFileModeRunsAgainWithoutANewScan) {
  // What a scan of another store file leaves behind.
  auto file = std::make_shared<FakeStore>(QStringLiteral("/data/other.pst"));
  auto folder = file->top->AddFolder(QStringLiteral("Clients"), QStringLiteral("IPF.Contact"));
  folder->Add(MakeContact(QStringLiteral("Ann"), QStringLiteral("Lee")));
  folder->Add(MakeContact(QStringLiteral("Bob"), QStringLiteral("Ray")));
  mail->files[file->FilePath()] = file;
  Module1::FilePath = file->FilePath();
  Module1::PickedFolderPath = QStringLiteral("Top of Personal Folders/Clients");
  Module1::PickedFolder = folder;
  const SourceOptions chosen{.defaultStore = false, .selectStore = true};

  RunResult first = Run(Single(), chosen);
  ASSERT_EQ(first.status, RunResult::kCompleted);
  EXPECT_EQ(first.contacts, 2);
  EXPECT_FALSE(Module1::PickedFolder);  // dropped by the release step
  EXPECT_EQ(std::count(mail->calls.begin(), mail->calls.end(), "AddStore /data/other.pst"), 0);

  view = RecordingView();
  RunResult second = Run(Each(), chosen);
  ASSERT_EQ(second.status, RunResult::kCompleted) << second.error.toStdString();
  EXPECT_EQ(second.contacts, 2);
  EXPECT_EQ(std::count(mail->calls.begin(), mail->calls.end(), "AddStore /data/other.pst"), 1);
  EXPECT_EQ(Files().size(), 3);  // the single file and two contact files
  EXPECT_EQ(mail->openSessions, 0);

  // The folder has gone from the file since the scan: one message saying so, nothing written.
  view = RecordingView();
  Module1::PickedFolderPath = QStringLiteral("Top of Personal Folders/Gone");
  RunResult third = Run(Single(), chosen);
  EXPECT_EQ(third.status, RunResult::kFailed);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_TRUE(view.messages[0].text.contains(u"Top of Personal Folders/Gone"));
  EXPECT_TRUE(view.messages[0].text.contains(u"/data/other.pst"));
  EXPECT_FALSE(view.hidden);
  EXPECT_EQ(Files().size(), 3);

  // A later scan of the file was cancelled in the picker: nothing is kept, and the run asks for
  // a scan instead of reading the store's root.
  view = RecordingView();
  Module1::PickedFolderPath.clear();
  RunResult fourth = Run(Single(), chosen);
  EXPECT_EQ(fourth.status, RunResult::kFailed);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_TRUE(view.messages[0].text.contains(u"scan a store file first"));
  EXPECT_EQ(Files().size(), 3);
}

TEST_F(ConversionRun, FailuresBeforeTheLoopAreOneMessageAndLeaveTheWindowUp) {
  AddContacts({{"Ann", "Lee"}});
  mail->failLogon = true;
  RunResult result = Run(Single());
  EXPECT_EQ(result.status, RunResult::kFailed);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].style, 16);
  EXPECT_EQ(view.messages[0].text, u"No default store: the profile has no data file");
  EXPECT_FALSE(view.hidden);
  EXPECT_EQ(mail->openSessions, 0);

  mail->failLogon = false;
  Contacts().failItems = true;
  view = RecordingView();
  result = Run(Each());
  EXPECT_EQ(result.status, RunResult::kFailed);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(mail->openSessions, 0);  // logged off all the same
  EXPECT_TRUE(Files().isEmpty());

  // No source chosen on the main window.
  Contacts().failItems = false;
  view = RecordingView();
  result = Run(Single(), SourceOptions{});
  EXPECT_EQ(result.status, RunResult::kFailed);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_TRUE(Files().isEmpty());
}

// An entry that cannot be read is told to the view once, with its folder and place, by every
// form; what the forms write keeps the window's rule (the values of the entry before it).
TEST_F(ConversionRun, UnreadableEntriesAreToldToTheViewOnceEach) {
  const ScopedEnvironment toolDir("LUMIVEX_TOOL_DIR", BinDir());
  FakeContact unreadable;
  unreadable.unreadable = true;
  FakeContact noEmail = MakeContact(QStringLiteral("Dee"), QStringLiteral("Fox"));
  noEmail.failing = {QStringLiteral("Email1Address")};
  Contacts()
      .Add(MakeContact(QStringLiteral("Ann"), QStringLiteral("Lee")))
      .Add(unreadable)
      .Add(MakeContact(QStringLiteral("Cy"), QStringLiteral("Oh")))
      .Add(noEmail);
  for (const OutputOptions& output :
       {Single(), Each(), OutputOptions{.wab = true}, OutputOptions{.excel = true}}) {
    view = RecordingView();
    QDir(target).removeRecursively();
    QDir().mkpath(target);
    const RunResult result = Run(output);
    ASSERT_EQ(result.status, RunResult::kCompleted) << result.error.toStdString();
    EXPECT_EQ(view.unreadable, (QStringList{"Top of Personal Folders/Contacts #2",
                                            "Top of Personal Folders/Contacts #4"}));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, u"4 Contacts Saved Successfully");
  }
  // The single file: the second card is the first one's, as a failing read keeps the value.
  view = RecordingView();
  QDir(target).removeRecursively();
  QDir().mkpath(target);
  Run(Single());
  const QStringList cards =
      QString::fromLatin1(Read(Files()[0])).split(QStringLiteral("BEGIN:VCARD"));
  ASSERT_EQ(cards.size(), 5);  // the text before the first card, then four cards
  EXPECT_EQ(cards[2], cards[1]);
}

// A file-size limit stands in for a full disk: no single-file form leaves a file cut short under
// its name (nor its temporary file); the window still completes as it always does.
TEST_F(ConversionRun, AFileCutShortIsNeverLeftBehind) {
  const ScopedEnvironment toolDir("LUMIVEX_TOOL_DIR", BinDir());
  AddContacts({{"Ann", "Lee"}, {"Bob", "Ray"}, {"Cy", "Oh"}});
  struct Case {
    OutputOptions output;
    RunResult::Status status;
  };
  for (const Case& c :
       {Case{Single(), RunResult::kCompleted}, Case{{.excel = true}, RunResult::kCompleted},
        Case{{.wab = true}, RunResult::kFailed}}) {
    view = RecordingView();
    FileSizeLimit limit(200);
    ASSERT_TRUE(limit.IsSet());
    const RunResult result = Run(c.output);
    limit.End();
    EXPECT_EQ(result.status, c.status) << result.error.toStdString();
    EXPECT_TRUE(QDir(target).entryList(QDir::Files | QDir::Hidden).isEmpty())
        << QDir(target).entryList(QDir::Files | QDir::Hidden).join(u' ').toStdString();
    if (c.status == RunResult::kCompleted) {
      ASSERT_EQ(view.messages.size(), 1u);
      EXPECT_EQ(view.messages[0].text, u"3 Contacts Saved Successfully");
      EXPECT_EQ(view.failedOutputs.size(), 1);
    }
  }
}
