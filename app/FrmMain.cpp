#include "app/FrmMain.h"

#include "app/AboutFrm.h"
#include "app/Artwork.h"
#include "app/Dialogs.h"
#include "app/ExportDialog.h"
#include "app/Twips.h"
#include "common/Installation.h"
#include "common/Module1.h"
#include "convert/FrmConversion.h"
#include "source/StoreBackend.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace lumivex {

namespace {

// The client area is 10710 x 3630 twips. The window's outer height counts the title bar, the
// borders and the menu bar of a classic window besides: 780 twips of the 4410 that show the whole
// client area, so that 3540 leaves the count labels and the status bar out of view. Qt's window
// height takes in the menu bar but not the frame, so the client part is laid out as the classic
// window would show it and the menu bar is added at its own height.
constexpr int kClientWidth = 10710;
constexpr int kClientHeight = 3630;
constexpr int kClassicNonClient = 780;
constexpr int kLoadHeight = 3540;

const QColor kBackground(236, 233, 216);
const QColor kNavy(0, 0, 128);

QString& HelpIndexSlot() {
  static QString path;
  return path;
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name, const QRect& where) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(where);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& where) {
  return Place(new QLabel(text, parent), name, where);
}

QAction* MakeAction(QMenu* menu, const char* name, const QString& caption, bool enabled) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(QString::fromLatin1(name));
  action->setEnabled(enabled);
  return action;
}

}  // namespace

FrmMain::FrmMain(QWidget* parent) : QMainWindow(parent) {
  SubstituteWindowsFonts();
  // A failure to find the default store points the desktop's user at the other choice.
  SetDefaultStoreAdvice(QStringLiteral(
      "choose \"Select Other Outlook File\" and click \"Browse...\" to open an Outlook file"));
  setObjectName(QStringLiteral("FrmMain"));
  setWindowTitle(QStringLiteral("Lumivex v3.0"));
  setWindowIcon(WindowIcon());
  // A fixed-size window with minimize and close buttons only.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);

  // The central widget shows as much of the fixed-size client area as the window height allows.
  auto* viewport = new QWidget(this);
  viewport->setObjectName(QStringLiteral("Viewport"));
  setCentralWidget(viewport);
  auto* client = new QWidget(viewport);
  client->setObjectName(QStringLiteral("Client"));
  client->setGeometry(TwipsRect(0, 0, kClientWidth, kClientHeight));
  client->setFont(PointFont(QStringLiteral("Tahoma"), 8.25));
  // The client area keeps its light colour under any desktop theme, so its own text is kept dark
  // to go with it rather than taken from a dark theme's light text. The buttons, the text box and
  // the progress bar draw their own backgrounds and follow the theme.
  QPalette background = client->palette();
  background.setColor(QPalette::Window, kBackground);
  background.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
  background.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
  background.setColor(QPalette::Disabled, QPalette::WindowText, QColor(109, 109, 109));
  client->setPalette(background);
  client->setAutoFillBackground(true);

  BuildMenus();
  BuildControls(client);
  BuildStatusBar(client);
  Form_Load();

  if (QScreen* where = screen()) {
    const QRect available = where->availableGeometry();
    move(available.center() - QPoint(width() / 2, height() / 2));
  }
}

FrmMain::~FrmMain() {
  delete conversion_.data();
}

ExportDialog* FrmMain::ExportWindow() const {
  return export_.data();
}

FrmConversion* FrmMain::ConversionWindow() const {
  return conversion_.data();
}

