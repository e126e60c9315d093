// The export dialog driven offscreen on the sample store: its menu entry follows the scan, an
// export of each form runs to its end on the worker thread, progress reaches the window while
// the worker is still inside the export, Cancel leaves no file, and a target that cannot be
// written is reported in the dialog.
#include "app/ExportDialog.h"
#include "app/SendPanel.h"
#include "contact/VCardWriter.h"

#include "app/FrmMain.h"
#include "common/Module1.h"
#include "source/StoreBackend.h"
#include "tests/app/AppTestSupport.h"
#include "tests/convert/ProgramRun.h"
#include "tests/support/FakeStore.h"
#include "tests/support/TestPaths.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lumivex {
namespace {

using testing::App;
using testing::OnNextModal;
using testing::ScriptedDialogs;

// Runs the window's events until `done` holds or 20 s have gone by.
template <typename Condition>
bool WaitFor(Condition done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && !clock.hasExpired(20000))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

// Holds the export's worker thread after entry `at` until the test lets it go on.
class WorkerGate {
 public:
  explicit WorkerGate(int at) : at_(at) {
    ExportDialog::SetEntryHook([this](int done) {
      if (done != at_) return;
      std::unique_lock<std::mutex> lock(mutex_);
      reached_ = true;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::seconds(20), [this] { return released_; });
    });
  }
  ~WorkerGate() {
    Release();
    ExportDialog::SetEntryHook(nullptr);
  }
  bool Reached() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reached_;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  int at_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false;
  bool released_ = false;
};

// A store written by lumivex-pstgen from `description` into `folder`: its path, empty (with a
// failure) where it could not be written.
QString WriteStore(const QString& folder, const char* description) {
  QFile json(folder + "/store.json");
  EXPECT_TRUE(json.open(QIODevice::WriteOnly));
  json.write(description);
  json.close();
  const testing::ProgramOutput made = testing::RunProgram(
      testing::BinDir() + "/lumivex-pstgen", {json.fileName(), "--out", folder + "/store.pst"});
  EXPECT_EQ(made.status, 0) << made.err.toStdString();
  return made.status == 0 ? folder + "/store.pst" : QString();
}

int CountCards(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return -1;
  int cards = 0;
  for (const QByteArray& line : file.readAll().split('\n'))
    if (line.trimmed() == "BEGIN:VCARD") ++cards;
  return cards;
}

class ExportDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    Module1::Reset();
    sample = testing::BinDir() + QStringLiteral("/sample.pst");
    ASSERT_TRUE(QFile::exists(sample)) << "the build writes the sample store beside the programs";
    qputenv("LUMIVEX_DEFAULT_STORE", sample.toUtf8());
    SetDialogs(dialogs);
    SetMailProvider(MakeStoreMailProvider(nullptr));
    Module1::SetUrlOpener([this](const QString& address) { opened << address; });
    // The entries of the default contacts folder, as the store reader counts them.
    entries = OpenStoreFile(sample)->DefaultContactsFolder()->GetItems()->Count();
    ASSERT_GT(entries, 5);
    dialog = std::make_unique<ExportDialog>(nullptr, ExportSource{false, sample, {}});
    dialog->show();
  }
  void TearDown() override {
    dialog.reset();
    qunsetenv("LUMIVEX_DEFAULT_STORE");
    Module1::SetUrlOpener(nullptr);
    SetDialogs(nullptr);
    SetMailProvider(nullptr);
    Module1::Reset();
  }

  // Clicks Export and waits for the dialog to show the end.
  void RunToEnd() {
    dialog->CmdExport->click();
    ASSERT_TRUE(WaitFor([this] { return !dialog->Running(); })) << "the export did not end";
  }

  QString sample;
  int entries = 0;
  QStringList opened;
  std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
  std::unique_ptr<ExportDialog> dialog;
};

