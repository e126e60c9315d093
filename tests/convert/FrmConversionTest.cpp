// The conversion window driven offscreen: its controls, the start button's state, a run started
// by a click, the progress it paints, and what closing the window does.
#include "app/Dialogs.h"
#include "common/CodePage.h"
#include "convert/FrmConversion.h"
#include "source/StoreBackend.h"
#include "tests/app/AppTestSupport.h"
#include "tests/convert/ProgramRun.h"
#include "tests/convert/RunTestSupport.h"
#include "tests/support/ExpectedPlaces.h"
#include "tests/support/ScopedChanges.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumivex;
using namespace lumivex::testing;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

// A folder the test process may not write in: its write bits taken away and, for root, which
// writes anywhere, the files checked as for the user "nobody" while this lives.
class Unwritable {
 public:
  explicit Unwritable(const QString& folder) : folder_(folder.toLocal8Bit()) {
    ::chmod(folder_.constData(), 0555);
    if (::geteuid() == 0) ::setfsuid(65534);
  }
  ~Unwritable() {
    if (::geteuid() == 0) ::setfsuid(0);
    ::chmod(folder_.constData(), 0755);
  }

 private:
  QByteArray folder_;
};

// A full disk: a file system of 64 KiB mounted on the folder while this lives (root only).
class FullDisk {
 public:
  explicit FullDisk(const QString& folder) : folder_(folder.toLocal8Bit()) {
    mounted_ = ::mount("tmpfs", folder_.constData(), "tmpfs", 0, "size=64k") == 0;
  }
  ~FullDisk() {
    if (mounted_) ::umount(folder_.constData());
  }
  bool Mounted() const { return mounted_; }

 private:
  QByteArray folder_;
  bool mounted_ = false;
};

}  // namespace

class FrmConversionTest : public RunTest {
 protected:
  void SetUp() override {
    App();
    RunTest::SetUp();
    dialogs = std::make_shared<ScriptedDialogs>();
    dialogs->folder = target;
    SetDialogs(dialogs);
    form = new FrmConversion(
        nullptr, [this] { return source; }, [this] { ++mainEnabled; });
  }
  void TearDown() override {
    delete form.data();
    SetDialogs(nullptr);
    RunTest::TearDown();
  }

  template <typename T>
  T* Child(const char* name) const {
    return form->findChild<T*>(QLatin1String(name));
  }
  std::shared_ptr<ScriptedDialogs> dialogs;
  QPointer<FrmConversion> form;
  SourceOptions source = DefaultSource();
  int mainEnabled = 0;
};