void FrmMain::BuildMenus() {
  mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  mnuOpen = MakeAction(mnuFile, "mnuOpen", QStringLiteral("&Open Outlook PST File..."), false);
  mnuScan = MakeAction(mnuFile, "mnuScan", QStringLiteral("Scan Contacts"), false);
  mnuSave = MakeAction(mnuFile, "mnuSave", QStringLiteral("&Save Contacts..."), false);
  mnuExport =
      MakeAction(mnuFile, "mnuExport", QStringLiteral("Export for Other Address Books..."), false);
  mnuReview =
      MakeAction(mnuFile, "mnuReview", QStringLiteral("Review and Merge Several Stores..."), true);
  mnuSep1 = mnuFile->addSeparator();
  mnuSep1->setObjectName(QStringLiteral("mnuSep1"));
  mnuExit = MakeAction(mnuFile, "mnuExit", QStringLiteral("E&xit"), true);

  mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuContent = MakeAction(mnuHelp, "mnuContent", QStringLiteral("Contents"), true);
  mnuWebsite = MakeAction(mnuHelp, "mnuWebsite", QStringLiteral("Visit Website"), true);
  mnuAbout = MakeAction(mnuHelp, "mnuAbout", QStringLiteral("About..."), true);

  connect(mnuOpen, &QAction::triggered, this, [this] { mnuOpen_Click(); });
  connect(mnuScan, &QAction::triggered, this, [this] { mnuScan_Click(); });
  connect(mnuSave, &QAction::triggered, this, [this] { mnuSave_Click(); });
  connect(mnuExport, &QAction::triggered, this, [this] { mnuExport_Click(); });
  connect(mnuReview, &QAction::triggered, this, [this] { mnuReview_Click(); });
  connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
  connect(mnuContent, &QAction::triggered, this, [this] { mnuContent_Click(); });
  connect(mnuWebsite, &QAction::triggered, this, [this] { mnuWebsite_Click(); });
  connect(mnuAbout, &QAction::triggered, this, [this] { mnuAbout_Click(); });
}