TEST_F(ExportDialogTest, MenuEntryIsEnabledByAScanThatFindsContacts) {
  FrmMain window;
  window.show();
  EXPECT_EQ(window.mnuExport->text(), "Export for Other Address Books...");
  EXPECT_FALSE(window.mnuExport->isEnabled());

  // A scan of a folder without contacts leaves it off, as it leaves "Save Contacts" off.
  auto mail = std::make_shared<testing::FakeMail>();
  SetMailProvider(testing::MakeFakeProvider(mail));
  window.OptDefaultPST->click();
  window.CmdEnumerateNotes->click();
  EXPECT_FALSE(window.mnuSave->isEnabled());
  EXPECT_FALSE(window.mnuExport->isEnabled());

  SetMailProvider(MakeStoreMailProvider(nullptr));
  window.CmdEnumerateNotes->click();
  ASSERT_FALSE(dialogs->messages.empty());
  EXPECT_EQ(dialogs->messages.back().text,
            QStringLiteral("%1 Contacts Scanned Successfully").arg(entries));
  EXPECT_TRUE(window.mnuExport->isEnabled());

  // The entry opens the dialog, modal over the window, on the scanned store.
  bool shown = false;
  OnNextModal([&](QWidget* modal) {
    auto* opened = qobject_cast<ExportDialog*>(modal);
    shown = opened != nullptr;
    if (opened) {
      EXPECT_TRUE(opened->LblSource->text().contains("sample.pst"));
      EXPECT_EQ(window.ExportWindow(), opened);
    }
    if (modal) modal->close();
  });
  window.mnuExport->trigger();
  EXPECT_TRUE(shown);
  EXPECT_EQ(window.ExportWindow(), nullptr);
}

TEST_F(ExportDialogTest, EachFormRunsToItsEnd) {
  struct Case {
    const char* name;
    QRadioButton* ExportDialog::*form;
    bool perContact;
    const char* suffix;
  };
  const Case cases[] = {
      {"vcard4", &ExportDialog::OptVCard4, false, ".vcf"},
      {"vcard3", &ExportDialog::OptVCard3, false, ".vcf"},
      {"csv", &ExportDialog::OptCsv, false, ".csv"},
      {"vcard4-each", &ExportDialog::OptVCard4, true, ".vcf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString folder = testing::ScratchDir(QStringLiteral("export-") + c.name);
    (dialog.get()->*c.form)->click();
    (c.perContact ? dialog->OptPerContact : dialog->OptOneFile)->click();
    // The one-file target is named without its suffix: the dialog adds it.
    dialogs->saveFile = folder + QStringLiteral("/Address Book");
    dialogs->folder = folder;
    RunToEnd();
    ASSERT_TRUE(dialog->LastError().isEmpty()) << dialog->LastError().toStdString();
    const Utf8ExportResult& result = dialog->LastResult();
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.contacts + result.groups + static_cast<int>(result.problems.size()), entries);

    const QString file = folder + QStringLiteral("/Address Book") + c.suffix;
    if (c.perContact) {
      const QStringList files = QDir(folder).entryList({"*.vcf"}, QDir::Files);
      int cards = 0;
      for (const QString& name : files) cards += CountCards(QDir(folder).filePath(name));
      EXPECT_EQ(cards, result.contacts + result.groups);
      EXPECT_EQ(files.size(), result.contacts + result.groups);
    } else if (QString(c.suffix) == ".vcf") {
      EXPECT_EQ(result.output, file);
      EXPECT_EQ(CountCards(file), entries - static_cast<int>(result.problems.size()));
    } else {
      QFile csv(file);
      ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
      EXPECT_TRUE(csv.readLine().contains("First Name")) << "Outlook's column headings";
    }

    // The end says how many went where, and the button opens that folder.
    EXPECT_TRUE(dialog->LblResult->isVisible());
    EXPECT_TRUE(
        dialog->LblResult->text().contains(QStringLiteral("%1 contact").arg(result.contacts)))
        << dialog->LblResult->text().toStdString();
    EXPECT_TRUE(dialog->LblResult->text().contains(QDir::toNativeSeparators(result.output)));
    EXPECT_EQ(dialog->ProgBarExport->value(), dialog->ProgBarExport->maximum());
    ASSERT_TRUE(dialog->CmdOpenFolder->isEnabled());
    opened.clear();
    dialog->CmdOpenFolder->click();
    EXPECT_EQ(opened, QStringList{QUrl::fromLocalFile(folder).toString()});
    EXPECT_TRUE(dialog->CmdExport->isEnabled()) << "another export can follow";
  }
  // CSV has no per-contact form.
  dialog->OptCsv->click();
  EXPECT_FALSE(dialog->OptPerContact->isEnabled());
  EXPECT_TRUE(dialog->OptOneFile->isChecked());
}

