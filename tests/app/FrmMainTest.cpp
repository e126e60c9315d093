// The main window driven offscreen: its controls and menus at start, the state machine of its
// handlers, the scan as the user runs it (in-memory store and real store files), and how the
// conversion window is shown and dropped.
#include "app/FrmMain.h"

#include "app/FolderPickerDialog.h"
#include "common/Module1.h"
#include "convert/FrmConversion.h"
#include "source/StoreBackend.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/ExpectedPlaces.h"
#include "tests/support/FakeStore.h"
#include "tests/support/ScopedChanges.h"
#include "tests/support/TestPaths.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace lumivex {
namespace {

using testing::App;
using testing::FakeMail;
using testing::MakeContact;
using testing::OnNextModal;
using testing::ScriptedDialogs;
using testing::Tw;

class FrmMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    Module1::Reset();
    SetDialogs(dialogs);
    SetMailProvider(testing::MakeFakeProvider(mail));
    for (int i = 0; i < 3; ++i)
      mail->defaultStore->defaultContacts->Add(MakeContact(QStringLiteral("N%1").arg(i), "X"));
    window = std::make_unique<FrmMain>();
    window->show();
  }
  void TearDown() override {
    window.reset();
    SetDialogs(nullptr);
    SetMailProvider(nullptr);
    Module1::Reset();
  }

  // True when `widget` lies wholly inside the part of the client area the window height shows.
  bool InView(QWidget* widget) const {
    QWidget* viewport = window->centralWidget();
    const QRect where(widget->mapTo(viewport, QPoint(0, 0)), widget->size());
    return widget->isVisibleTo(window.get()) && viewport->rect().contains(where);
  }

  // A second store file, /data/other.pst, with one contact; the picker takes its contacts folder.
  void AddOtherStore() {
    auto other = std::make_shared<testing::FakeStore>("/data/other.pst");
    other->defaultContacts->Add(MakeContact("Ann", "Lee"));
    mail->files[other->FilePath()] = other;
    mail->picker = [](const std::vector<std::shared_ptr<Store>>& stores) {
      return stores.back()->DefaultContactsFolder();
    };
  }

  void ChooseFile(const QString& path) {
    window->OptSelectPST->setChecked(true);
    dialogs->files.push_back(path);
    window->CmdBrowse->click();
  }

  std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
  std::shared_ptr<FakeMail> mail = std::make_shared<FakeMail>();
  std::unique_ptr<FrmMain> window;
};

