#include "app/ExportDialog.h"

#include "app/Dialogs.h"
#include "app/Remembered.h"
#include "app/ReviewWindow.h"
#include "app/RunLabels.h"
#include "app/ScreenFit.h"
#include "app/SendPanel.h"
#include "common/Module1.h"
#include "merge/ContactSources.h"
#include "source/ContactFolders.h"
#include "source/MailStore.h"
#include "source/StoreBackend.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

namespace lumivex {

namespace {

ExportDialog::EntryHook& HookSlot() {
  static ExportDialog::EntryHook hook;
  return hook;
}

// At most this many unreadable entries are named in the dialog; the rest are counted.
constexpr size_t kProblemsShown = 5;

// A number as the user's locale writes it: "37,405" in English, "37.405" in German.
QString Number(int n) {
  return QLocale().toString(n);
}

QString Count(int n, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(Number(n), QString::fromLatin1(n == 1 ? one : many));
}

QString Quoted(const QString& text) {
  return QStringLiteral("\u201C%1\u201D").arg(text);
}

}  // namespace

// One export on the worker thread: it opens the store for itself, runs the export and keeps
// how it ended for the dialog, which reads it once the thread has finished.
//
// The store reader is not made for use from two threads at once, and sessions of one file
// share its open reader. While the export runs, the dialog is modal over the main window: no
// scan, conversion or folder picker can start, so nothing on the window's thread touches a store
// until the worker has ended (the dialog's destructor waits for it). What the worker opens it
// also drops, on its own thread, before it ends.
struct ExportDialog::Job : public Utf8ExportObserver {
  ExportSource source;
  bool allFolders = false;
  std::function<std::unique_ptr<contact::ContactStream>()> reviewed;
  bool merge = false;  // the entries of one person as one contact
  // With every contact folder: those the mail client keeps by itself, left out, as the result
  // names them ("Top of Personal Folders/Deleted Items" (deleted items, 1 entry)).
  QStringList leftOut;

  void NoteLeftOut(const std::vector<ContactFolderSearch::LeftOut>& folders) {
    for (const auto& left : folders)
      leftOut << QStringLiteral("%1 (%2, %3)")
                     .arg(Quoted(left.folder->Path()), FolderRoleText(left.role),
                          Count(left.contacts, "entry", "entries"));
  }
  Utf8ExportOptions options;
  ExportDialog* dialog = nullptr;
  const std::atomic<bool>* cancel = nullptr;

  // How it ended.
  Utf8ExportResult result;
  QString error;
  int folders = 0;

  ProgressPace pace;
  // The last entry the export reported, whether or not it reached the window: what a cancelled
  // run's summary counts.
  std::atomic<int> lastDone{0};
  std::atomic<int> lastTotal{0};

  void Progress(int done, int total, const QString& folder) override {
    lastDone = done;
    lastTotal = total;
    if (const EntryHook& hook = HookSlot()) hook(done);
    if (!pace.Due(done, total)) return;
    ExportDialog* target = dialog;
    QMetaObject::invokeMethod(
        target, [target, done, total, folder] { target->ShowProgress(done, total, folder); },
        Qt::QueuedConnection);
  }

  bool Cancelled() const override { return cancel->load(); }