TEST_F(FrmConversionTest, ControlsHaveTheirCaptionsNamesAndPlaces) {
  EXPECT_EQ(form->windowTitle(), u"Conversion Options");
  auto* frame = Child<QGroupBox>("Frame1");
  ASSERT_NE(frame, nullptr);
  // Captions of the frame's labels and options; every option starts unset.
  struct Expected {
    const char* name;
    const char* text;
  };
  for (const Expected& e : {
           Expected{"Label2", "vCard File"},
           Expected{"Label6", "Import vCard in Lotus Notes, Outlook Express, ACT, iPhone"},
           Expected{"Label1", "Import .wab file in Outlook Express Address Book"},
           Expected{"OptvCardComplete", "Single vCard File (All contacts in single .vcf file)"},
           Expected{"OptvCardEach", "Separate vCard Files (Save .vcf file for each contact)"},
           Expected{"OptExcel", "Excel 97/2000/2002/2003 (.xls) File"},
           Expected{"OptWAB", "Windows Address Book (.wab) File"},
       }) {
    auto* widget = Child<QWidget>(e.name);
    ASSERT_NE(widget, nullptr) << e.name;
    EXPECT_EQ(widget->parentWidget(), frame);
    EXPECT_EQ(widget->property("text").toString(), QString::fromUtf8(e.text));
    EXPECT_FALSE(widget->property("checked").toBool());
  }
  EXPECT_EQ(Child<QLabel>("Label6")->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(Child<QLabel>("Label1")->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_TRUE(Child<QLabel>("Label2")->font().bold());
  EXPECT_EQ(Child<QRadioButton>("OptWAB"), form->OptWAB);
  EXPECT_EQ(form->LblSaveProgress->objectName(), u"LblSaveProgress");
  EXPECT_EQ(form->LblSaveProgress->font().family(), u"Verdana");
  EXPECT_TRUE(form->LblSaveProgress->font().bold());
  EXPECT_TRUE(form->ProgBarSave->isTextVisible());
  EXPECT_EQ(form->CmdConversion->parentWidget(), form.data());
  EXPECT_EQ(form->CmdConversion->text(), u"&Start Conversion");
}

TEST_F(FrmConversionTest, AnyOptionEnablesTheStartButtonAndOnlyOneIsSet) {
  for (const char* name : {"OptWAB", "OptExcel", "OptvCardEach", "OptvCardComplete"}) {
    delete form.data();
    form = new FrmConversion(
        nullptr, [this] { return source; }, [] {});
    form->show();
    EXPECT_FALSE(form->CmdConversion->isEnabled());
    QTest::mouseClick(Child<QRadioButton>(name), Qt::LeftButton);
    EXPECT_TRUE(form->CmdConversion->isEnabled()) << name;
  }
  QTest::mouseClick(form->OptExcel, Qt::LeftButton);
  QTest::mouseClick(form->OptWAB, Qt::LeftButton);
  EXPECT_FALSE(form->OptExcel->isChecked());
  EXPECT_TRUE(form->OptWAB->isChecked());
  // A second click on the chosen option keeps it chosen.
  QTest::mouseClick(form->OptWAB, Qt::LeftButton);
  EXPECT_TRUE(form->OptWAB->isChecked());
}

// A large folder moves the progress thousands of times a second: the window paints it a few
// times a second, not once per entry, and still ends on the last entry's text.
TEST_F(FrmConversionTest, ProgressOfALargeFolderIsPaintedAFewTimesASecond) {
  for (int i = 0; i < 5000; ++i)
    Contacts().Add(MakeContact(QStringLiteral("Given%1").arg(i), QStringLiteral("Family")));
  PaintCounter counter;
  form->show();
  QCoreApplication::processEvents();
  form->LblSaveProgress->installEventFilter(&counter);
  QString labelAtEnd;
  dialogs->onMessage = [&] { labelAtEnd = form->LblSaveProgress->text(); };
  QElapsedTimer clock;
  clock.start();
  QTest::mouseClick(form->OptvCardComplete, Qt::LeftButton);
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  const qint64 ms = clock.elapsed();
  EXPECT_EQ(labelAtEnd, u"Saving Contacts 5000/5000");
  EXPECT_GE(counter.paints, 1);
  // 20 a second at most, and the paints that the window's own showing and hiding bring.
  EXPECT_LE(counter.paints, 5 + ms / 50) << ms << " ms";
}

TEST_F(FrmConversionTest, AClickRunsTheExportPaintsProgressAndHidesTheWindow) {
  AddContacts({{"Ann", "Lee"}, {"Bob", "Ray"}, {"Cy", "Oh"}});
  form->show();
  QTest::mouseClick(form->OptvCardComplete, Qt::LeftButton);
  // What the window shows at the moment of the completion message.
  QString labelAtEnd;
  int barAtEnd = -1;
  dialogs->onMessage = [&] {
    labelAtEnd = form->LblSaveProgress->text();
    barAtEnd = form->ProgBarSave->value();
  };
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  EXPECT_EQ(dialogs->browseTitles, QStringList{"Select Path to Save File"});
  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_EQ(dialogs->messages[0].text, u"3 Contacts Saved Successfully");
  EXPECT_EQ(dialogs->messages[0].title, u"Conversion Completed...");
  EXPECT_EQ(labelAtEnd, u"Saving Contacts 3/3");
  EXPECT_EQ(barAtEnd, 3);
  EXPECT_EQ(form->ProgBarSave->maximum(), 3);
  EXPECT_EQ(form->ProgBarSave->value(), 0);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(mainEnabled, 1);
  EXPECT_EQ(Files().size(), 1);
  EXPECT_EQ(mail->openSessions, 0);

  // Shown again with the options cleared: the start button stays enabled, and a click opens and
  // releases the session, writes nothing, shows nothing and leaves the window open.
  form->OptvCardComplete->setChecked(false);
  form->show();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(form);  // hidden by the run, not destroyed
  EXPECT_TRUE(form->CmdConversion->isEnabled());
  mail->calls.clear();
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  EXPECT_EQ(mail->calls.back(), "Logoff");
  EXPECT_EQ(dialogs->messages.size(), 1u);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Files().size(), 1);
}

// A store damaged as a whole (its own properties unreadable, as the fixtures' README says) is
// told once, after the completion message, which stays as it is.
TEST_F(FrmConversionTest, ADamagedStoreIsToldAfterTheCompletionMessage) {
  LUMIVEX_REQUIRE_FIXTURES();
  SetMailProvider(MakeStoreMailProvider(
      nullptr, SharedDir() + "/fixtures/damaged/message-store-unreadable-six-contacts.pst"));
  form->show();
  QTest::mouseClick(form->OptvCardComplete, Qt::LeftButton);
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  ASSERT_EQ(dialogs->messages.size(), 2u);
  EXPECT_EQ(dialogs->messages[0].text, u"6 Contacts Saved Successfully");
  EXPECT_EQ(dialogs->messages[1].title, u"Damaged Store");
  EXPECT_TRUE(dialogs->messages[1].text.contains(u"record key"))
      << dialogs->messages[1].text.toStdString();
  EXPECT_EQ(Files().size(), 1);
}

// The entries of a damaged store that could not be read whole are told after the completion box,
// which stays as it is: how many, what the form made of them, the first five by folder, position
// and reason, and what to do. The store made here has its second contact pointed at the fifth's
// data (as the fixture data-pointer-to-other-contact.pst has two of its contacts), so that
// neither of the two can be trusted.
TEST_F(FrmConversionTest, EntriesNotReadWholeAreToldAfterTheBox) {
  const QString dir = ScratchDir(QStringLiteral("notice-damaged-entries"));
  const QString made = dir + "/shared-data.pst";
  ASSERT_EQ(RunProgram(BinDir() + "/lumivex-pstgen",
                       {"--contacts", "6", "--encoding", "none", "--out", dir + "/six.pst"})
                .status,
            0);
  ASSERT_EQ(RunProgram("/usr/bin/python3", {SourceDir() + "/tools/mutate/share_contact_data.py",
                                            dir + "/six.pst", made, "2", "5"})
                .status,
            0);
  const ScopedEnvironment toolDir("LUMIVEX_TOOL_DIR", BinDir());  // xwab.def
  struct Case {
    const char* name;
    const char* fixture;  // of ../shared/fixtures/damaged; null: the store made above
    QRadioButton* FrmConversion::*form;
    const char* box;                  // the completion box, exactly
    const char* title;                // of the notice
    std::vector<const char*> notice;  // words of the notice
    const char* unnamed;              // words not in it (an entry past the fifth), or null
  };
  const Case cases[] = {
      {"address book",
       nullptr,
       &FrmConversion::OptWAB,
       "6 Contacts Saved Successfully",
       "Not All Contacts Saved",
       {"2 of the 6 entries could not be read, so they are not in the address book:",
        "\n  Top of Personal Folders/Contacts, entry 2: its data is the same block as entry 5's",
        "\n  Top of Personal Folders/Contacts, entry 5: its data is the same block as entry 2's"},
       nullptr},
      {"worksheet",
       nullptr,
       &FrmConversion::OptExcel,
       "6 Contacts Saved Successfully",
       "Not All Contacts Saved",
       {"2 of the 6 entries could not be read, so their rows repeat values of the entry before "
        "them or lack them:",
        "Contacts, entry 2: ", "Contacts, entry 5: "},
       nullptr},
      {"vCard files",
       nullptr,
       &FrmConversion::OptvCardEach,
       "6 Contacts Saved Successfully",
       "Not All Contacts Saved",
       {"2 of the 6 entries could not be read, so their vCard files repeat values of the entry "
        "before them or lack them:",
        "Contacts, entry 2: ", "Contacts, entry 5: "},
       nullptr},
      // Every entry is saved without the fields kept in named properties (its e-mail addresses).
      {"name map lost",
       "name-map-lost-silently-six-contacts.pst",
       &FrmConversion::OptvCardComplete,
       "6 Contacts Saved Successfully",
       "Not Everything Saved",
       {"6 of the 6 entries were saved without a part the store lost:",
        "Contacts, entry 5: written without its e-mail addresses",
        "the store's name-to-id map is damaged", "\n  ... and 1 more."},
       "entry 6:"},
      {"picture lost",
       "subnode-count-zero-picture-dropped.pst",
       &FrmConversion::OptWAB,
       "205 Contacts Saved Successfully",
       "Not Everything Saved",
       {"1 of the 205 entries was saved without a part the store lost:",
        "Contacts, entry 1: it says it has attachments, but the store holds none of them"},
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fixture != nullptr) {
      LUMIVEX_REQUIRE_FIXTURES();
    }
    SetMailProvider(MakeStoreMailProvider(
        nullptr, c.fixture == nullptr ? made : SharedDir() + "/fixtures/damaged/" + c.fixture));
    dialogs->folder =
        ScratchDir(QStringLiteral("notice-damaged-%1").arg(c.name).replace(u' ', u'-'));
    dialogs->messages.clear();
    dialogs->notices.clear();
    form->show();
    QTest::mouseClick(form->*c.form, Qt::LeftButton);
    QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, QString::fromUtf8(c.box));
    ASSERT_EQ(dialogs->notices.size(), 1u);
    const QString& notice = dialogs->notices[0].text;
    EXPECT_EQ(dialogs->notices[0].title, QString::fromUtf8(c.title));
    std::vector<const char*> words = c.notice;
    words.insert(words.end(), {"Inbox Repair Tool (scanpst.exe)", "--damage-report FILE"});
    for (const char* said : words) {
      EXPECT_TRUE(notice.contains(QString::fromUtf8(said)))
          << said << "\nin: " << notice.toStdString();
    }
    if (c.unnamed != nullptr) {
      EXPECT_FALSE(notice.contains(QString::fromUtf8(c.unnamed)));
    }
  }
}

