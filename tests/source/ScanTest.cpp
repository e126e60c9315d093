// The contacts-folder scan against an in-memory store: what the window shows, which messages
// come up, what is kept for the conversion run and in which order the session is released.
#include "source/Scan.h"

#include "common/Module1.h"
#include "tests/support/FakeStore.h"

#include <gtest/gtest.h>

#include <functional>

namespace lumivex {
namespace {

using testing::FakeContact;
using testing::FakeFolder;
using testing::FakeMail;
using testing::FakeStore;
using testing::MakeContact;

struct Message {
  QString text;
  QString title;
  int style;
};

// A main window as the scan sees it: remembers the last state of everything it was told.
class ScanWindow : public ScanView {
 public:
  bool DefaultStoreChosen() const override { return defaultStore; }
  bool OtherStoreChosen() const override { return otherStore; }
  QString StoreFileText() const override { return fileText; }
  void ShowCountLabels() override { countLabelsShown = true; }
  void SetOuterHeight(int twips) override { height = twips; }
  void SetReadingShown(bool shown) override {
    readingShown = shown;
    events << (shown ? "reading shown" : "reading hidden");
  }
  void SetProgressRange(int minimum, int maximum) override {
    rangeMin = minimum;
    rangeMax = maximum;
  }
  void SetProgressValue(int value) override { progress = value; }
  void SetTotalContacts(const QString& text) override { total = text; }
  void SetCurrentContact(const QString& text) override {
    if (current.isEmpty()) firstCurrent = text;
    current = text;
  }
  void SetContactsCreateEnabled(bool enabled) override {
    createEnabled = enabled;
    events << (enabled ? "save enabled" : "save disabled");
  }
  void SetEnumerateEnabled(bool enabled) override {
    scanEnabled = enabled;
    events << (enabled ? "scan enabled" : "scan disabled");
  }
  void EnableSaveMenu() override {
    saveMenu = true;
    events << "save menu enabled";
  }
  void ShowMessage(const QString& text, const QString& title, int style) override {
    messages.push_back({text, title, style});
    events << "message";
  }
  void Yield() override {
    ++yields;
    if (onYield) onYield();
  }
  bool Abandoned() const override { return abandoned; }

  bool defaultStore = false;
  bool otherStore = false;
  QString fileText;
  std::function<void()> onYield;
  bool abandoned = false;

  bool countLabelsShown = false;
  int height = 3540;
  bool readingShown = true;  // CmdBrowse_Click shows them before the scan
  int rangeMin = -1, rangeMax = -1, progress = 0;
  QString total, current, firstCurrent;
  bool createEnabled = true;  // as left by an earlier successful scan
  bool scanEnabled = true;
  bool saveMenu = false;
  std::vector<Message> messages;
  QStringList events;
  int yields = 0;
};

// The fake session objects note in the calls list when each one is released.
std::shared_ptr<MailProvider> RecordingReleases(const std::shared_ptr<FakeMail>& mail) {
  mail->onRelease = [calls = &mail->calls](const std::string& what) {
    calls->push_back("release " + what + (Module1::PickedFolder ? " (picked folder kept)" : ""));
  };
  return testing::MakeFakeProvider(mail);
}

class ScanTest : public ::testing::Test {
 public:
  void SetUp() override {
    Module1::Reset();
    SetMailProvider(RecordingReleases(mail));
  }
  void TearDown() override {
    SetMailProvider(nullptr);
    Module1::Reset();
  }

  void AddContacts(FakeFolder& folder, int n) {
    for (int i = 0; i < n; ++i) folder.Add(MakeContact(QStringLiteral("First%1").arg(i), "Last"));
  }

  // A second store file at /data/other.pst with a contacts folder of `n` entries and a mail
  // folder; the picker chooses the folder at `pickPath` (empty: cancel).
  std::shared_ptr<FakeStore> OtherFile(int n, const QString& pickPath) {
    auto store = std::make_shared<FakeStore>(QStringLiteral("/data/other.pst"));
    AddContacts(*store->defaultContacts, n);
    mail->files[store->FilePath()] = store;
    mail->picker = [pickPath](const std::vector<std::shared_ptr<Store>>& stores) {
      return pickPath.isEmpty() ? nullptr : FindFolder(*stores.back(), pickPath);
    };
    window.otherStore = true;
    window.fileText = store->FilePath();
    return store;
  }