TEST_F(FrmMainTest, ControlsAndMenusAtStart) {
  FrmMain& w = *window;
  EXPECT_EQ(w.windowTitle(), "Lumivex v3.0");
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(w.width(), 714);
  EXPECT_EQ(w.centralWidget()->findChild<QWidget*>("Client")->size(), QSize(714, 242));
  EXPECT_EQ(w.centralWidget()->findChild<QWidget*>("Client")->palette().color(QPalette::Window),
            QColor(236, 233, 216));
  EXPECT_EQ(Module1::ContactCounter, 1);
  EXPECT_EQ(w.OuterHeight(), 3540);

  struct Expected {
    const char* name;
    QString text;
    bool enabled;
    bool visible;
  };
  const std::vector<Expected> controls = {
      {"Label3", "Select Outlook PST File", true, true},
      {"OptDefaultPST", "Default Outlook Contacts", true, true},
      {"OptSelectPST", "Select Other Outlook File", true, true},
      {"txtNotesDatabaseFile", "", false, true},
      {"CmdBrowse", "&Browse...", false, true},
      {"CmdEnumerateNotes", "Scan &Outlook Contacts", false, true},
      {"CmdContactsCreate", "&Save Contacts", false, true},
      {"LblRead", "Reading Outlook Contacts", true, false},
      {"ProgBarScanNotes", "", true, false},
      {"LblTotalContactsHead", "Number of Contacts Found :", true, false},
      {"LblTotalContacts", "", true, true},
      {"LblCurrentContactHead", "Current Contact :", true, false},
      {"LblCurrentContact", "", true, true},
      {"StatusBar1", "", true, true},
  };
  for (const Expected& c : controls) {
    SCOPED_TRACE(c.name);
    QWidget* control = w.findChild<QWidget*>(c.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->isEnabled(), c.enabled);
    EXPECT_EQ(control->isVisibleTo(control->parentWidget()), c.visible);
    QString text;
    if (auto* label = qobject_cast<QLabel*>(control)) text = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control)) text = button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) text = edit->text();
    EXPECT_EQ(text, c.text);
  }
  EXPECT_FALSE(w.OptDefaultPST->isChecked());
  EXPECT_FALSE(w.OptSelectPST->isChecked());
  EXPECT_TRUE(w.txtNotesDatabaseFile->isReadOnly());
  EXPECT_EQ(w.Label1->palette().color(QPalette::WindowText), QColor(0, 0, 128));

  // The short window leaves the count labels and the status bar out of view.
  EXPECT_TRUE(InView(w.CmdContactsCreate));
  EXPECT_FALSE(InView(w.LblTotalContacts));
  EXPECT_FALSE(InView(w.StatusBar1));

  auto* company = w.StatusBar1->findChild<QLabel*>("StatusBar1Panel1");
  auto* site = w.StatusBar1->findChild<QLabel*>("StatusBar1Panel2");
  ASSERT_TRUE(company && site);
  EXPECT_EQ(company->text(), "Quorvane Software");
  EXPECT_EQ(company->toolTip(), "Quorvane Software");
  EXPECT_TRUE(company->font().bold());
  EXPECT_EQ(site->text(), "https://www.lumivex.app");
  EXPECT_EQ(site->toolTip(), "Visit Official Website");

  const QList<QAction*> menus = w.menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), "&File");
  EXPECT_EQ(menus[1]->text(), "&Help");
  QStringList file, help;
  for (QAction* a : w.mnuFile->actions())
    file << (a->isSeparator() ? "-" : a->text() + (a->isEnabled() ? "" : " (off)"));
  for (QAction* a : w.mnuHelp->actions()) help << a->text() + (a->isEnabled() ? "" : " (off)");
  EXPECT_EQ(file, QStringList({"&Open Outlook PST File... (off)", "Scan Contacts (off)",
                               "&Save Contacts... (off)", "Export for Other Address Books... (off)",
                               "Review and Merge Several Stores...", "-", "E&xit"}));
  EXPECT_EQ(help, QStringList({"Contents", "Visit Website", "About..."}));
}

TEST_F(FrmMainTest, SourceChoiceAndBrowseStates) {
  FrmMain& w = *window;
  w.OptDefaultPST->click();
  EXPECT_TRUE(w.CmdEnumerateNotes->isEnabled());
  EXPECT_FALSE(w.CmdBrowse->isEnabled());
  EXPECT_FALSE(w.txtNotesDatabaseFile->isEnabled());
  EXPECT_FALSE(w.mnuOpen->isEnabled());
  EXPECT_FALSE(w.mnuScan->isEnabled()) << "the default store enables the button, not the menu";

  // The other file: the box is emptied, so there is nothing to scan yet.
  w.txtNotesDatabaseFile->setText("/left/over.pst");
  w.OptSelectPST->click();
  EXPECT_TRUE(w.CmdBrowse->isEnabled());
  EXPECT_TRUE(w.mnuOpen->isEnabled());
  EXPECT_TRUE(w.txtNotesDatabaseFile->isEnabled());
  EXPECT_TRUE(w.txtNotesDatabaseFile->text().isEmpty());
  EXPECT_FALSE(w.CmdEnumerateNotes->isEnabled());

  // Choosing a file shows the reading label and the empty bar before any scan.
  dialogs->files = {"/data/other.pst"};
  w.CmdBrowse->click();
  ASSERT_EQ(dialogs->filters.size(), 1);
  EXPECT_TRUE(dialogs->filters[0].startsWith("Outlook PST File ("));
  EXPECT_TRUE(dialogs->filters[0].contains("*.pst"));
  EXPECT_TRUE(dialogs->filters[0].contains("*.ost"));
  EXPECT_EQ(w.txtNotesDatabaseFile->text(), "/data/other.pst");
  EXPECT_TRUE(w.CmdEnumerateNotes->isEnabled());
  EXPECT_TRUE(w.mnuScan->isEnabled());
  EXPECT_TRUE(w.LblRead->isVisibleTo(&w));
  EXPECT_TRUE(w.ProgBarScanNotes->isVisibleTo(&w));
  EXPECT_EQ(w.ProgBarScanNotes->value(), 0);

  // Cancelling the dialog empties the box and disables both buttons; mnuScan stays.
  w.CmdContactsCreate->setEnabled(true);
  w.mnuOpen->trigger();
  EXPECT_EQ(dialogs->filters.size(), 2) << "File > Open runs the same dialog";
  EXPECT_TRUE(w.txtNotesDatabaseFile->text().isEmpty());
  EXPECT_FALSE(w.CmdEnumerateNotes->isEnabled());
  EXPECT_FALSE(w.CmdContactsCreate->isEnabled());
  EXPECT_TRUE(w.mnuScan->isEnabled());

  // Cancelling from the start shows neither the reading label nor the bar.
  FrmMain fresh;
  fresh.OptSelectPST->click();
  fresh.CmdBrowse->click();
  EXPECT_FALSE(fresh.LblRead->isVisibleTo(&fresh));
  EXPECT_FALSE(fresh.ProgBarScanNotes->isVisibleTo(&fresh));
  EXPECT_FALSE(fresh.CmdEnumerateNotes->isEnabled());
}