// During the run the windows are painted and the window system's events other than input are
// handled (a window manager's ping is answered that way; window_bench measures it on an X
// display, with a click that waits for the run's end).
TEST_F(FrmConversionTest, TheWindowsAreAliveDuringTheRun) {
  AddContacts({{"Ann", "Lee"}, {"Bob", "Ray"}});
  QWidget owner;  // stands for the main window under the conversion window
  owner.resize(300, 200);
  owner.show();
  form->show();
  QCoreApplication::processEvents();
  QTest::mouseClick(form->OptvCardComplete, Qt::LeftButton);
  PaintCounter ownerPaints;
  owner.installEventFilter(&ownerPaints);
  bool handledDuringRun = false;
  dialogs->duringBrowse = [&] {
    QMetaObject::invokeMethod(
        &owner, [&] { handledDuringRun = true; }, Qt::QueuedConnection);
  };
  int paintsAtMessage = -1;
  bool handledAtMessage = false;
  dialogs->onMessage = [&] {
    paintsAtMessage = ownerPaints.paints;
    handledAtMessage = handledDuringRun;
  };
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  ASSERT_EQ(dialogs->messages.size(), 1u);
  EXPECT_EQ(dialogs->messages[0].text, u"2 Contacts Saved Successfully");
  EXPECT_GE(paintsAtMessage, 1) << "the window under the run was painted while it ran";
  EXPECT_TRUE(handledAtMessage) << "events waiting for the window were handled while it ran";
}