TEST_F(ExportDialogTest, ProgressReachesTheWindowWhileTheWorkerRuns) {
  const QString folder = testing::ScratchDir("export-progress");
  dialogs->saveFile = folder + QStringLiteral("/Contacts.vcf");
  WorkerGate gate(3);
  dialog->CmdExport->click();
  ASSERT_TRUE(dialog->Running());
  EXPECT_FALSE(dialog->CmdExport->isEnabled());
  EXPECT_FALSE(dialog->CmdClose->isEnabled());
  EXPECT_TRUE(dialog->CmdCancel->isEnabled());

  // The worker is held inside the export after its third entry; the window goes on handling
  // events, and progress of the entries before it has come through them (which of them was
  // shown last depends on how the two threads ran).
  ASSERT_TRUE(WaitFor([&] { return gate.Reached() && dialog->ProgBarExport->value() >= 1; }));
  EXPECT_TRUE(dialog->Running());
  EXPECT_EQ(dialog->ProgBarExport->maximum(), entries);
  const int shown = dialog->ProgBarExport->value();
  EXPECT_LE(shown, 3);
  EXPECT_TRUE(dialog->LblProgress->text().startsWith(
      QStringLiteral("Exported %1 of %2").arg(shown).arg(entries)))
      << dialog->LblProgress->text().toStdString();

  gate.Release();
  ASSERT_TRUE(WaitFor([&] { return !dialog->Running(); }));
  EXPECT_EQ(CountCards(folder + QStringLiteral("/Contacts.vcf")),
            entries - static_cast<int>(dialog->LastResult().problems.size()));
}

TEST_F(ExportDialogTest, CancelStopsTheExportAndLeavesNoFile) {
  const QString folder = testing::ScratchDir("export-cancel");
  dialogs->saveFile = folder + QStringLiteral("/Contacts.vcf");
  WorkerGate gate(3);
  dialog->CmdExport->click();
  ASSERT_TRUE(WaitFor([&] { return gate.Reached(); }));
  dialog->CmdCancel->click();
  EXPECT_TRUE(dialog->CancelRequested());
  gate.Release();
  ASSERT_TRUE(WaitFor([&] { return !dialog->Running(); }));

  EXPECT_TRUE(dialog->LastResult().cancelled);
  EXPECT_TRUE(dialog->LastError().isEmpty());
  EXPECT_TRUE(
      QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
      << "neither the file nor a part of it is left";
  EXPECT_TRUE(dialog->LblResult->text().contains("no file was written"))
      << dialog->LblResult->text().toStdString();
  EXPECT_FALSE(dialog->CmdOpenFolder->isEnabled());
  EXPECT_TRUE(dialog->CmdExport->isEnabled());

  // Escape (or the close box) during an export cancels it; the dialog stays to say how it ended
  // and goes at the next Escape.
  WorkerGate second(3);
  dialog->CmdExport->click();
  ASSERT_TRUE(WaitFor([&] { return second.Reached(); }));
  dialog->reject();
  EXPECT_TRUE(dialog->CancelRequested());
  second.Release();
  ASSERT_TRUE(WaitFor([&] { return !dialog->Running(); }));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->LastResult().cancelled);
  EXPECT_TRUE(dialog->LblResult->text().contains("no file was written"));
  EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/Contacts.vcf")));
  dialog->reject();
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(ExportDialogTest, ACancelledRunCountsInTheUsersLocale) {
  const QString folder = testing::ScratchDir("export-large");
  const testing::ProgramOutput made =
      testing::RunProgram(testing::BinDir() + "/lumivex-pstgen",
                          {"--contacts", "1500", "--seed", "3", "--out", folder + "/large.pst"});
  ASSERT_EQ(made.status, 0) << made.err.toStdString();
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  dialog = std::make_unique<ExportDialog>(
      nullptr, ExportSource{true, folder + "/large.pst", "Top of Personal Folders/Contacts"});
  dialog->show();
  // The bar shows from the first run on; before it, it would look like an empty text box.
  EXPECT_FALSE(dialog->ProgBarExport->isVisible());

  dialog->OptPerContact->click();
  dialogs->folder = folder + "/cards";
  ASSERT_TRUE(QDir().mkpath(dialogs->folder));
  WorkerGate gate(1200);
  dialog->CmdExport->click();
  EXPECT_TRUE(dialog->ProgBarExport->isVisible());
  ASSERT_TRUE(WaitFor([&] { return gate.Reached(); }));
  dialog->CmdCancel->click();
  gate.Release();
  ASSERT_TRUE(WaitFor([&] { return !dialog->Running(); }));
  QLocale::setDefault(QLocale::c());
  EXPECT_FALSE(dialog->ProgBarExport->isVisible()) << "empty again, the bar goes again";

  // Entry 1,200 was the last one written: as many files, and 300 entries left.
  EXPECT_EQ(QDir(dialogs->folder).entryList({"*.vcf"}, QDir::Files).size(), 1200);
  EXPECT_EQ(dialog->LblResult->text(),
            QStringLiteral("It stopped after 1.200 of 1.500 entries: 1.200 contact files were "
                           "written into %1; the other 300 entries were not exported.")
                .arg(dialogs->folder));
}

TEST_F(ExportDialogTest, EveryChoiceHasAnAccessKeyOfItsOwn) {
  QSet<QChar> keys;
  for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
    const QString text = button->text();
    if (button == dialog->CmdCancel) continue;  // Escape
    const qsizetype amp = text.indexOf(u'&');
    ASSERT_GE(amp, 0) << text.toStdString();
    const QChar key = text.at(amp + 1).toLower();
    EXPECT_FALSE(keys.contains(key)) << "the key of " << text.toStdString() << " is taken";
    keys.insert(key);
  }
}