  // The folders to write: the scanned folder, or every contact folder of its store.
  std::vector<std::shared_ptr<Folder>> OpenFolders() {
    MailProvider& provider = CurrentMailProvider();
    if (!source.otherStore && !allFolders) {
      // The default contacts folder, found as the scan found it.
      std::unique_ptr<RdoSession> rdo = provider.CreateRdoSession();
      rdo->Logon();
      std::shared_ptr<Folder> folder = rdo->GetDefaultFolder(kFolderContacts);
      rdo->Logoff();
      return {folder};
    }
    if (source.storeFile.isEmpty())
      throw StoreError("No store has been scanned: scan one in the main window first");
    std::unique_ptr<MailClientApp> app = provider.CreateMailClientApp();
    std::unique_ptr<MapiNamespace> mapi = app->GetNamespace(QStringLiteral("MAPI"));
    mapi->AddStore(source.storeFile);
    const std::vector<std::shared_ptr<Store>> stores = mapi->Stores();
    if (stores.empty())
      throw StoreError(
          QStringLiteral("%1 could not be opened as a store").arg(source.storeFile).toStdString());
    if (allFolders) {
      const ContactFolderSearch search = FindContactFolders(*stores.back());
      NoteLeftOut(search.leftOut);
      std::vector<std::shared_ptr<Folder>> all;
      for (const auto& found : search.folders) all.push_back(found.folder);
      if (all.empty())
        throw StoreError(
            QStringLiteral("%1 holds no contact folders").arg(source.storeFile).toStdString());
      return all;
    }
    std::shared_ptr<Folder> folder = FindFolder(*stores.back(), source.folderPath);
    if (source.folderPath.isEmpty() || !folder)
      throw StoreError(QStringLiteral("The folder %1 is no longer in %2")
                           .arg(Quoted(source.folderPath), source.storeFile)
                           .toStdString());
    return {folder};
  }

  // The same folders, their entries of one person merged (merge/ContactSources.h): what the
  // command line's export writes. A contact is named by its folder only where more than one
  // folder holds entries.
  void RunMerged() {
    if (source.otherStore && !allFolders && source.folderPath.isEmpty())
      throw StoreError("No folder has been scanned: scan one in the main window first");
    std::vector<ContactFolderSearch::LeftOut> left;
    std::vector<StoreFolders> sources = merge::FindSources(
        StoreSelectionOf(source.storeFile, source.otherStore ? source.folderPath : QString(),
                         allFolders, true),
        nullptr, &left);
    NoteLeftOut(left);
    Utf8ExportOptions run = options;
    folders = 0;
    for (const StoreFolders& s : sources) folders += int(s.folders.size());
    if (!SeveralFoldersGiveContacts(sources)) run.folderAsCategory = false;
    const std::unique_ptr<contact::ContactStream> contacts =
        merge::OpenContacts(std::move(sources), true);
    // The window tells no suggestion (the review does): not looked for.
    if (auto* merged = dynamic_cast<merge::MergedContacts*>(contacts.get()))
      merged->LeaveSuggestions();
    result = RunUtf8Export(*contacts, run, *this);
  }