  std::shared_ptr<FakeMail> mail = std::make_shared<FakeMail>();
  ScanWindow window;
};

const std::vector<std::string> kReleaseInOrder = {"release MapiNamespace", "release MailClientApp",
                                                  "Logoff", "release RdoSession"};

std::vector<std::string> Tail(const std::vector<std::string>& calls, size_t n) {
  return {calls.end() - static_cast<std::ptrdiff_t>(std::min(n, calls.size())), calls.end()};
}

TEST_F(ScanTest, DefaultStoreCountsEntriesShowsProgressAndEnablesSave) {
  AddContacts(*mail->defaultStore->defaultContacts, 3);
  window.defaultStore = true;
  Module1::FilePath = QStringLiteral("/kept.pst");

  const ScanResult result = ScanContactsFolder(window);

  EXPECT_EQ(result.status, ScanResult::kCounted);
  EXPECT_EQ(result.contacts, 3);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "3 Contacts Scanned Successfully");
  EXPECT_EQ(window.messages[0].title, "Quorvane Software");
  EXPECT_EQ(window.messages[0].style, 64);
  EXPECT_TRUE(window.countLabelsShown);
  EXPECT_EQ(window.height, 4410);
  EXPECT_EQ(window.total, "3");
  EXPECT_EQ(window.firstCurrent, "1/3");
  EXPECT_EQ(window.current, "3/3");
  EXPECT_EQ(window.rangeMin, 0);
  EXPECT_EQ(window.rangeMax, 3);
  EXPECT_EQ(window.progress, 3);
  EXPECT_EQ(Module1::ContactCounter, 4);
  // The message comes first, then the buttons, then the reading label and bar go.
  EXPECT_EQ(window.events, QStringList({"reading shown", "message", "save enabled", "scan disabled",
                                        "save menu enabled", "reading hidden"}));
  // The default store never opens the picker and leaves the other file's state alone.
  EXPECT_EQ(Module1::FilePath, "/kept.pst");
  EXPECT_FALSE(Module1::PickedFolder);
  const std::vector<std::string> opened = {"CreateMailClientApp", "GetNamespace MAPI",
                                           "CreateRdoSession", "Logon", "GetDefaultFolder 10"};
  EXPECT_EQ(std::vector<std::string>(mail->calls.begin(), mail->calls.begin() + 5), opened);
  EXPECT_EQ(Tail(mail->calls, 4), kReleaseInOrder);
  EXPECT_EQ(mail->calls.size(), 9u);
  EXPECT_EQ(mail->openSessions, 0);
  // Repaints: after starting the client, after logging on, before the items, after the count,
  // and once per entry.
  EXPECT_EQ(window.yields, 4 + 3);
}

TEST_F(ScanTest, EmptyAndSingleEntryFolders) {
  window.defaultStore = true;
  ScanContactsFolder(window);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "No Contacts Found in Outlook PST File");
  EXPECT_EQ(window.messages[0].title, "Quorvane Software");
  EXPECT_EQ(window.messages[0].style, 64);
  EXPECT_EQ(window.rangeMax, -1) << "an empty folder leaves the bar unconfigured";
  EXPECT_EQ(window.total, "0");
  EXPECT_FALSE(window.createEnabled);
  EXPECT_TRUE(window.scanEnabled);
  EXPECT_FALSE(window.saveMenu);
  EXPECT_FALSE(window.readingShown);
  EXPECT_EQ(mail->openSessions, 0);

  mail->defaultStore->defaultContacts->Add(MakeContact("Ada", "Lovelace"));
  window.messages.clear();
  ScanContactsFolder(window);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "1 Contacts Scanned Successfully");
  EXPECT_EQ(window.current, "1/1");
}