void FrmMain::BuildControls(QWidget* client) {
  const QString verdana = QStringLiteral("Verdana");
  const QString tahoma = QStringLiteral("Tahoma");

  // The header strip.
  Picture1 = Place(new QWidget(client), "Picture1", TwipsRect(0, 0, 10710, 930));
  QPalette white = Picture1->palette();
  white.setColor(QPalette::Window, Qt::white);
  Picture1->setPalette(white);
  Picture1->setAutoFillBackground(true);
  Image2 = MakeLabel(Picture1, "Image2", QString(), TwipsRect(120, 0, 1065, 870));
  Image2->setPixmap(ProductLogo(Image2->size(), devicePixelRatioF()));
  Label4 = MakeLabel(Picture1, "Label4", QStringLiteral("Quorvane"), TwipsRect(1215, 90, 870, 195));
  Label4->setFont(PointFont(verdana, 8.25, true));
  Label1 =
      MakeLabel(Picture1, "Label1", QStringLiteral("Lumivex"), TwipsRect(1215, 240, 2070, 345));
  Label1->setFont(PointFont(verdana, 14.25, true));
  QPalette navy = Label1->palette();
  navy.setColor(QPalette::WindowText, kNavy);
  Label1->setPalette(navy);
  Label2 = MakeLabel(Picture1, "Label2", QStringLiteral("Export Outlook Contacts to vCard"),
                     TwipsRect(1215, 600, 2445, 195));
  Label2->setFont(PointFont(tahoma, 8.25));
  Image1 = MakeLabel(Picture1, "Image1", QString(), TwipsRect(0, 900, 10720, 30));
  Image1->setPixmap(RuleStrip());
  Image1->setScaledContents(true);

  Label3 = MakeLabel(client, "Label3", QStringLiteral("Select Outlook PST File"),
                     TwipsRect(240, 1080, 2250, 195));
  Label3->setFont(PointFont(verdana, 8.25, true));
  OptDefaultPST = Place(new QRadioButton(QStringLiteral("Default Outlook Contacts"), client),
                        "OptDefaultPST", TwipsRect(240, 1320, 2175, 255));
  OptSelectPST = Place(new QRadioButton(QStringLiteral("Select Other Outlook File"), client),
                       "OptSelectPST", TwipsRect(2640, 1320, 2895, 255));

  Line1 = Place(new QWidget(client), "Line1",
                QRect(TwipsToPixels(240), TwipsToPixels(1680), TwipsToPixels(10440 - 240), 1));
  QPalette grey = Line1->palette();
  grey.setColor(QPalette::Window, QColor(192, 192, 192));
  Line1->setPalette(grey);
  Line1->setAutoFillBackground(true);

  txtNotesDatabaseFile =
      Place(new QLineEdit(client), "txtNotesDatabaseFile", TwipsRect(240, 1800, 4575, 375));
  txtNotesDatabaseFile->setReadOnly(true);
  txtNotesDatabaseFile->setAccessibleName(QStringLiteral("Outlook data file"));
  txtNotesDatabaseFile->setEnabled(false);
  CmdBrowse = Place(new QPushButton(QStringLiteral("&Browse..."), client), "CmdBrowse",
                    TwipsRect(5040, 1800, 1335, 375));
  CmdBrowse->setEnabled(false);
  CmdEnumerateNotes = Place(new QPushButton(QStringLiteral("Scan &Outlook Contacts"), client),
                            "CmdEnumerateNotes", TwipsRect(6600, 1800, 1815, 375));
  CmdEnumerateNotes->setEnabled(false);
  CmdContactsCreate = Place(new QPushButton(QStringLiteral("&Save Contacts"), client),
                            "CmdContactsCreate", TwipsRect(8640, 1800, 1815, 375));
  CmdContactsCreate->setEnabled(false);

  LblRead = MakeLabel(client, "LblRead", QStringLiteral("Reading Outlook Contacts"),
                      TwipsRect(240, 2400, 2295, 255));
  LblRead->hide();
  ProgBarScanNotes =
      Place(new QProgressBar(client), "ProgBarScanNotes", TwipsRect(2400, 2400, 8055, 300));
  ProgBarScanNotes->setRange(0, 100);
  ProgBarScanNotes->setValue(0);
  ProgBarScanNotes->setTextVisible(false);
  ProgBarScanNotes->setAccessibleName(QStringLiteral("Reading Outlook contacts"));
  ProgBarScanNotes->hide();

  QFont bold = client->font();
  bold.setBold(true);
  LblTotalContactsHead =
      MakeLabel(client, "LblTotalContactsHead", QStringLiteral("Number of Contacts Found :"),
                TwipsRect(240, 2880, 2175, 255));
  LblTotalContactsHead->hide();
  LblTotalContacts =
      MakeLabel(client, "LblTotalContacts", QString(), TwipsRect(2400, 2880, 2415, 255));
  LblTotalContacts->setFont(bold);
  LblCurrentContactHead =
      MakeLabel(client, "LblCurrentContactHead", QStringLiteral("Current Contact :"),
                TwipsRect(5160, 2880, 1455, 255));
  LblCurrentContactHead->hide();
  LblCurrentContact =
      MakeLabel(client, "LblCurrentContact", QString(), TwipsRect(6600, 2880, 2655, 255));
  LblCurrentContact->setFont(bold);

  for (QWidget* caption :
       std::initializer_list<QWidget*>{Label4, Label1, Label2, Label3, OptDefaultPST, OptSelectPST,
                                       LblRead, LblTotalContactsHead, LblCurrentContactHead})
    FitWidth(caption);

  connect(OptDefaultPST, &QRadioButton::toggled, this, [this](bool on) {
    if (on) OptDefaultPST_Click();
  });
  connect(OptSelectPST, &QRadioButton::toggled, this, [this](bool on) {
    if (on) OptSelectPST_Click();
  });
  connect(txtNotesDatabaseFile, &QLineEdit::textChanged, this,
          [this] { txtNotesDatabaseFile_Change(); });
  connect(CmdBrowse, &QPushButton::clicked, this, [this] { CmdBrowse_Click(); });
  connect(CmdEnumerateNotes, &QPushButton::clicked, this, [this] { CmdEnumerateNotes_Click(); });
  connect(CmdContactsCreate, &QPushButton::clicked, this, [this] { CmdContactsCreate_Click(); });
}