TEST_F(FrmConversionTest, ASecondClickDuringTheFolderPromptStartsNoSecondRun) {
  AddContacts({{"Ann", "Lee"}});
  form->show();
  QTest::mouseClick(form->OptvCardEach, Qt::LeftButton);
  dialogs->duringBrowse = [&] {
    QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
    form->reject();  // closing the window while the prompt is open leaves it to the run
  };
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  EXPECT_EQ(dialogs->browseTitles.size(), 1);
  EXPECT_EQ(dialogs->messages.size(), 1u);
  EXPECT_EQ(Files().size(), 1);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(form);
}

TEST_F(FrmConversionTest, AFailedRunShowsOneMessageAndTheWindowStaysUsable) {
  AddContacts({{"Ann", "Lee"}});
  QFile(target + "/file").open(QIODevice::WriteOnly);
  dialogs->folder = target + "/file";
  form->show();
  QTest::mouseClick(form->OptvCardComplete, Qt::LeftButton);
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  ASSERT_EQ(dialogs->messages.size(), 1u);  // its text is the run's, checked in VCardFilesTest
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->CmdConversion->isEnabled());

  // The user picks another folder and runs again from the same window.
  dialogs->folder = target;
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  ASSERT_EQ(dialogs->messages.size(), 2u);
  EXPECT_EQ(dialogs->messages[1].text, u"1 Contacts Saved Successfully");
  EXPECT_FALSE(form->isVisible());
}