TEST_F(ScanTest, OtherFileKeepsThePickedFolderForTheConversion) {
  OtherFile(2, QStringLiteral("Top of Personal Folders/Contacts"));
  const ScanResult result = ScanContactsFolder(window);
  EXPECT_EQ(result.status, ScanResult::kCounted);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "2 Contacts Scanned Successfully");
  EXPECT_EQ(Module1::FilePath, "/data/other.pst");
  ASSERT_TRUE(Module1::PickedFolder);
  EXPECT_EQ(Module1::PickedFolder->Name(), "Contacts");
  EXPECT_EQ(Module1::PickedFolderPath, "Top of Personal Folders/Contacts");
  EXPECT_NE(std::find(mail->calls.begin(), mail->calls.end(), "AddStore /data/other.pst"),
            mail->calls.end());
  EXPECT_EQ(Tail(mail->calls, 4),
            std::vector<std::string>({"release MapiNamespace (picked folder kept)",
                                      "release MailClientApp (picked folder kept)", "Logoff",
                                      "release RdoSession (picked folder kept)"}));
  EXPECT_EQ(mail->openSessions, 0);
}

// A pick that is cancelled, or of a folder without contacts, leaves the earlier scan of another
// file as it was: the window still shows it and its save step still exports it.
TEST_F(ScanTest, PickerExitsKeepTheEarlierScan) {
  const struct {
    const char* name;
    const char* pick;  // the folder picked; empty: the picker is cancelled
    ScanResult::Status status;
    const char* message;  // none: nothing is shown
  } cases[] = {
      {"cancelled", "", ScanResult::kCancelled, nullptr},
      {"mail folder", "Top of Personal Folders/Inbox", ScanResult::kWrongFolder,
       "Please select a Contact folder."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The earlier scan, of /data/earlier.pst.
    const auto earlier = std::make_shared<FakeStore>(QStringLiteral("/data/earlier.pst"));
    Module1::FilePath = earlier->FilePath();
    Module1::PickedFolder = earlier->defaultContacts;
    Module1::PickedFolderPath = QStringLiteral("Top of Personal Folders/Contacts");
    window = ScanWindow();
    mail->calls.clear();
    OtherFile(2, QString::fromUtf8(c.pick));

    EXPECT_EQ(ScanContactsFolder(window).status, c.status);
    if (c.message == nullptr) {
      EXPECT_TRUE(window.messages.empty());
    } else {
      ASSERT_EQ(window.messages.size(), 1u);
      EXPECT_EQ(window.messages[0].text, c.message);
      EXPECT_EQ(window.messages[0].title, "Select Contacts Folder");
      EXPECT_EQ(window.messages[0].style, 48);
    }
    // Nothing was counted: the window keeps what it showed.
    EXPECT_EQ(window.height, 3540);
    EXPECT_TRUE(window.total.isEmpty());
    EXPECT_TRUE(window.createEnabled);
    EXPECT_EQ(Module1::FilePath, "/data/earlier.pst");
    EXPECT_EQ(Module1::PickedFolder, earlier->defaultContacts);
    EXPECT_EQ(Module1::PickedFolderPath, "Top of Personal Folders/Contacts");
    EXPECT_EQ(Tail(mail->calls, 4),
              std::vector<std::string>({"release MapiNamespace (picked folder kept)",
                                        "release MailClientApp (picked folder kept)", "Logoff",
                                        "release RdoSession (picked folder kept)"}));
    EXPECT_EQ(mail->openSessions, 0);
  }
}

TEST_F(ScanTest, FailuresShowOneMessageAndReleaseWithoutLoggingOff) {
  struct Case {
    const char* name;
    std::function<void(ScanTest&)> arrange;
    const char* reason;
    bool loggedOn;
  };
  const std::vector<Case> cases = {
      {"mail client", [](ScanTest& t) { t.mail->failCreateApp = true; }, "cannot be started",
       false},
      {"logon", [](ScanTest& t) { t.mail->failLogon = true; }, "no data file", false},
      {"attach",
       [](ScanTest& t) {
         t.OtherFile(1, QStringLiteral("Top of Personal Folders/Contacts"));
         t.window.fileText = QStringLiteral("/data/damaged.pst");
       },
       "not a personal-folder file", true},
      {"items",
       [](ScanTest& t) {
         t.OtherFile(1, QStringLiteral("Top of Personal Folders/Contacts"));
         t.mail->files.begin()->second->defaultContacts->failItems = true;
       },
       "contents table", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mail = std::make_shared<FakeMail>();
    SetMailProvider(RecordingReleases(mail));
    window = ScanWindow();
    window.defaultStore = true;
    c.arrange(*this);

    const ScanResult result = ScanContactsFolder(window);

    EXPECT_EQ(result.status, ScanResult::kFailed);
    ASSERT_EQ(window.messages.size(), 1u);
    const QStringList lines = window.messages[0].text.split(u'\n');
    EXPECT_EQ(lines[0], QString::fromUtf8(kScanFailedText));
    EXPECT_TRUE(window.messages[0].text.contains(QString::fromUtf8(c.reason)))
        << window.messages[0].text.toStdString();
    EXPECT_EQ(window.messages[0].title, "Quorvane Software");
    EXPECT_EQ(window.messages[0].style, 64);
    // Nothing else is done: no count, buttons untouched, no logoff.
    EXPECT_EQ(window.height, 3540);
    EXPECT_TRUE(window.total.isEmpty());
    EXPECT_TRUE(window.createEnabled);
    EXPECT_TRUE(window.scanEnabled);
    EXPECT_EQ(std::count(mail->calls.begin(), mail->calls.end(), "Logoff"), 0);
    EXPECT_EQ(mail->openSessions, c.loggedOn ? 1 : 0);
  }
}

TEST_F(ScanTest, CountersStopAt32767) {
  AddContacts(*mail->defaultStore->defaultContacts, 40000);
  window.defaultStore = true;
  const ScanResult result = ScanContactsFolder(window);
  EXPECT_EQ(result.contacts, 32767);
  EXPECT_EQ(Module1::ContactCounter, 32767);
  EXPECT_EQ(window.total, "40000");
  EXPECT_EQ(window.current, "32767/40000");
  EXPECT_EQ(window.progress, 32767);
  ASSERT_EQ(window.messages.size(), 1u);
  // The message is the running number less one, and the running number stops at 32767.
  EXPECT_EQ(window.messages[0].text, "32766 Contacts Scanned Successfully");
}

TEST_F(ScanTest, CountIsAskedAfreshForEachLabel) {
  auto& folder = *mail->defaultStore->defaultContacts;
  AddContacts(folder, 3);
  window.defaultStore = true;
  // A contact arrives while the first entry is shown.
  window.onYield = [&] {
    if (window.current == "1/3") folder.Add(MakeContact("Late", "Comer"));
  };
  ScanContactsFolder(window);
  EXPECT_EQ(window.total, "3");
  EXPECT_EQ(window.current, "3/4");
  EXPECT_EQ(window.messages[0].text, "3 Contacts Scanned Successfully");
}

TEST_F(ScanTest, ClicksDuringAScanAndClosingTheWindow) {
  AddContacts(*mail->defaultStore->defaultContacts, 5);
  window.defaultStore = true;
  std::vector<ScanResult::Status> nested;
  window.onYield = [&] { nested.push_back(ScanContactsFolder(window).status); };
  EXPECT_EQ(ScanContactsFolder(window).status, ScanResult::kCounted);
  EXPECT_FALSE(nested.empty());
  for (auto status : nested) EXPECT_EQ(status, ScanResult::kBusy);
  EXPECT_EQ(window.messages.size(), 1u);

  // Closing the window in the middle of the count: the scan stops, says nothing, logs off.
  window = ScanWindow();
  window.defaultStore = true;
  window.onYield = [&] { window.abandoned = window.yields > 5; };
  mail->calls.clear();
  EXPECT_EQ(ScanContactsFolder(window).status, ScanResult::kAbandoned);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(Tail(mail->calls, 4), kReleaseInOrder);
  EXPECT_EQ(mail->openSessions, 0);
}

}  // namespace
}  // namespace lumivex