TEST_F(ExportDialogTest, NothingScannedForTheChoiceOffersNothingThatFails) {
  // The default store scanned, then "Select Other Outlook File" chosen: no file is scanned for it.
  FrmMain window;
  window.show();
  window.OptDefaultPST->click();
  window.CmdEnumerateNotes->click();
  ASSERT_TRUE(window.mnuExport->isEnabled());
  window.OptSelectPST->click();
  bool checked = false;
  OnNextModal([&](QWidget* modal) {
    auto* opened = qobject_cast<ExportDialog*>(modal);
    if (opened != nullptr) {
      checked = true;
      EXPECT_FALSE(opened->CmdExport->isEnabled());
      EXPECT_FALSE(opened->OptVCard4->isEnabled());
      EXPECT_TRUE(opened->CmdClose->isEnabled());
      EXPECT_TRUE(opened->LblSource->text().contains("Scan Outlook Contacts"))
          << opened->LblSource->text().toStdString();
    }
    if (modal) modal->close();
  });
  window.mnuExport->trigger();
  EXPECT_TRUE(checked);
}

// The next dialog starts with the last export's form and files, in its folder.
TEST_F(ExportDialogTest, ChoicesAreRememberedForTheNextExport) {
  const QString folder = testing::ScratchDir("export-remembered");
  dialog->OptCsv->click();
  dialogs->saveFile = folder + "/people.csv";
  RunToEnd();
  ASSERT_TRUE(dialog->LastError().isEmpty()) << dialog->LastError().toStdString();
  dialog = std::make_unique<ExportDialog>(nullptr, ExportSource{false, sample, {}});
  EXPECT_TRUE(dialog->OptCsv->isChecked());
  EXPECT_TRUE(dialog->OptOneFile->isChecked());
  dialogs->saveFile.clear();  // the user closes the file dialog
  dialog->CmdExport->click();
  EXPECT_EQ(dialogs->saveSuggestions.last(), folder + "/Contacts.csv");
}