TEST_F(FrmMainTest, ScanOfTheDefaultStoreUncoversTheCounts) {
  FrmMain& w = *window;
  w.OptDefaultPST->click();
  w.CmdEnumerateNotes->click();

  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_EQ(dialogs->messages[0].text, "3 Contacts Scanned Successfully");
  EXPECT_TRUE(dialogs->notices.empty());
  EXPECT_EQ(w.LblTotalContacts->text(), "3");
  EXPECT_EQ(w.LblCurrentContact->text(), "3/3");
  EXPECT_EQ(w.ProgBarScanNotes->maximum(), 3);
  EXPECT_TRUE(w.CmdContactsCreate->isEnabled());
  EXPECT_FALSE(w.CmdEnumerateNotes->isEnabled());
  EXPECT_TRUE(w.mnuSave->isEnabled());
  EXPECT_FALSE(w.LblRead->isVisibleTo(&w));
  EXPECT_FALSE(w.ProgBarScanNotes->isVisibleTo(&w));
  EXPECT_EQ(w.OuterHeight(), 4410);
  for (QWidget* shown :
       std::initializer_list<QWidget*>{w.LblTotalContactsHead, w.LblTotalContacts,
                                       w.LblCurrentContactHead, w.LblCurrentContact, w.StatusBar1})
    EXPECT_TRUE(InView(shown)) << shown->objectName().toStdString();
}

// The scan's box counts to 32766; after it a notice tells how many the folder holds and offers
// the export that takes them all. A folder its count holds gets no notice.
TEST_F(FrmMainTest, ScanOfMoreEntriesThanTheCountHoldsIsTold) {
  for (int i = 3; i < 40000; ++i)
    mail->defaultStore->defaultContacts->Add(MakeContact(QStringLiteral("N%1").arg(i), "X"));
  FrmMain& w = *window;
  w.OptDefaultPST->click();
  w.CmdEnumerateNotes->click();
  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_EQ(dialogs->messages[0].text, "32766 Contacts Scanned Successfully");
  EXPECT_EQ(w.LblTotalContacts->text(), "40000");
  ASSERT_EQ(dialogs->notices.size(), 1u);
  EXPECT_TRUE(dialogs->notices[0].text.startsWith(
      "This folder holds 40000 contacts: the count in the message above stops at 32766."))
      << dialogs->notices[0].text.toStdString();
  EXPECT_TRUE(dialogs->notices[0].text.contains("the worksheet takes the first 32766"));
  EXPECT_EQ(dialogs->notices[0].offer, "Export for Other Address Books...");
}