TEST_F(FrmConversionTest, CancelInTheBrowserOpensNothingAndClosingDestroysTheWindow) {
  AddContacts({{"Ann", "Lee"}});
  dialogs->folder.clear();
  form->show();
  QTest::mouseClick(form->OptvCardComplete, Qt::LeftButton);
  QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
  EXPECT_EQ(dialogs->browseTitles.size(), 1);
  EXPECT_TRUE(mail->calls.empty());
  EXPECT_TRUE(dialogs->messages.empty());
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(Files().isEmpty());

  form->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(form);  // the next showing creates the window anew, its start button disabled
}

// After the completion box, a notice tells what the files do not hold and what to do,
// offering the export for other address books where that keeps everything. The numbers are
// those of the folders below: 40,000 entries, of which a worksheet holds 32,766 rows and the
// box counts to 32,767 (32,766 for the worksheet, whose counter starts at 1).
TEST_F(FrmConversionTest, ANoticeAfterTheBoxTellsWhatTheRunLost) {
  struct Case {
    const char* name;
    int contacts;          // entries of the folder, "Given<n> Family" unless below
    const char* japanese;  // a name Windows-1252 cannot hold, or null
    const char* note;      // every contact's note
    QRadioButton* FrmConversion::*form;
    enum Place { kWritable, kUnwritable, kFullDisk } place;
    const char* box;                  // the completion box, exactly
    std::vector<const char*> notice;  // words of the notice; none: no notice
    bool offer;                       // the notice offers "Export for Other Address Books..."
  };
  const Case cases[] = {
      {"clean",
       3,
       nullptr,
       "One line.",
       &FrmConversion::OptvCardComplete,
       Case::kWritable,
       "3 Contacts Saved Successfully",
       {},
       false},
      {"unwritable per contact",
       3,
       nullptr,
       "",
       &FrmConversion::OptvCardEach,
       Case::kUnwritable,
       "3 Contacts Saved Successfully",
       {"None of the 3 contacts got a vCard file in ", ": you may not write in the folder ",
        "Nothing was saved.", "Choose a folder you may write in"},
       false},
      {"unwritable worksheet",
       3,
       nullptr,
       "",
       &FrmConversion::OptExcel,
       Case::kUnwritable,
       "3 Contacts Saved Successfully",
       {"The worksheet ", ".xls could not be written: you may not write in the folder ",
        "None of the contacts were saved", "Choose a folder you may write in"},
       false},
      {"full disk vCard",
       2000,
       nullptr,
       "A note long enough to fill a small disk quickly.",
       &FrmConversion::OptvCardComplete,
       Case::kFullDisk,
       "2000 Contacts Saved Successfully",
       {"The vCard file ", ".vcf could not be written: the disk holding ", " is full.",
        "Free some space on that disk"},
       false},
      {"full disk worksheet",
       2000,
       nullptr,
       "A note long enough to fill a small disk quickly.",
       &FrmConversion::OptExcel,
       Case::kFullDisk,
       "2000 Contacts Saved Successfully",
       {"The worksheet ", "is full", "Free some space on that disk"},
       false},
      {"40,000 worksheet",
       40000,
       nullptr,
       "",
       &FrmConversion::OptExcel,
       Case::kWritable,
       "32766 Contacts Saved Successfully",
       {"only the first 32766 contacts",
        "The other 7234 of the folder's 40000 contacts are not "
        "in it.",
        "choose CSV"},
       true},
      {"40,000 vCard",
       40000,
       nullptr,
       "",
       &FrmConversion::OptvCardComplete,
       Case::kWritable,
       "32767 Contacts Saved Successfully",
       {"The folder holds 40000 contacts, and all 40000 were saved: the count in the message "
        "above stops at 32767."},
       false},
      {"Japanese name",
       1,
       "\u5C71\u7530",
       "",
       &FrmConversion::OptvCardComplete,
       Case::kWritable,
       "2 Contacts Saved Successfully",
       // The name, and the e-mail address made from it.
       {"1 name and 1 contact's other values hold letters that these files cannot hold",
        "Windows-1252", "each such letter became \"?\"", "To keep every letter"},
       true},
      {"notes of two lines",
       2,
       nullptr,
       "First line.\r\nSecond line.",
       &FrmConversion::OptvCardEach,
       Case::kWritable,
       "2 Contacts Saved Successfully",
       {"2 contacts have notes of more than one line.", "break the card",
        "To keep them whole, use \"Export for Other Address Books...\"."},
       true},
      {"a semicolon in a surname",
       0,
       "Lee; Partners",
       "",
       &FrmConversion::OptvCardComplete,
       Case::kWritable,
       "1 Contacts Saved Successfully",
       {"1 contact has a line break in a name, address, company or other value, or a \";\"",
        "To keep it whole, use \"Export for Other Address Books...\"."},
       true},
      {"a note longer than a worksheet cell",
       1,
       nullptr,
       "A note of a hundred characters, written three times over to be longer than a cell holds. "
       "A note of a hundred characters, written three times over to be longer than a cell holds. "
       "A note of a hundred characters, written three times over to be longer than a cell holds.",
       &FrmConversion::OptExcel,
       Case::kWritable,
       "1 Contacts Saved Successfully",
       {"1 contact has a text longer than a cell of this worksheet holds (255 characters",
        "that cell was left empty", "To keep every text whole"},
       true},
  };
  SetAnsiCodePage(1252);
  int offersTaken = 0;
  form->SetOtherAddressBooks([&] { ++offersTaken; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Contacts().contacts.clear();
    for (int i = 0; i < c.contacts; ++i) {
      FakeContact contact = MakeContact(QStringLiteral("Given%1").arg(i), QStringLiteral("Family"));
      contact.properties[QStringLiteral("Body")] = QString::fromUtf8(c.note);
      Contacts().Add(contact);
    }
    if (c.japanese != nullptr) {
      FakeContact contact = MakeContact(QStringLiteral("Taro"), QString::fromUtf8(c.japanese));
      Contacts().Add(contact);
    }
    const QString folder = ScratchDir(QStringLiteral("notice-%1").arg(c.name).replace(u' ', u'-'));
    dialogs->folder = folder;
    dialogs->messages.clear();
    dialogs->notices.clear();
    dialogs->takeOffer = c.offer;
    std::optional<FullDisk> full;
    if (c.place == Case::kFullDisk) {
      full.emplace(folder);
      if (!full->Mounted()) {
        ADD_FAILURE() << "a small file system cannot be mounted here: run the tests as root";
        continue;
      }
    }
    form->show();
    QTest::mouseClick(form->*c.form, Qt::LeftButton);
    {
      std::optional<Unwritable> locked;
      if (c.place == Case::kUnwritable) locked.emplace(folder);
      QTest::mouseClick(form->CmdConversion, Qt::LeftButton);
    }
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, QString::fromUtf8(c.box));
    EXPECT_EQ(dialogs->messages[0].title, u"Conversion Completed...");
    if (c.notice.empty()) {
      EXPECT_TRUE(dialogs->notices.empty()) << dialogs->notices[0].text.toStdString();
      continue;
    }
    ASSERT_EQ(dialogs->notices.size(), 1u);
    for (const char* words : c.notice) {
      EXPECT_TRUE(dialogs->notices[0].text.contains(QString::fromUtf8(words)))
          << words << "\nin: " << dialogs->notices[0].text.toStdString();
    }
    if (c.place != Case::kWritable) {
      EXPECT_TRUE(dialogs->notices[0].text.contains(folder)) << "the folder is named";
    }
    EXPECT_EQ(dialogs->notices[0].offer,
              c.offer ? QStringLiteral("Export for Other Address Books...") : QString());
  }
  SetAnsiCodePage(0);
  EXPECT_EQ(offersTaken, 5) << "each offer taken opens the export for other address books";
}