TEST_F(ExportDialogTest, PickedFolderOrEveryContactFolderOfItsStore) {
  // Two contact folders and a mail folder, five contacts in all.
  const QString folder = testing::ScratchDir("export-folders");
  ASSERT_FALSE(WriteStore(folder, R"({"folders": [
      {"path": "Contacts", "items": [{"FirstName": "Ann"}, {"FirstName": "Bo"}]},
      {"path": "Contacts/Suppliers", "containerClass": "IPF.Contact",
       "items": [{"FirstName": "Cy"}, {"FirstName": "Di"}, {"FirstName": "Ed"}]},
      {"path": "Inbox", "containerClass": "IPF.Note",
       "items": [{"messageClass": "IPM.Note", "Subject": "Hello"}]},
      {"path": "Deleted Items", "items": [{"FirstName": "Old"}]}]})")
                   .isEmpty());

  dialog = std::make_unique<ExportDialog>(
      nullptr,
      ExportSource{true, folder + "/store.pst", "Top of Personal Folders/Contacts/Suppliers"});
  dialog->show();
  EXPECT_TRUE(dialog->LblSource->text().contains("Top of Personal Folders/Contacts/Suppliers"));
  dialogs->saveFile = folder + "/picked.vcf";
  RunToEnd();
  ASSERT_TRUE(dialog->LastError().isEmpty()) << dialog->LastError().toStdString();
  EXPECT_EQ(CountCards(folder + "/picked.vcf"), 3);

  dialog->ChkAllFolders->click();
  dialogs->saveFile = folder + "/all.vcf";
  RunToEnd();
  ASSERT_TRUE(dialog->LastError().isEmpty()) << dialog->LastError().toStdString();
  EXPECT_EQ(CountCards(folder + "/all.vcf"), 5);
  EXPECT_TRUE(dialog->LblResult->text().contains("2 contact folders"))
      << dialog->LblResult->text().toStdString();
  // The deleted items are left out, and named, merged or not.
  for (const bool merge : {true, false}) {
    if (dialog->ChkMerge->isChecked() != merge) dialog->ChkMerge->click();
    dialogs->saveFile = folder + (merge ? "/all-merged.vcf" : "/all-every.vcf");
    RunToEnd();
    EXPECT_EQ(CountCards(dialogs->saveFile), 5);
    EXPECT_TRUE(dialog->LblResult->text().contains(
        "Left out, as folders the mail client keeps by itself: \u201cTop of Personal "
        "Folders/Deleted Items\u201d (deleted items, 1 entry)."))
        << dialog->LblResult->text().toStdString();
  }
}

// The entries of one person are one contact, as the command line's export and the send write
// them, and the end says so; unticked, every entry is written as it is. The choice is kept.
TEST_F(ExportDialogTest, TheEntriesOfOnePersonAreOneContactUnlessUnticked) {
  const QString folder = testing::ScratchDir("export-merge");
  ASSERT_FALSE(WriteStore(folder, R"({"folders": [{"path": "Contacts", "items": [
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example"},
      {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
       "MobileTelephoneNumber": "+44 7700 900123"},
      {"FirstName": "Bo", "LastName": "Ek", "Email1Address": "bo@ek.example"}]}]})")
                   .isEmpty());
  dialog = std::make_unique<ExportDialog>(
      nullptr, ExportSource{true, folder + "/store.pst", "Top of Personal Folders/Contacts"});
  dialog->show();
  EXPECT_TRUE(dialog->ChkMerge->isChecked());
  for (const bool merge : {true, false}) {
    SCOPED_TRACE(merge ? "merged" : "every entry");
    if (dialog->ChkMerge->isChecked() != merge) dialog->ChkMerge->click();
    dialogs->saveFile = folder + (merge ? "/merged.vcf" : "/every.vcf");
    RunToEnd();
    ASSERT_TRUE(dialog->LastError().isEmpty()) << dialog->LastError().toStdString();
    EXPECT_EQ(CountCards(dialogs->saveFile), merge ? 2 : 3);
    EXPECT_EQ(dialog->LblResult->text().contains(
                  "2 entries of one person each were merged into 1 contact."),
              merge)
        << dialog->LblResult->text().toStdString();
  }
  ExportDialog again(nullptr, ExportSource{true, folder + "/store.pst", {}});
  EXPECT_FALSE(again.ChkMerge->isChecked());
}