void FrmMain::BuildStatusBar(QWidget* client) {
  // Laid out in the client area like the other controls, so that the short window of the start
  // leaves it out of view.
  StatusBar1 = Place(new QStatusBar(client), "StatusBar1", TwipsRect(0, 3255, 10710, 375));
  StatusBar1->setSizeGripEnabled(false);  // the window has a fixed size
  auto panel = [this](const QString& text, const QString& tip, int width) {
    auto* label = new QLabel(text, StatusBar1);
    label->setToolTip(tip);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setContentsMargins(4, 0, 4, 0);
    if (width > 0) label->setFixedWidth(width);
    StatusBar1->addWidget(label, width > 0 ? 0 : 1);
    return label;
  };
  QLabel* company =
      panel(QStringLiteral("Quorvane Software"), QStringLiteral("Quorvane Software"), 180);
  company->setObjectName(QStringLiteral("StatusBar1Panel1"));
  QFont bold = company->font();
  bold.setBold(true);
  company->setFont(bold);
  panel(QString::fromLatin1(Module1::kWebsite), QStringLiteral("Visit Official Website"), 0)
      ->setObjectName(QStringLiteral("StatusBar1Panel2"));
}

void FrmMain::Form_Load() {
  Module1::ContactCounter = 1;
  SetOuterHeight(kLoadHeight);
}

void FrmMain::OptDefaultPST_Click() {
  CmdBrowse->setEnabled(false);
  CmdEnumerateNotes->setEnabled(true);
  txtNotesDatabaseFile->setEnabled(false);
  mnuOpen->setEnabled(false);
}

void FrmMain::OptSelectPST_Click() {
  CmdBrowse->setEnabled(true);
  mnuOpen->setEnabled(true);
  txtNotesDatabaseFile->setEnabled(true);
  CmdEnumerateNotes->setEnabled(false);
  txtNotesDatabaseFile->clear();
}

void FrmMain::txtNotesDatabaseFile_Change() {
  CmdEnumerateNotes->setEnabled(!txtNotesDatabaseFile->text().isEmpty());
}

void FrmMain::CmdBrowse_Click() {
  // Offline stores (.ost) are personal-folder files too; both open the same way.
  StoreFileChosen(
      CurrentDialogs().OpenFile(this, QStringLiteral("Outlook PST File (*.pst *.ost)")));
}

void FrmMain::OpenStoreFile(const QString& path) {
  OptSelectPST->setChecked(true);
  StoreFileChosen(QFileInfo(path).absoluteFilePath());
}

void FrmMain::StoreFileChosen(const QString& name) {
  CmdContactsCreate->setEnabled(false);
  txtNotesDatabaseFile->setText(name);
  if (!name.isEmpty()) {
    CmdEnumerateNotes->setEnabled(true);
    mnuScan->setEnabled(true);
    LblRead->show();
    ProgBarScanNotes->show();
  }
}

void FrmMain::CmdEnumerateNotes_Click() {
  const ScanResult result = ScanContactsFolder(*this);
  if (result.status != ScanResult::kBusy) lastScan_ = result;
  if (result.status != ScanResult::kCounted) return;
  // After the box, as the conversion tells it after its own: a damaged store, so that a folder
  // shown empty or short is not taken for all the file holds.
  const QString damage = ScanDamageText(result.contacts, result.damage);
  if (!damage.isEmpty())
    CurrentDialogs().Message(this, damage, QStringLiteral("Damaged Store"), 48);
  // The box counts to 32766; a folder holding more is told after it how many it holds.
  if (result.contacts == 0) return;
  const Notice notice = ScanNotice(result.entries, Module1::ContactCounter - 1);
  if (!notice.text.isEmpty() &&
      CurrentDialogs().Notice(this, notice.text, notice.title, kOtherAddressBooks))
    mnuExport_Click();
}