  void Run() {
    try {
      if (reviewed) {
        const std::unique_ptr<contact::ContactStream> contacts = reviewed();
        folders = 1;
        result = RunUtf8Export(*contacts, options, *this);
        return;
      }
      if (merge) {
        RunMerged();
        return;
      }
      const std::vector<std::shared_ptr<Folder>> list = OpenFolders();
      folders = static_cast<int>(list.size());
      result = RunUtf8Export(list, options, *this);
    } catch (const Utf8ExportError& failure) {
      error = QStringLiteral(
                  "The contacts could not be written: %1\n\nChoose another file or folder, then "
                  "click Export again.")
                  .arg(QString::fromUtf8(failure.what()));
    } catch (const StoreError& failure) {
      error = QStringLiteral(
                  "The contacts could not be read from the store: %1\n\nCheck that the file is "
                  "still there and readable, scan it again in the main window, then export again.")
                  .arg(QString::fromUtf8(failure.what()));
    } catch (const std::exception& failure) {
      error = QStringLiteral(
                  "The export stopped: %1\n\nNothing half-written was left behind; "
                  "try again, or choose another form or target.")
                  .arg(QString::fromUtf8(failure.what()));
    }
  }
};

QColor ErrorTextColour(const QColor& window) {
  return window.lightness() < 128 ? QColor(255, 150, 150) : QColor(164, 0, 0);
}

void ExportDialog::SetEntryHook(EntryHook hook) {
  HookSlot() = std::move(hook);
}

ExportDialog::ExportDialog(QWidget* owner, ExportSource source)
    : QDialog(owner), source_(std::move(source)) {
  setObjectName(QStringLiteral("ExportDialog"));
  setWindowTitle(QStringLiteral("Export for Other Address Books"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  auto* layout = new QVBoxLayout(this);

  AddSourceBox(layout);
  AddFormBoxes(layout);
  AddProgress(layout);
  AddButtons(layout);

  for (QRadioButton* option : {OptVCard4, OptVCard3, OptCsv})
    connect(option, &QRadioButton::toggled, this, [this] { UpdateOptions(); });
  connect(CmdExport, &QPushButton::clicked, this, [this] { CmdExport_Click(); });
  connect(CmdCancel, &QPushButton::clicked, this, [this] { CmdCancel_Click(); });
  connect(CmdClose, &QPushButton::clicked, this, [this] { reject(); });
  connect(CmdOpenFolder, &QPushButton::clicked, this, [this] { CmdOpenFolder_Click(); });

  // The last export's form and files, and the window's size.
  const auto last = Remembered();
  const QString form = last->value(QStringLiteral("export/form")).toString();
  (form == u"vcard3" ? OptVCard3 : form == u"csv" ? OptCsv : OptVCard4)->setChecked(true);
  (last->value(QStringLiteral("export/perContact")).toBool() ? OptPerContact : OptOneFile)
      ->setChecked(true);
  ChkMerge->setChecked(last->value(QStringLiteral("export/merge"), true).toBool());
  UpdateOptions();
  FitToScreen(this, sizeHint(), layout->itemAt(layout->count() - 1)->layout());
  RestoreSize(this, QStringLiteral("export"));
}

// The contacts the dialog exports: the store and folder, and whether every contacts folder.
void ExportDialog::AddSourceBox(QVBoxLayout* layout) {
  auto* sourceBox = new QGroupBox(QStringLiteral("Contacts"), this);
  auto* sourceLayout = new QVBoxLayout(sourceBox);
  LblSource = new QLabel(sourceBox);
  LblSource->setObjectName(QStringLiteral("LblSource"));
  LblSource->setWordWrap(true);
  LblSource->setText(source_.otherStore ? QStringLiteral("Contacts of the folder %1 in %2")
                                              .arg(Quoted(source_.folderPath),
                                                   QDir::toNativeSeparators(source_.storeFile))
                     : source_.storeFile.isEmpty()
                         ? QStringLiteral("Contacts of the default contacts folder")
                         : QStringLiteral("Contacts of the default contacts folder in %1")
                               .arg(QDir::toNativeSeparators(source_.storeFile)));
  sourceLayout->addWidget(LblSource);
  ChkAllFolders = new QCheckBox(QStringLiteral("&All contact folders of this store"), sourceBox);
  ChkAllFolders->setObjectName(QStringLiteral("ChkAllFolders"));
  sourceLayout->addWidget(ChkAllFolders);
  // Said on a line of its own that wraps, so that a large font does not cut the choice off.
  auto* allFoldersNote = new QLabel(
      QStringLiteral("Contacts kept in mail folders too; Deleted Items and Suggested Contacts "
                     "are left out. Where more than one folder gives contacts, each contact "
                     "keeps its folder's name as a category."),
      sourceBox);
  allFoldersNote->setObjectName(QStringLiteral("LblAllFoldersNote"));
  allFoldersNote->setWordWrap(true);
  allFoldersNote->setIndent(ChkAllFolders->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                            ChkAllFolders->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing));
  sourceLayout->addWidget(allFoldersNote);
  ChkMerge =
      new QCheckBox(QStringLiteral("&Merge the entries of one person into one contact"), sourceBox);
  ChkMerge->setObjectName(QStringLiteral("ChkMerge"));
  ChkMerge->setChecked(true);
  sourceLayout->addWidget(ChkMerge);
  CmdReview = new QPushButton(QStringLiteral("&Review and Merge Several Stores..."), sourceBox);
  CmdReview->setObjectName(QStringLiteral("CmdReview"));
  sourceLayout->addWidget(CmdReview, 0, Qt::AlignLeft);
  connect(CmdReview, &QPushButton::clicked, this, [this] { CmdReview_Click(); });
  layout->addWidget(sourceBox);
}

// The form (vCard 4.0, vCard 3.0, CSV) and one file or one per contact.
void ExportDialog::AddFormBoxes(QVBoxLayout* layout) {
  auto* formBox = new QGroupBox(QStringLiteral("Form"), this);
  auto* formLayout = new QVBoxLayout(formBox);
  OptVCard4 = new QRadioButton(
      QStringLiteral("vCard &4.0 (Thunderbird, Nextcloud and CardDAV servers)"), formBox);
  OptVCard3 = new QRadioButton(
      QStringLiteral("vCard &3.0 (Evolution, GNOME Contacts, KDE, Apple Contacts, older phones)"),
      formBox);
  OptCsv = new QRadioButton(QStringLiteral("C&SV for Google Contacts, Thunderbird and Outlook"),
                            formBox);
  OptVCard4->setObjectName(QStringLiteral("OptVCard4"));
  OptVCard3->setObjectName(QStringLiteral("OptVCard3"));
  OptCsv->setObjectName(QStringLiteral("OptCsv"));
  OptVCard4->setChecked(true);
  for (QRadioButton* option : {OptVCard4, OptVCard3, OptCsv}) formLayout->addWidget(option);
  layout->addWidget(formBox);

  auto* filesBox = new QGroupBox(QStringLiteral("Files"), this);
  auto* filesLayout = new QVBoxLayout(filesBox);
  OptOneFile = new QRadioButton(QStringLiteral("One &file holding every contact"), filesBox);
  OptPerContact = new QRadioButton(QStringLiteral("One file &per contact (vCard only)"), filesBox);
  OptOneFile->setObjectName(QStringLiteral("OptOneFile"));
  OptPerContact->setObjectName(QStringLiteral("OptPerContact"));
  OptOneFile->setChecked(true);
  filesLayout->addWidget(OptOneFile);
  filesLayout->addWidget(OptPerContact);
  layout->addWidget(filesBox);
}

// The progress bar, its line of text and the result of the last export.
void ExportDialog::AddProgress(QVBoxLayout* layout) {
  ProgBarExport = NewRunBar(this, QStringLiteral("ProgBarExport"));
  // An empty bar looks like a text box: it shows from the first export on, in room kept for it.
  QSizePolicy barPolicy = ProgBarExport->sizePolicy();
  barPolicy.setRetainSizeWhenHidden(true);
  ProgBarExport->setSizePolicy(barPolicy);
  ProgBarExport->hide();
  layout->addWidget(ProgBarExport);
  LblProgress = NewProgressLine(this, QStringLiteral("Choose a form, then click Export."));
  layout->addWidget(LblProgress);
  LblResult = NewResultText(this);
  layout->addWidget(LblResult);
  layout->addStretch(1);
  layout->addSpacing(layout->spacing());
}

void ExportDialog::AddButtons(QVBoxLayout* layout) {
  auto* buttons = new QHBoxLayout;
  CmdOpenFolder = new QPushButton(QStringLiteral("&Open Folder"), this);
  CmdExport = new QPushButton(QStringLiteral("&Export..."), this);
  CmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
  CmdClose = new QPushButton(QStringLiteral("&Close"), this);
  CmdOpenFolder->setObjectName(QStringLiteral("CmdOpenFolder"));
  CmdExport->setObjectName(QStringLiteral("CmdExport"));
  CmdCancel->setObjectName(QStringLiteral("CmdCancel"));
  CmdClose->setObjectName(QStringLiteral("CmdClose"));
  CmdOpenFolder->setEnabled(false);
  CmdCancel->setEnabled(false);
  CmdExport->setDefault(true);
  buttons->addWidget(CmdOpenFolder);
  buttons->addStretch(1);
  buttons->addWidget(CmdExport);
  buttons->addWidget(CmdCancel);
  buttons->addWidget(CmdClose);
  layout->addLayout(buttons);
  CmdSendTo = new QPushButton(QStringLiteral("Send to an Address &Book..."), this);
  CmdSendTo->setObjectName(QStringLiteral("CmdSendTo"));
  buttons->insertWidget(buttons->indexOf(CmdExport), CmdSendTo);
  connect(CmdSendTo, &QPushButton::clicked, this, [this] {
    if (Running()) return;
    // What is sent follows the choices made here, and the send window says which folders.
    const QString store = QDir::toNativeSeparators(source_.storeFile);
    const QString what =
        reviewed_ || !ChkAllFolders->isChecked() ? LblSource->text()
        : store.isEmpty() ? QStringLiteral("Contacts of every contact folder of the default store")
                          : QStringLiteral("Contacts of every contact folder in %1").arg(store);
    SendPanel panel(this,
                    reviewed_ ? reviewed_
                              : StoreContacts(source_.storeFile,
                                              source_.otherStore ? source_.folderPath : QString(),
                                              ChkAllFolders->isChecked(), ChkMerge->isChecked()),
                    what);
    Remembered()->setValue(QStringLiteral("export/merge"), ChkMerge->isChecked());
    panel.exec();
  });
}

ExportDialog::~ExportDialog() = default;

void ExportDialog::ShowNothingToExport(const QString& whatToDo) {
  LblSource->setText(whatToDo);
  for (QWidget* part : std::initializer_list<QWidget*>{
           ChkAllFolders, findChild<QLabel*>(QStringLiteral("LblAllFoldersNote")), ChkMerge,
           OptVCard4->parentWidget(), OptOneFile->parentWidget(), CmdExport, CmdSendTo})
    part->setEnabled(false);
  CmdClose->setDefault(true);
  LblProgress->setText(QStringLiteral("Close this window and scan first."));
}

void ExportDialog::UpdateOptions() {
  // A CSV file is one table: it has no per-contact form.
  const bool vcard = !OptCsv->isChecked();
  if (!vcard && OptPerContact->isChecked()) OptOneFile->setChecked(true);
  OptPerContact->setEnabled(vcard && !Running());
}

void ExportDialog::SetRunning(bool running) {
  for (QWidget* option :
       std::initializer_list<QWidget*>{OptVCard4, OptVCard3, OptCsv, OptOneFile, ChkAllFolders,
                                       CmdReview, CmdExport, CmdSendTo, CmdClose})
    option->setEnabled(!running);
  ChkMerge->setEnabled(!running);
  // A reviewed selection picks its folders and what is merged itself.
  if (reviewed_) {
    ChkAllFolders->setEnabled(false);
    ChkMerge->setEnabled(false);
  }
  if (running) ProgBarExport->show();
  CmdCancel->setEnabled(running);
  ProgBarExport->setFormat(running ? QStringLiteral("%p%") : QString());
  if (running) CmdOpenFolder->setEnabled(false);
  UpdateOptions();
}

void ExportDialog::CmdExport_Click() {
  if (Running()) return;
  const bool perContact = OptPerContact->isChecked() && OptPerContact->isEnabled();
  const bool csv = OptCsv->isChecked();
  const QString suffix = csv ? QStringLiteral("csv") : QStringLiteral("vcf");

  QString target;
  if (perContact) {
    target = CurrentDialogs().BrowseFolder(
        this, QStringLiteral("Choose the Folder for the Contact Files"));
  } else {
    // The folder of this window's last export, else of the last one the program made.
    const QString remembered = Remembered()->value(QStringLiteral("export/folder")).toString();
    const QString start = !openFolder_.isEmpty()                               ? openFolder_
                          : !remembered.isEmpty() && QDir(remembered).exists() ? remembered
                                                                               : QDir::homePath();
    target = CurrentDialogs().SaveFile(
        this, QStringLiteral("Export Contacts As"),
        QDir(start).filePath(QStringLiteral("Contacts.") + suffix),
        csv ? QStringLiteral("CSV file (*.csv)") : QStringLiteral("vCard file (*.vcf)"));
    if (!target.isEmpty() && QFileInfo(target).suffix().isEmpty()) target += u'.' + suffix;
  }
  if (target.isEmpty()) return;
  const auto last = Remembered();
  last->setValue(QStringLiteral("export/form"), OptVCard4->isChecked()   ? QStringLiteral("vcard4")
                                                : OptVCard3->isChecked() ? QStringLiteral("vcard3")
                                                                         : QStringLiteral("csv"));
  last->setValue(QStringLiteral("export/perContact"), perContact);
  last->setValue(QStringLiteral("export/merge"), ChkMerge->isChecked());
  last->setValue(QStringLiteral("export/folder"),
                 perContact ? target : QFileInfo(target).absolutePath());

  auto job = std::make_shared<Job>();
  job->source = source_;
  job->allFolders = !reviewed_ && ChkAllFolders->isChecked();
  job->reviewed = reviewed_;
  job->merge = ChkMerge->isChecked();
  job->options.format = OptVCard4->isChecked()   ? Utf8Format::kVCard4
                        : OptVCard3->isChecked() ? Utf8Format::kVCard3
                                                 : Utf8Format::kCsv;
  job->options.perContact = perContact;
  job->options.target = target;
  job->options.folderAsCategory = job->allFolders;
  job->dialog = this;
  job->cancel = &worker_.CancelFlag();

  lastResult_ = {};
  lastError_.clear();
  lastDone_ = 0;
  lastTotal_ = 0;
  job_ = job;
  ShowResult(QString(), false);
  ProgBarExport->setRange(0, 0);  // busy until the store is open and the entries are counted
  LblProgress->setText(QStringLiteral("Opening %1...")
                           .arg(QFileInfo(source_.storeFile).fileName().isEmpty()
                                    ? QStringLiteral("the store")
                                    : QFileInfo(source_.storeFile).fileName()));

  worker_.Start([job] { job->Run(); }, [this] { OnWorkerDone(); });
  SetRunning(true);
}

void ExportDialog::CmdReview_Click() {
  if (Running()) return;
  QString store = source_.storeFile;
  if (store.isEmpty()) try {
      store = DefaultStorePath();
    } catch (const StoreError&) {
    }
  ReviewWindow review(this, store.isEmpty() ? QStringList() : QStringList{store});
  if (review.exec() != QDialog::Accepted) return;
  reviewed_ = review.TickedSelection();
  LblSource->setText(review.CountsText());
  ChkAllFolders->setEnabled(false);
  ChkMerge->setEnabled(false);
}

void ExportDialog::CmdCancel_Click() {
  if (!Running()) return;
  worker_.Cancel();
  CmdCancel->setEnabled(false);
  LblProgress->setText(QStringLiteral("Cancelling..."));
}

void ExportDialog::reject() {
  if (Running()) {
    CmdCancel_Click();
    return;
  }
  RememberSize(this, QStringLiteral("export"));
  QDialog::reject();
}

void ExportDialog::CmdOpenFolder_Click() {
  if (!openFolder_.isEmpty()) Module1::OpenUrl(QUrl::fromLocalFile(openFolder_).toString());
}

void ExportDialog::ShowProgress(int done, int total, const QString& folder) {
  if (!Running()) return;
  lastDone_ = done;
  lastTotal_ = total;
  if (worker_.CancelRequested()) return;  // the label says it is cancelling
  ProgBarExport->setRange(0, std::max(total, 1));
  ProgBarExport->setValue(std::min(done, std::max(total, 1)));
  // A deep folder path is shortened in its middle rather than widening the dialog.
  const QString head = QStringLiteral("Exported %1 of %2 entries").arg(Number(done), Number(total));
  const QFontMetrics metrics = LblProgress->fontMetrics();
  const int room = LblProgress->width() - metrics.horizontalAdvance(head + QStringLiteral(" ()"));
  LblProgress->setText(QStringLiteral("%1 (%2)").arg(
      head, metrics.elidedText(folder, Qt::ElideMiddle, std::max(room, 0))));
}

void ExportDialog::OnWorkerDone() {
  const std::shared_ptr<Job> job = std::move(job_);
  lastDone_ = job->lastDone;
  lastTotal_ = job->lastTotal;
  lastResult_ = job->result;
  lastError_ = job->error;
  SetRunning(false);
  if (!lastError_.isEmpty()) {
    ShowError(lastError_);
  } else {
    ShowOutcome(job->folders, job->leftOut);
  }
  emit Finished();
}

void ExportDialog::ShowOutcome(int folders, const QStringList& leftOut) {
  const Utf8ExportResult& r = lastResult_;
  const bool perContact = OptPerContact->isChecked() && OptPerContact->isEnabled();
  const QString where = QDir::toNativeSeparators(r.output);
  openFolder_ =
      r.output.isEmpty() ? QString() : (perContact ? r.output : QFileInfo(r.output).absolutePath());

  QString text;
  if (r.cancelled) {
    ProgBarExport->hide();  // empty again, it would look like a text box
    LblProgress->setText(QStringLiteral("The export was cancelled."));
    const QString after = lastTotal_ > 0 ? QStringLiteral("It stopped after %1 of %2 entries")
                                               .arg(Number(lastDone_), Number(lastTotal_))
                                         : QStringLiteral("It stopped before the first entry");
    const int files = r.contacts + r.groups;
    if (perContact && files > 0) {
      text = QStringLiteral("%1: %2 %3 written into %4; the other %5 were not exported.")
                 .arg(after, Count(files, "contact file", "contact files"),
                      QString::fromLatin1(files == 1 ? "was" : "were"), where,
                      Count(std::max(lastTotal_ - lastDone_, 0), "entry", "entries"));
    } else {
      text = after + QStringLiteral(": no file was written.");
      openFolder_.clear();
    }
  } else {
    ProgBarExport->setRange(0, 1);
    ProgBarExport->setValue(1);
    LblProgress->setText(QStringLiteral("Done."));
    QString what = Count(r.contacts, "contact", "contacts");
    if (r.groups > 0) what += QStringLiteral(" and ") + Count(r.groups, "list", "lists");
    if (r.contacts + r.groups == 0) {
      // No file: nothing the folders hold could be written.
      LblProgress->setText(QStringLiteral("Nothing was written."));
      text = r.problems.empty() ? QStringLiteral("No file was written: there were no contacts.")
                                : QStringLiteral("No file was written: no contact could be read.");
      openFolder_.clear();
    } else {
      text = perContact ? QStringLiteral("%1 written as one file each into %2.").arg(what, where)
                        : QStringLiteral("%1 written to %2.").arg(what, where);
      if (r.mergedContacts > 0)
        text += QStringLiteral(" %1 of one person each were merged into %2.")
                    .arg(Count(r.mergedEntries, "entry", "entries"),
                         Count(r.mergedContacts, "contact", "contacts"));
    }
    if (folders > 1 && r.contacts + r.groups > 0)
      text += QStringLiteral(" They come from %1 contact folders.").arg(Number(folders));
    if (!leftOut.isEmpty())
      text += QStringLiteral(" Left out, as folders the mail client keeps by itself: %1.")
                  .arg(leftOut.join(QStringLiteral(", ")));
    text += u'\n';
    // Entries read without some of their fields (`partial`) were written, without those.
    std::vector<const contact::EntryProblem*> unread, unwritten, partial;
    QString damaged;  // of the stores as a whole, told before the entries
    for (const contact::EntryProblem& p : r.problems) {
      if (p.wholeStore)
        damaged += p.store.isEmpty() ? QStringLiteral("\n  ") + p.reason
                                     : QStringLiteral("\n  %1: %2").arg(p.store, p.reason);
      else
        (p.unwritten ? unwritten : p.partial ? partial : unread).push_back(&p);
    }
    // An entry of a store other than the one scanned (added in the review) is named with its
    // store's file: several stores may share one folder path.
    const QString scanned = source_.storeFile;
    auto list = [&text, &scanned](const std::vector<const contact::EntryProblem*>& problems) {
      for (size_t i = 0; i < problems.size() && i < kProblemsShown; ++i)
        text += QStringLiteral("\n  %1%2, entry %3: %4")
                    .arg(problems[i]->store.isEmpty() || problems[i]->store == scanned
                             ? QString()
                             : QFileInfo(problems[i]->store).fileName() + QStringLiteral(": "))
                    .arg(problems[i]->folder)
                    .arg(Number(problems[i]->position))
                    .arg(problems[i]->reason);
      if (problems.size() > kProblemsShown)
        text += QStringLiteral("\n  ... and %1 more.")
                    .arg(Number(static_cast<int>(problems.size() - kProblemsShown)));
    };
    if (r.problems.empty()) text += QStringLiteral("Every entry was read.");
    if (!damaged.isEmpty()) {
      text += QStringLiteral(
                  "The store is damaged, so what was read of it may lack values or "
                  "hold wrong ones:") +
              damaged;
      if (!unread.empty() || !unwritten.empty() || !partial.empty()) text += u'\n';
    }
    if (!unread.empty()) {
      text += Count(static_cast<int>(unread.size()), "entry", "entries") +
              QStringLiteral(" could not be read and were left out:");
      list(unread);
    }
    if (!unwritten.empty()) {
      if (!unread.empty()) text += u'\n';
      text += Count(static_cast<int>(unwritten.size()), "contact", "contacts") +
              QStringLiteral(" could not be written to a file of their own:");
      list(unwritten);
    }
    if (!partial.empty()) {
      if (!unread.empty() || !unwritten.empty()) text += u'\n';
      text += Count(static_cast<int>(partial.size()), "contact", "contacts") +
              (partial.size() == 1 ? QStringLiteral(" was written without some of its fields:")
                                   : QStringLiteral(" were written without some of their fields:"));
      list(partial);
    }
    if (r.semicolons > 0)
      text += QStringLiteral(
                  "\n%1 a category or child's name holding \";\", which a CSV cell separates its "
                  "values by: written with \",\" in its place (vCard keeps it).")
                  .arg(r.semicolons == 1
                           ? QStringLiteral("1 contact has")
                           : QStringLiteral("%1 contacts have").arg(Number(r.semicolons)));
  }
  ShowResult(text, false);
  CmdOpenFolder->setEnabled(!openFolder_.isEmpty());
}

void ExportDialog::ShowError(const QString& text) {
  openFolder_.clear();
  ProgBarExport->hide();  // empty again, it would look like a text box
  LblProgress->setText(QStringLiteral("The export failed."));
  ShowResult(text, true);
  CmdOpenFolder->setEnabled(false);
}

void ExportDialog::ShowResult(const QString& text, bool error) {
  QPalette colours = palette();
  if (error)
    colours.setColor(QPalette::WindowText, ErrorTextColour(colours.color(QPalette::Window)));
  LblResult->setPalette(colours);
  LblResult->setText(text);
  // A long message wraps onto more lines than the room kept for it: the dialog grows rather than
  // pressing the groups above into the buttons.
  layout()->activate();
  const int needed = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width())
                                                   : layout()->totalSizeHint().height();
  setMinimumHeight(
      std::min(ScreenRoom(this).height(), std::max(needed, layout()->totalMinimumSize().height())));
  if (height() < minimumHeight()) resize(width(), minimumHeight());
}

}  // namespace lumivex