TEST_F(FrmMainTest, ScanOfAnotherFileThenTheDefaultChoice) {
  AddOtherStore();
  FrmMain& w = *window;
  ChooseFile("/data/other.pst");
  w.CmdEnumerateNotes->click();
  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_EQ(dialogs->messages[0].text, "1 Contacts Scanned Successfully");
  EXPECT_EQ(Module1::FilePath, "/data/other.pst");
  EXPECT_EQ(Module1::PickedFolderPath, "Top of Personal Folders/Contacts");

  // Choosing the default store afterwards keeps the save step available.
  w.OptDefaultPST->click();
  EXPECT_TRUE(w.CmdContactsCreate->isEnabled());
  EXPECT_TRUE(w.mnuSave->isEnabled());

  // A new file turns the save button off; the menu entry stays on.
  ChooseFile("/data/other.pst");
  EXPECT_FALSE(w.CmdContactsCreate->isEnabled());
  EXPECT_TRUE(w.mnuSave->isEnabled());

  // Choosing the other-file option again empties the box: saving would export the store of the
  // earlier scan, which the window no longer shows, so the user is asked to scan instead.
  w.OptDefaultPST->click();
  w.OptSelectPST->click();
  ASSERT_TRUE(w.txtNotesDatabaseFile->text().isEmpty());
  bool shown = false;
  QTimer::singleShot(0, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      shown = true;
      modal->close();
    }
  });
  w.mnuSave->trigger();
  QCoreApplication::processEvents();  // the check above runs here when no window was shown
  EXPECT_FALSE(shown) << "no conversion window over an empty file box";
  ASSERT_EQ(dialogs->messages.size(), 2u);
  EXPECT_EQ(dialogs->messages[1].style, 48);
  EXPECT_TRUE(dialogs->messages[1].text.startsWith("Scan the Outlook file"));
}

// Scanning the file again and cancelling the folder picker, or picking a folder without contacts,
// leaves the earlier scan as the window shows it: its count, and a save that exports it.
TEST_F(FrmMainTest, ARescanCancelledKeepsTheScanSaveable) {
  AddOtherStore();
  FrmMain& w = *window;
  ChooseFile("/data/other.pst");
  w.CmdEnumerateNotes->click();
  ASSERT_EQ(dialogs->messages.size(), 1u);
  ASSERT_EQ(w.LblTotalContacts->text(), "1");
  const struct {
    const char* name;
    const char* pick;  // the folder picked; null: the picker is cancelled
  } cases[] = {{"cancelled", nullptr}, {"mail-folder", "Top of Personal Folders/Inbox"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    mail->picker = [pick = c.pick](const std::vector<std::shared_ptr<Store>>& stores) {
      return pick == nullptr ? nullptr : FindFolder(*stores.back(), QString::fromUtf8(pick));
    };
    w.mnuScan->trigger();
    EXPECT_EQ(w.LblTotalContacts->text(), "1");
    EXPECT_TRUE(w.CmdContactsCreate->isEnabled());
    EXPECT_TRUE(w.mnuScan->isEnabled());

    dialogs->messages.clear();
    dialogs->folder = testing::ScratchDir(QStringLiteral("app-rescan-") + c.name);
    // Shared with the handler, which may outlive a failing check.
    const auto converted = std::make_shared<bool>(false);
    OnNextModal([converted](QWidget* modal) {
      auto* conversion = qobject_cast<FrmConversion*>(modal);
      if (conversion == nullptr) {
        if (modal != nullptr) modal->close();
        return;
      }
      *converted = true;
      conversion->OptvCardComplete->click();
      conversion->CmdConversion->click();
    });
    w.mnuSave->trigger();
    QCoreApplication::processEvents();  // the handler runs here when no window was shown
    EXPECT_TRUE(*converted) << "the conversion window came up";
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, "1 Contacts Saved Successfully");
  }
}