// What the dialog's "Send to an Address Book..." sends follows its choices as the export does:
// every entry where merging is unticked, and with every contact folder, each contact's folders
// among its categories.
TEST_F(ExportDialogTest, TheSendFollowsTheMergeAndFolderChoices) {
  const QString folder = testing::ScratchDir("export-send-choices");
  ASSERT_FALSE(WriteStore(folder, R"({"folders": [
      {"path": "Contacts", "items": [
        {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example"},
        {"FirstName": "Ann", "LastName": "Lee", "Email1Address": "ann@lee.example",
         "JobTitle": "Pilot"}]},
      {"path": "Contacts/Suppliers", "containerClass": "IPF.Contact",
       "items": [{"FirstName": "Cy", "LastName": "Moe", "Email1Address": "cy@moe.example"}]}]})")
                   .isEmpty());
  for (const bool merge : {true, false}) {
    SCOPED_TRACE(merge ? "merged" : "every entry");
    const auto contacts = StoreContacts(folder + "/store.pst", {}, true, merge)();
    contact::SourcedContact c;
    QStringList cards;
    while (contacts->Next(c))
      cards << contact::ShownName(c.contact) + ": " + c.contact.categories.join(u',');
    cards.sort();
    EXPECT_EQ(cards, merge ? QStringList({"Ann Lee: Contacts", "Cy Moe: Contacts/Suppliers"})
                           : QStringList({"Ann Lee: Contacts", "Ann Lee: Contacts",
                                          "Cy Moe: Contacts/Suppliers"}));
  }
}

// An entry read without some of its fields (its categories stored as a number; the named
// properties of a store whose name-to-id map is damaged) is written without them, and the end
// says so, as the command line does ("is not whole"), not that it was left out.
TEST_F(ExportDialogTest, AnEntryReadWithoutSomeFieldsIsToldAsWrittenWithoutThem) {
  const QString folder = testing::ScratchDir("export-partial");
  ASSERT_FALSE(WriteStore(folder, R"({"folders": [{"path": "Contacts", "items": [
      {"FirstName": "Ann", "properties": [
        {"set": "PS_PUBLIC_STRINGS", "name": "Keywords", "type": "int32", "value": 5}]},
      {"FirstName": "Bo"}]}]})")
                   .isEmpty());
  struct Case {
    QString store;  // empty: the damaged fixture's, absent
    int cards;
    const char* ends;  // the end of the window's text
  };
  for (const Case& c : {
           Case{folder + "/store.pst", 2,
                "\n1 contact was written without some of its fields:\n"
                "  Top of Personal Folders/Contacts, entry 1: written without its "
                "categories (stored as a value of type 0x0003): a type that field "
                "cannot take"},
           Case{testing::SharedDir().isEmpty()
                    ? QString()
                    : testing::SharedDir() + "/fixtures/damaged/name-map-block-overwritten.pst",
                6,
                "\n6 contacts were written without some of their fields:\n"
                "  Top of Personal Folders/Contacts, entry 1: written without its e-mail "
                "addresses, business address, web page, file-as name, IM and free/busy "
                "addresses and categories: the store's name-to-id map is damaged (block 0x16e is "
                "not where the block B-tree puts it), so its named properties cannot be told "
                "apart"},
       }) {
    SCOPED_TRACE(c.store.toStdString());
    if (c.store.isEmpty()) {
      LUMIVEX_REQUIRE_FIXTURES();
    }
    dialog = std::make_unique<ExportDialog>(
        nullptr, ExportSource{true, c.store, "Top of Personal Folders/Contacts"});
    dialog->show();
    dialogs->saveFile = folder + "/contacts.vcf";
    RunToEnd();
    EXPECT_EQ(CountCards(folder + "/contacts.vcf"), c.cards);
    const QString text = dialog->LblResult->text();
    EXPECT_TRUE(text.contains(QString::fromUtf8(c.ends))) << text.toStdString();
    EXPECT_FALSE(text.contains("could not be read")) << text.toStdString();
  }
}

