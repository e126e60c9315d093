// The main window: the choice of contact source, the scan, the way to the conversion window, and
// the Help menu. It stays up for the whole run of the program; closing it ends the program.
#pragma once

#include "source/Scan.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;

namespace lumivex {

class ExportDialog;
class FrmConversion;

class FrmMain : public QMainWindow, private ScanView {
  Q_OBJECT

 public:
  explicit FrmMain(QWidget* parent = nullptr);
  ~FrmMain() override;

  // Controls, top to bottom.
  QWidget* Picture1;
  QLabel* Image2;
  QLabel* Label4;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Image1;
  QLabel* Label3;
  QRadioButton* OptDefaultPST;
  QRadioButton* OptSelectPST;
  QWidget* Line1;
  QLineEdit* txtNotesDatabaseFile;
  QPushButton* CmdBrowse;
  QPushButton* CmdEnumerateNotes;
  QPushButton* CmdContactsCreate;
  QLabel* LblRead;
  QProgressBar* ProgBarScanNotes;
  QLabel* LblTotalContactsHead;
  QLabel* LblTotalContacts;
  QLabel* LblCurrentContactHead;
  QLabel* LblCurrentContact;
  QStatusBar* StatusBar1;

  // Menus.
  QMenu* mnuFile;
  QAction* mnuOpen;
  QAction* mnuScan;
  QAction* mnuSave;
  QAction* mnuExport;  // "Export for Other Address Books...", enabled with mnuSave
  // "Review and Merge Several Stores...": the export dialog with its review opened at once;
  // always enabled (the review chooses its stores).
  QAction* mnuReview;
  QAction* mnuSep1;
  QAction* mnuExit;
  QMenu* mnuHelp;
  QAction* mnuContent;
  QAction* mnuWebsite;
  QAction* mnuAbout;

  // Event handlers.
  void Form_Load();
  void OptDefaultPST_Click();
  void OptSelectPST_Click();
  void txtNotesDatabaseFile_Change();
  void CmdBrowse_Click();
  void CmdEnumerateNotes_Click();
  void CmdContactsCreate_Click();
  void mnuOpen_Click();
  void mnuScan_Click();
  void mnuSave_Click();
  void mnuExport_Click();
  void mnuReview_Click();
  void mnuExit_Click();
  void mnuContent_Click();
  void mnuWebsite_Click();
  void mnuAbout_Click();

  // Starts as if the user had chosen "Select Other Outlook File" and browsed to `path` (a file
  // named on the command line, e.g. by the file manager's "Open with"); relative paths are taken
  // from the current folder.
  void OpenStoreFile(const QString& path);

  // The outcome of the last scan.
  const ScanResult& LastScan() const { return lastScan_; }
  // The window's outer height in twips, as last set (3540 before the first scan, 4410 after).
  int OuterHeight() const { return outerHeight_; }
  // The conversion window while it is loaded (hidden after a run), else null.
  FrmConversion* ConversionWindow() const;
  // The export dialog while it is shown, else null.
  ExportDialog* ExportWindow() const;

  // The help pages: help/index.html in the data folder (DataDir()) unless a test has put another
  // in place.
  static QString HelpIndex();
  static void SetHelpIndex(const QString& path);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // ScanView.
  bool DefaultStoreChosen() const override;
  bool OtherStoreChosen() const override;
  QString StoreFileText() const override;
  void ShowCountLabels() override;
  void SetOuterHeight(int twips) override;
  void SetReadingShown(bool shown) override;
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressValue(int value) override;
  void SetTotalContacts(const QString& text) override;
  void SetCurrentContact(const QString& text) override;
  void SetContactsCreateEnabled(bool enabled) override;
  void SetEnumerateEnabled(bool enabled) override;
  void EnableSaveMenu() override;
  void ShowMessage(const QString& text, const QString& title, int style) override;
  void Yield() override;
  bool Abandoned() const override { return closing_; }

  // A store file was chosen (empty: the choice was cancelled): it goes into the path box and
  // the scan becomes available.
  void StoreFileChosen(const QString& name);
  // True when the file box names the file whose folder the last scan picked.
  bool ShowsScannedFile() const;
  void BuildControls(QWidget* client);
  void BuildMenus();
  void BuildStatusBar(QWidget* client);
  void Unload();

  ScanResult lastScan_;
  int outerHeight_ = 0;
  bool closing_ = false;
  QElapsedTimer lastYield_;
  QPointer<FrmConversion> conversion_;
  QPointer<ExportDialog> export_;
  bool review_ = false;  // mnuExport_Click opens the review at once
};

}  // namespace lumivex