TEST_F(FrmMainTest, FileNamedAtStartIsChosenReadyToScan) {
  AddOtherStore();
  FrmMain w;
  w.OpenStoreFile("/data/other.pst");
  w.show();
  EXPECT_TRUE(w.OptSelectPST->isChecked());
  EXPECT_EQ(w.txtNotesDatabaseFile->text(), "/data/other.pst");
  EXPECT_TRUE(w.txtNotesDatabaseFile->isEnabled());
  EXPECT_TRUE(w.CmdBrowse->isEnabled());
  EXPECT_TRUE(w.mnuScan->isEnabled());
  ASSERT_TRUE(w.CmdEnumerateNotes->isEnabled());
  w.CmdEnumerateNotes->click();
  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_EQ(dialogs->messages[0].text, "1 Contacts Scanned Successfully");

  // A relative path is taken from the folder the program was started in.
  FrmMain relative;
  relative.OpenStoreFile("mail/old.pst");
  EXPECT_EQ(relative.txtNotesDatabaseFile->text(), QDir::current().filePath("mail/old.pst"));
}

TEST_F(FrmMainTest, AttachFailureLeavesTheWindowAsItWas) {
  FrmMain& w = *window;
  ChooseFile("/data/missing.pst");
  w.CmdEnumerateNotes->click();
  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_TRUE(dialogs->messages[0].text.startsWith(
      "Outlook not INSTALLED or configured or the selected file is not a correct Outlook PST "
      "file.\n"));
  EXPECT_EQ(w.OuterHeight(), 3540);
  EXPECT_TRUE(w.CmdEnumerateNotes->isEnabled());
  EXPECT_TRUE(w.LblRead->isVisibleTo(&w));
  EXPECT_TRUE(w.LblTotalContacts->text().isEmpty());
}

TEST_F(FrmMainTest, ConversionWindowIsResetShownAndDropped) {
  FrmMain& w = *window;
  w.OptDefaultPST->click();
  w.CmdEnumerateNotes->click();

  // Closed without a run: the window goes, and the next one starts afresh.
  QPointer<FrmConversion> first;
  OnNextModal([&](QWidget* modal) {
    first = qobject_cast<FrmConversion*>(modal);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->parentWidget(), &w);
    EXPECT_FALSE(first->CmdConversion->isEnabled());
    first->reject();
  });
  w.CmdContactsCreate->click();
  ASSERT_TRUE(first);
  EXPECT_EQ(w.ConversionWindow(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(first) << "a window closed without a run is destroyed";

  // After a run it is hidden and reused: the options, label and bar are reset for the next one.
  QPointer<FrmConversion> second;
  OnNextModal([&](QWidget* modal) {
    second = qobject_cast<FrmConversion*>(modal);
    ASSERT_NE(second, nullptr);
    second->OptExcel->setChecked(true);
    second->CmdConversion->setEnabled(true);
    second->LblSaveProgress->setText("Saving Contacts 3/3");
    second->ProgBarSave->setRange(0, 3);
    second->ProgBarSave->setValue(3);
    second->Hide();  // as the run's completion step does
  });
  w.mnuSave->trigger();
  ASSERT_TRUE(second);
  EXPECT_EQ(w.ConversionWindow(), second.data());

  OnNextModal([&](QWidget* modal) {
    EXPECT_EQ(modal, second.data());
    for (QRadioButton* option :
         {second->OptExcel, second->OptvCardComplete, second->OptvCardEach, second->OptWAB})
      EXPECT_FALSE(option->isChecked()) << option->objectName().toStdString();
    EXPECT_TRUE(second->LblSaveProgress->text().isEmpty());
    EXPECT_EQ(second->ProgBarSave->value(), 0);
    EXPECT_TRUE(second->CmdConversion->isEnabled()) << "a reused window keeps its start button";
    second->Hide();
  });
  w.CmdContactsCreate->click();

  // Closing the main window ends the program: the hidden conversion window goes with it.
  w.close();
  EXPECT_FALSE(second);
  EXPECT_FALSE(w.isVisible());
}

TEST_F(FrmMainTest, ExitEndsTheEventLoopAndAScanUnderWay) {
  FrmMain& w = *window;
  w.OptDefaultPST->click();
  // File > Exit chosen while the scan yields: the scan stops and says nothing more.
  QTimer::singleShot(0, [&] { w.mnuExit->trigger(); });
  w.CmdEnumerateNotes->click();
  EXPECT_EQ(w.LastScan().status, ScanResult::kAbandoned);
  EXPECT_TRUE(dialogs->messages.empty());
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(mail->openSessions, 0);

  // Closing the window ends the program's event loop.
  FrmMain other;
  other.show();
  QTimer::singleShot(0, [&] { other.close(); });
  QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });  // not ended: fail, not hang
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(other.isVisible());
}