// A store our reader refuses and libpff reads without its named properties (the fixtures'
// README): the end of the export says the store is damaged and why, apart from the entries.
TEST_F(ExportDialogTest, ADamagedStoreIsToldApartFromTheEntries) {
  LUMIVEX_REQUIRE_FIXTURES();
  const QString store =
      testing::SharedDir() + "/fixtures/damaged/node-page-checksum-broken-named-props-lost.pst";
  dialog = std::make_unique<ExportDialog>(
      nullptr, ExportSource{true, store, "Top of Personal Folders/Contacts"});
  dialog->show();
  dialogs->saveFile = testing::ScratchDir("export-damaged") + "/contacts.vcf";
  RunToEnd();
  const QString text = dialog->LblResult->text();
  EXPECT_TRUE(text.contains("The store is damaged") && text.contains("libpff") &&
              text.contains("named properties"))
      << text.toStdString();
  EXPECT_FALSE(text.contains("entry 0")) << text.toStdString();
  dialog->grab().save(testing::ScratchDir("export-damaged") + "/window.png");  // to look at
}

// A store none of whose entries can be read: no file, and the window says so (not "Done." and
// "0 contacts written to ."), with each entry's reason.
TEST_F(ExportDialogTest, NoEntryReadIsNothingWritten) {
  const QString store =
      testing::StoreOfUnreadableEntries(testing::ScratchDir("export-none-read-store"));
  ASSERT_FALSE(store.isEmpty());
  dialog = std::make_unique<ExportDialog>(
      nullptr, ExportSource{true, store, "Top of Personal Folders/Contacts"});
  dialog->show();
  const QString folder = testing::ScratchDir("export-none-read");
  dialogs->saveFile = folder + "/contacts.vcf";
  RunToEnd();
  EXPECT_EQ(dialog->LblProgress->text(), "Nothing was written.");
  const QString text = dialog->LblResult->text();
  EXPECT_TRUE(text.startsWith("No file was written: no contact could be read."))
      << text.toStdString();
  EXPECT_TRUE(text.contains("2 entries could not be read")) << text.toStdString();
  EXPECT_FALSE(dialog->CmdOpenFolder->isEnabled());
  EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
}

TEST_F(ExportDialogTest, ATargetThatCannotBeWrittenIsReported) {
  // A file stands where the target's folder should be.
  const QString folder = testing::ScratchDir("export-unwritable");
  QFile blocker(folder +
                QStringLiteral("/not-a-folder-but-a-file-whose-long-name-makes-the-message-"
                               "wrap-onto-several-lines-of-the-dialog"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  dialogs->saveFile = blocker.fileName() + QStringLiteral("/Contacts.vcf");
  RunToEnd();

  EXPECT_TRUE(dialog->LastError().startsWith("The contacts could not be written: "))
      << dialog->LastError().toStdString();
  EXPECT_TRUE(dialog->LastError().contains("not-a-folder")) << "it names the place";
  EXPECT_TRUE(dialog->LastError().contains("Choose another file or folder"));
  EXPECT_TRUE(dialog->LblResult->isVisible());
  EXPECT_EQ(dialog->LblResult->text(), dialog->LastError());
  EXPECT_FALSE(dialog->CmdOpenFolder->isEnabled());
  EXPECT_TRUE(dialog->CmdExport->isEnabled());
  // The dialog has made room for the whole message: nothing overlaps, nothing is cut.
  QCoreApplication::processEvents();
  EXPECT_GE(dialog->LblResult->height(),
            dialog->LblResult->heightForWidth(dialog->LblResult->width()));
  const QWidget* stacked[] = {dialog->OptOneFile->parentWidget(), dialog->LblProgress,
                              dialog->LblResult, dialog->CmdExport};
  for (int i = 0; i + 1 < 4; ++i)
    EXPECT_LE(stacked[i]->geometry().bottom(), stacked[i + 1]->geometry().top())
        << stacked[i]->objectName().toStdString() << " runs into "
        << stacked[i + 1]->objectName().toStdString();

  // Cancelling the save-file dialog starts nothing.
  dialogs->saveFile.clear();
  dialog->CmdExport->click();
  EXPECT_FALSE(dialog->Running());
}

}  // namespace
}  // namespace lumivex