void FrmMain::CmdContactsCreate_Click() {
  // With "Select Other Outlook File" the run exports the folder the last scan picked. When the
  // file box no longer names that file (emptied by choosing the option again, or edited), that
  // would export a store the window does not show: the user is asked to scan first.
  if (OptSelectPST->isChecked() && !ShowsScannedFile()) {
    ShowMessage(QStringLiteral("Scan the Outlook file named in the box first: the contacts of "
                               "a file are saved after it has been scanned."),
                QStringLiteral("Scan Outlook Contacts"), 48);
    return;
  }
  if (!conversion_) {
    conversion_ = new FrmConversion(
        this,
        [this] {
          return SourceOptions{OptDefaultPST->isChecked(), OptSelectPST->isChecked()};
        },
        [this] { CmdContactsCreate->setEnabled(true); });
    // A notice after a run may offer this export: it opens once the window has closed.
    conversion_->SetOtherAddressBooks([this] {
      QMetaObject::invokeMethod(
          this, [this] { mnuExport_Click(); }, Qt::QueuedConnection);
    });
    // Closed without a run, the window goes away; the next click makes a fresh one.
    connect(conversion_, &QDialog::rejected, this, [this] { conversion_ = nullptr; });
  }
  for (QRadioButton* option : {conversion_->OptExcel, conversion_->OptvCardComplete,
                               conversion_->OptvCardEach, conversion_->OptWAB}) {
    const bool exclusive = option->autoExclusive();
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(exclusive);
  }
  conversion_->LblSaveProgress->clear();
  conversion_->ProgBarSave->setValue(0);
  conversion_->exec();
}

bool FrmMain::ShowsScannedFile() const {
  const QString shown = txtNotesDatabaseFile->text();
  if (shown.isEmpty() || Module1::FilePath.isEmpty()) return false;
  if (!Module1::PickedFolder && Module1::PickedFolderPath.isEmpty()) return false;
  return QFileInfo(shown).absoluteFilePath() == QFileInfo(Module1::FilePath).absoluteFilePath();
}

void FrmMain::mnuOpen_Click() {
  CmdBrowse_Click();
}
void FrmMain::mnuScan_Click() {
  CmdEnumerateNotes_Click();
}
void FrmMain::mnuSave_Click() {
  CmdContactsCreate_Click();
}

void FrmMain::mnuExport_Click() {
  // The source is the one the conversion window would read: the main window's choice, with the
  // store file and folder the last scan of another file kept.
  ExportSource source;
  QString nothing;  // what to do first, when nothing can be exported yet
  source.otherStore = OptSelectPST->isChecked();
  if (source.otherStore) {
    source.storeFile = Module1::FilePath;
    source.folderPath = Module1::PickedFolderPath;
    if (!ShowsScannedFile())
      nothing = QStringLiteral(
          "No Outlook file has been scanned for \"Select Other Outlook File\" yet. Close this "
          "window, click \"Browse...\" to choose the file and \"Scan Outlook Contacts\" to "
          "pick its contacts folder, then open this window again.");
  } else {
    try {
      source.storeFile = DefaultStorePath();
    } catch (const StoreError& error) {
      nothing = QStringLiteral("%1.\n\nClose this window and scan a file first.")
                    .arg(QString::fromUtf8(error.what()));
    }
  }
  // Modal over the main window: while the export's worker reads the store, no scan or
  // conversion can start on this thread.
  ExportDialog dialog(this, source);
  if (review_) {
    // The review chooses the stores itself: it opens over the dialog as soon as that shows.
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.CmdReview_Click(); });
  } else if (!nothing.isEmpty()) {
    dialog.ShowNothingToExport(nothing);
  }
  export_ = &dialog;
  dialog.exec();
  export_ = nullptr;
}

void FrmMain::mnuReview_Click() {
  review_ = true;
  mnuExport_Click();
  review_ = false;
}