// The scan as a user runs it on real store files: the real backend and the folder picker dialog.
class FrmMainFixtureTest : public FrmMainTest {
 protected:
  void SetUp() override {
    FrmMainTest::SetUp();
    // As on a desktop without a default store.
    qputenv("LUMIVEX_DEFAULT_STORE", "/nonexistent/Outlook.pst");
    SetMailProvider(MakeStoreMailProvider(std::make_shared<DialogFolderPicker>()));
  }
  void TearDown() override {
    qunsetenv("LUMIVEX_DEFAULT_STORE");
    FrmMainTest::TearDown();
  }

  // Scans six-contacts.pst, choosing its contacts folder in the folder picker.
  void ScanSixContacts() { ScanStore(testing::FixturePst("six-contacts.pst")); }

  // Scans `store`, choosing the folder named `row` in the folder picker; with no name, the one
  // the picker starts on, as a user clicking OK at once takes it.
  void ScanStore(const QString& store, const QString& row = QStringLiteral("Contacts")) {
    pickerShown = false;
    ChooseFile(store);
    OnNextModal([this, row](QWidget* modal) {
      auto* picker = qobject_cast<FolderPickerDialog*>(modal);
      if (picker == nullptr) {
        ADD_FAILURE() << "the folder picker did not come up";
        if (modal != nullptr) modal->close();
        return;
      }
      pickerShown = true;
      bool found = row.isEmpty();
      if (!found) {
        const auto rows = picker->FolderTree->findItems(row, Qt::MatchExactly | Qt::MatchRecursive);
        EXPECT_FALSE(rows.isEmpty()) << "no " << row.toStdString() << " folder in the picker";
        if (!rows.isEmpty()) picker->FolderTree->setCurrentItem(rows[0]);
        found = !rows.isEmpty();
      }
      picker->Buttons->button(found ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    window->CmdEnumerateNotes->click();
    EXPECT_TRUE(pickerShown);
  }

  // Saves the scanned folder in the form `option` names, into dialogs->folder.
  void Save(const char* option) {
    OnNextModal([option](QWidget* modal) {
      auto* conversion = qobject_cast<FrmConversion*>(modal);
      if (conversion == nullptr) {
        ADD_FAILURE() << "the conversion window did not come up";
        if (modal != nullptr) modal->close();
        return;
      }
      conversion->findChild<QRadioButton*>(option)->click();
      conversion->CmdConversion->click();
      if (conversion->isVisible()) conversion->reject();
    });
    window->CmdContactsCreate_Click();
  }

  bool pickerShown = false;
};

TEST_F(FrmMainFixtureTest, SixContactsArePickedAndCounted) {
  LUMIVEX_REQUIRE_FIXTURES();
  ScanSixContacts();
  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_EQ(dialogs->messages[0].text, "6 Contacts Scanned Successfully");
  EXPECT_EQ(Module1::PickedFolderPath, "Top of Personal Folders/Contacts");
  ASSERT_TRUE(Module1::PickedFolder);
  EXPECT_EQ(Module1::PickedFolder->GetItems()->Count(), 6) << "the folder outlives the scan";

  // Without a default store, the default choice says why it cannot be read.
  window->OptDefaultPST->click();
  window->CmdEnumerateNotes->click();
  ASSERT_EQ(dialogs->messages.size(), 2u);
  EXPECT_TRUE(dialogs->messages[1].text.startsWith(kScanFailedText));
  EXPECT_TRUE(dialogs->messages[1].text.contains("/nonexistent/Outlook.pst"));
  // The desktop's user is pointed at the other choice, not at an environment variable.
  EXPECT_TRUE(dialogs->messages[1].text.contains("\"Select Other Outlook File\""));
  EXPECT_FALSE(dialogs->messages[1].text.contains("LUMIVEX_DEFAULT_STORE"));
}

TEST_F(FrmMainFixtureTest, SavedFromThePickedFolderAfterTheScan) {
  LUMIVEX_REQUIRE_FIXTURES();
  ScanSixContacts();
  dialogs->folder = testing::ScratchDir("app-save");
  window->CmdContactsCreate->setEnabled(false);  // the run enables it again at its end
  OnNextModal([](QWidget* modal) {
    auto* conversion = qobject_cast<FrmConversion*>(modal);
    if (conversion == nullptr) {
      ADD_FAILURE() << "the conversion window did not come up";
      if (modal != nullptr) modal->close();
      return;
    }
    conversion->OptvCardComplete->click();
    conversion->CmdConversion->click();
    if (conversion->isVisible()) conversion->reject();
  });
  window->CmdContactsCreate_Click();
  ASSERT_EQ(dialogs->messages.size(), 2u);
  EXPECT_EQ(dialogs->messages[1].text, "6 Contacts Saved Successfully");
  EXPECT_TRUE(window->CmdContactsCreate->isEnabled());
  const QStringList files = QDir(dialogs->folder).entryList({"*.vcf"});
  ASSERT_EQ(files.size(), 1);
  QFile vcf(QDir(dialogs->folder).filePath(files[0]));
  ASSERT_TRUE(vcf.open(QIODevice::ReadOnly));
  EXPECT_EQ(vcf.readAll().count("BEGIN:VCARD"), 6);
}

// A damaged store whose chosen folder shows no contacts: the box stays as it is, and after it the
// damage is told as "lumivex-cli scan" tells it (entries the folder records but its list lacks,
// folders of the store that cannot be read), with what to do, so that the file is not taken for
// an empty one. The second store has no readable contacts folder: the user takes the folder the
// picker starts on.
TEST_F(FrmMainFixtureTest, ADamagedStoreShowingNoContactsIsToldAfterTheBox) {
  LUMIVEX_REQUIRE_FIXTURES();
  const struct {
    const char* fixture;  // of ../shared/fixtures/damaged
    const char* row;      // picked in the picker; empty: the one it starts on
    const char* says;     // as lumivex-cli scan says it
  } cases[] = {
      {"entry-count-mismatch-generated-200.pst", "Contacts",
       "the folder records 200 entries, but its list of entries holds 0"},
      {"contacts-folder-node-lost-cp932.pst", "", "4 of its folders cannot be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    dialogs->messages.clear();
    ScanStore(testing::SharedDir() + "/fixtures/damaged/" + c.fixture, c.row);
    ASSERT_EQ(dialogs->messages.size(), 2u);
    EXPECT_EQ(dialogs->messages[0].text, "No Contacts Found in Outlook PST File");
    EXPECT_EQ(dialogs->messages[0].title, "Quorvane Software");
    EXPECT_EQ(dialogs->messages[0].style, 64);
    EXPECT_EQ(dialogs->messages[1].title, "Damaged Store");
    EXPECT_EQ(dialogs->messages[1].style, 48);
    EXPECT_TRUE(dialogs->messages[1].text.contains(c.says))
        << dialogs->messages[1].text.toStdString();
    EXPECT_TRUE(dialogs->messages[1].text.contains("scanpst.exe"))
        << dialogs->messages[1].text.toStdString();
  }
}

// A helper process for a store changed under the window's own run: the program stops itself
// (SIGSTOP) as entry kStopAt of a folder is about to be read (LUMIVEX_TEST_STOP_AT_ENTRY); the
// helper sees it stopped, changes the store once `armed` exists, and lets it go on (SIGCONT).
class StoreChanger {
 public:
  static constexpr int kStopAt = 500;

  StoreChanger(const QString& store, const QByteArray& replacement, const QString& dir)
      : armed_(dir + "/armed"), done_(dir + "/done") {
    QFile::remove(armed_);
    QFile::remove(done_);
    const std::string store8 = store.toStdString(), armed = armed_.toStdString(),
                      done = done_.toStdString(), bytes = replacement.toStdString();
    const pid_t parent = getpid();
    helper_ = fork();
    if (helper_ != 0) return;
    const std::string stat = "/proc/" + std::to_string(parent) + "/stat";
    while (access(done.c_str(), F_OK) != 0 && getppid() == parent) {
      if (!Stopped(stat)) {
        usleep(1000);
        continue;
      }
      if (access(armed.c_str(), F_OK) == 0 && unlink(armed.c_str()) == 0) {
        // Empty: truncated to 1 MiB; else overwritten in place with another store's bytes.
        if (bytes.empty()) {
          if (truncate(store8.c_str(), 1 << 20) != 0) _exit(1);
        } else {
          const int fd = open(store8.c_str(), O_WRONLY);
          if (fd < 0 || write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) _exit(1);
          close(fd);
        }
      }
      kill(parent, SIGCONT);
      while (Stopped(stat)) usleep(1000);
    }
    _exit(0);
  }
  ~StoreChanger() {
    QFile(done_).open(QIODevice::WriteOnly);
    waitpid(helper_, nullptr, 0);
  }
  // The next stop changes the store.
  void Arm() const { QFile(armed_).open(QIODevice::WriteOnly); }
  bool Changed() const { return !QFile::exists(armed_); }

 private:
  static bool Stopped(const std::string& stat) {
    std::ifstream in(stat);
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'T';
  }

  QString armed_, done_;
  pid_t helper_ = -1;
};

// A store truncated or overwritten while the window saves its contacts: the run ends as it does
// with unreadable entries (its completion message, as many contacts counted as the folder
// holds), no signal, no temporary file left beside the output, and the window saves the next
// store whole.
TEST_F(FrmMainFixtureTest, StoreChangedUnderTheSaveLeavesTheWindowUsable) {
  LUMIVEX_REQUIRE_FIXTURES();
  const testing::ScopedEnvironment stop("LUMIVEX_TEST_STOP_AT_ENTRY",
                                        QString::number(StoreChanger::kStopAt));
  const testing::ScopedEnvironment toolDir("LUMIVEX_TOOL_DIR", testing::BinDir());  // xwab.def
  const QString dir = testing::ScratchDir("app-changed-store");
  const QString original = dir + "/original.pst", other = dir + "/other.pst";
  for (const auto& [path, seed] : {std::pair{original, 1}, std::pair{other, 2}})
    ASSERT_EQ(
        QProcess::execute(testing::BinDir() + "/lumivex-pstgen",
                          {"--contacts", "1000", "--seed", QString::number(seed), "--out", path}),
        0);
  QFile otherFile(other);
  ASSERT_TRUE(otherFile.open(QIODevice::ReadOnly));
  const QByteArray otherBytes = otherFile.readAll();
  const QString store = dir + "/store.pst";
  const struct {
    const char* change;
    QByteArray replacement;  // empty: truncated
    const char* option;
    const char* suffix;
  } cases[] = {
      {"truncated", {}, "OptvCardComplete", "vcf"},
      {"overwritten", otherBytes, "OptWAB", "wab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.change) + " " + c.option);
    QFile::remove(store);
    ASSERT_TRUE(QFile::copy(original, store));
    const StoreChanger changer(store, c.replacement, dir);
    ScanStore(store);
    dialogs->messages.clear();
    dialogs->folder = testing::ScratchDir(QStringLiteral("app-changed-out-%1").arg(c.change));
    changer.Arm();
    Save(c.option);
    EXPECT_TRUE(changer.Changed());
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, "1000 Contacts Saved Successfully");
    const QStringList left =
        QDir(dialogs->folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    ASSERT_EQ(left.size(), 1) << left.join(u' ').toStdString();
    EXPECT_TRUE(left[0].endsWith(c.suffix)) << left[0].toStdString();

    // The window saves a good store whole afterwards.
    ScanSixContacts();
    dialogs->messages.clear();
    dialogs->folder = testing::ScratchDir(QStringLiteral("app-changed-next-%1").arg(c.change));
    Save(c.option);
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, "6 Contacts Saved Successfully");
  }
}

}  // namespace
}  // namespace lumivex
