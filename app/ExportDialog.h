// The dialog behind File > "Export for Other Address Books...": writes the scanned folder (or every
// contact folder of its store) as vCard 4.0, vCard 3.0 or CSV for the address books of other
// programs. The export runs on a worker thread while the dialog shows its progress and offers
// Cancel; the end says how many contacts and lists went where, and what could not be read.
#pragma once

#include "app/Worker.h"
#include "convert/Utf8Export.h"

#include <QColor>
#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

class QVBoxLayout;

namespace lumivex {

// Where the contacts come from: the source the main window's last scan read.
struct ExportSource {
  bool otherStore = false;  // a store file picked by the user, else the default store
  QString storeFile;        // that file, or the default store's file
  QString folderPath;       // the folder the scan picked in `storeFile` (other store only)
};

// The colour for error text on a background of `window`: dark red on a light background, a
// light red on a dark one.
QColor ErrorTextColour(const QColor& window);

class ExportDialog : public QDialog {
  Q_OBJECT

 public:
  ExportDialog(QWidget* owner, ExportSource source);
  // Stops a running export and waits for its thread before the dialog goes.
  ~ExportDialog() override;

  // The form.
  QRadioButton* OptVCard4;
  QRadioButton* OptVCard3;
  QRadioButton* OptCsv;
  // One file, or one file per contact (vCard forms only).
  QRadioButton* OptOneFile;
  QRadioButton* OptPerContact;
  // Every contact folder of the store instead of the scanned folder.
  QCheckBox* ChkAllFolders;
  // The entries of one person become one contact, as the command line's export and the send
  // do; off, every entry is written as it is.
  QCheckBox* ChkMerge;
  // Opens the review (app/ReviewWindow.h): several stores, the contacts to tick, duplicates
  // merged; the export then writes what was ticked there.
  QPushButton* CmdReview;
  QLabel* LblSource;
  QProgressBar* ProgBarExport;
  QLabel* LblProgress;
  QLabel* LblResult;
  QPushButton* CmdOpenFolder;
  QPushButton* CmdExport;
  // Sends the same contacts into an address book instead (app/SendPanel.h).
  QPushButton* CmdSendTo;
  QPushButton* CmdCancel;
  QPushButton* CmdClose;

  // Asks for the target and starts the export on its worker thread; nothing happens when the
  // user cancels the file or folder dialog.
  void CmdExport_Click();
  // Asks the running export to stop after the entry it is writing.
  void CmdCancel_Click();
  void CmdOpenFolder_Click();
  // There is nothing to export yet: shows `whatToDo` in place of the source and offers nothing
  // that would fail, only Close.
  void ShowNothingToExport(const QString& whatToDo);
  void CmdReview_Click();

  bool Running() const { return worker_.Running(); }
  bool CancelRequested() const { return worker_.CancelRequested(); }
  // How the last export ended: its result, or the error that stopped it (empty when none).
  const Utf8ExportResult& LastResult() const { return lastResult_; }
  const QString& LastError() const { return lastError_; }

  // Called on the worker thread after each entry with the number of entries done; tests use it
  // to hold the worker at a known point. Empty by default.
  using EntryHook = std::function<void(int done)>;
  static void SetEntryHook(EntryHook hook);

 signals:
  // The export has ended (completed, cancelled or failed) and the dialog shows how.
  void Finished();

 public slots:
  // Escape or the close box while an export runs cancels it: the dialog stays up to say what was
  // written and what was not, and closes at the next Escape or Close.
  void reject() override;

 private:
  // The parts of the window, made by the constructor from the top down.
  void AddSourceBox(QVBoxLayout* layout);
  void AddFormBoxes(QVBoxLayout* layout);
  void AddProgress(QVBoxLayout* layout);
  void AddButtons(QVBoxLayout* layout);
  struct Job;

  void UpdateOptions();
  void SetRunning(bool running);
  void ShowProgress(int done, int total, const QString& folder);
  void OnWorkerDone();
  // `leftOut`: the folders "All contact folders" left out, named for the result.
  void ShowOutcome(int folders, const QStringList& leftOut);
  void ShowError(const QString& text);
  // Shows `text` under the progress line and lets the dialog grow to the height it needs.
  void ShowResult(const QString& text, bool error);

  ExportSource source_;
  Worker worker_{this, QStringLiteral("ExportWorker")};
  std::shared_ptr<Job> job_;
  Utf8ExportResult lastResult_;
  QString lastError_;
  QString openFolder_;
  // The contacts ticked in the review, when one was made; else the dialog's own source.
  std::function<std::unique_ptr<contact::ContactStream>()> reviewed_;
  int lastTotal_ = 0;
  int lastDone_ = 0;
};

}  // namespace lumivex