void FrmMain::mnuExit_Click() {
  close();
}

void FrmMain::mnuContent_Click() {
  const QString index = HelpIndex();
  if (!QFileInfo::exists(index)) {
    ShowMessage(QStringLiteral("The help pages were not found at %1.\nReinstall Lumivex, or read "
                               "them on %2.")
                    .arg(index, QString::fromLatin1(Module1::kWebsite)),
                QStringLiteral("Lumivex Help"), 48);
    return;
  }
  Module1::OpenUrl(QUrl::fromLocalFile(index).toString());
}

void FrmMain::mnuWebsite_Click() {
  Module1::OpenUrl(QString::fromLatin1(Module1::kWebsite));
}

void FrmMain::mnuAbout_Click() {
  AboutFrm about(this);
  about.exec();
}

QString FrmMain::HelpIndex() {
  const QString& path = HelpIndexSlot();
  return path.isEmpty() ? DataDir() + QStringLiteral("/help/index.html") : path;
}

void FrmMain::SetHelpIndex(const QString& path) {
  HelpIndexSlot() = path;
}

void FrmMain::closeEvent(QCloseEvent* event) {
  Unload();
  event->accept();
}

void FrmMain::Unload() {
  // The program ends with its main window: a scan in progress stops at its next step, the
  // conversion window (hidden after a run) goes too, and the event loop is told to end.
  closing_ = true;
  delete conversion_.data();
  QCoreApplication::exit(0);
}

// ScanView: the scan reads and sets the window through these.

bool FrmMain::DefaultStoreChosen() const {
  return OptDefaultPST->isChecked();
}
bool FrmMain::OtherStoreChosen() const {
  return OptSelectPST->isChecked();
}
QString FrmMain::StoreFileText() const {
  return txtNotesDatabaseFile->text();
}

void FrmMain::ShowCountLabels() {
  LblTotalContactsHead->show();
  LblCurrentContactHead->show();
  LblTotalContacts->show();
  LblCurrentContact->show();
}

void FrmMain::SetOuterHeight(int twips) {
  outerHeight_ = twips;
  const int client = std::clamp(twips - kClassicNonClient, 0, kClientHeight);
  setFixedSize(TwipsToPixels(kClientWidth), menuBar()->sizeHint().height() + TwipsToPixels(client));
}

void FrmMain::SetReadingShown(bool shown) {
  LblRead->setVisible(shown);
  ProgBarScanNotes->setVisible(shown);
}

void FrmMain::SetProgressRange(int minimum, int maximum) {
  ProgBarScanNotes->setRange(minimum, maximum);
}
void FrmMain::SetProgressValue(int value) {
  ProgBarScanNotes->setValue(value);
}
void FrmMain::SetTotalContacts(const QString& text) {
  LblTotalContacts->setText(text);
}
void FrmMain::SetCurrentContact(const QString& text) {
  LblCurrentContact->setText(text);
}
void FrmMain::SetContactsCreateEnabled(bool enabled) {
  CmdContactsCreate->setEnabled(enabled);
}
void FrmMain::SetEnumerateEnabled(bool enabled) {
  CmdEnumerateNotes->setEnabled(enabled);
}
void FrmMain::EnableSaveMenu() {
  mnuSave->setEnabled(true);
  mnuExport->setEnabled(true);
}

void FrmMain::ShowMessage(const QString& text, const QString& title, int style) {
  CurrentDialogs().Message(this, text, title, style);
}

void FrmMain::Yield() {
  // The scan yields once per entry, thousands of times a second on a large folder. Pending
  // events (repaints, clicks) are handled at most every 15 ms: the labels and the bar still move
  // smoothly and a click is answered at once, but the window is not drawn anew for each entry.
  constexpr qint64 kRepaintMs = 15;
  if (lastYield_.isValid() && !lastYield_.hasExpired(kRepaintMs)) return;
  QCoreApplication::processEvents();
  lastYield_.start();
}

}  // namespace lumivex
