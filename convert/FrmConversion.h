// The conversion window: the choice of output form, the start button and the progress of the run.
#pragma once

#include "convert/ConversionRun.h"
#include "convert/RunNotice.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace lumivex {

class FrmConversion : public QDialog, public ConversionView {
  Q_OBJECT

 public:
  // `source` gives the main window's choice of source when a run starts; `enableContactsCreate`
  // enables the main window's CmdContactsCreate at the end of a run.
  FrmConversion(QWidget* owner, std::function<SourceOptions()> source,
                std::function<void()> enableContactsCreate);

  QRadioButton* OptvCardComplete;
  QRadioButton* OptvCardEach;
  QRadioButton* OptExcel;
  QRadioButton* OptWAB;
  QLabel* LblSaveProgress;
  QProgressBar* ProgBarSave;
  QPushButton* CmdConversion;

  // The conversion run.
  void CmdConversion_Click();
  void OptvCardComplete_Click();
  void OptvCardEach_Click();
  void OptExcel_Click();
  void OptWAB_Click();

  // What the last run ended with (for the main window and tests).
  const RunResult& LastRun() const { return lastRun_; }
  // Opens the export for other address books, when a notice after a run offers it and the user
  // takes it. Called once the run has ended.
  void SetOtherAddressBooks(std::function<void()> open) { otherAddressBooks_ = std::move(open); }

  // ConversionView: the run does not return to the event loop, so changes are painted at once,
  // at most every kProgressPaintMs; each time the window system's events other than input are
  // handled too, so that the window stays answering while clicks and keys wait.
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressValue(int value) override;
  void SetProgressLabel(const QString& text) override;
  // The numbers are kept; the text is made only when it is painted.
  void SetProgressCount(int n, int count) override;
  void EnableButtons() override;
  void ShowMessage(const QString& text, const QString& title, int style) override;
  void Hide() override;
  // The files of a run, for the notice after its completion box.
  void OutputWritten(const QString& path) override;
  void OutputFailed(const QString& path, const QString& reason) override;
  // The entries of a run that could not be read whole, for the same notice.
  void EntryUnreadable(const QString& folder, int position, const QString& reason) override;
  void EntryDamaged(const QString& folder, int position, const QString& reason) override;

 public slots:
  // Closing the window without a run destroys it; the next showing creates it anew.
  void reject() override;

 private:
  // Progress is shown at most this often: 20 times a second.
  static constexpr qint64 kProgressPaintMs = 50;
  // Shows the newest progress value and text when kProgressPaintMs have passed since the last
  // time, and paints them; `now`: shows them at once, to be painted with the next events.
  void ShowProgress(bool now);
  // Other windows are painted at most this often while a run works: once a second.
  static constexpr qint64 kOtherWindowsPaintMs = 1000;
  // Paints every visible window, the ones under this one too.
  void RepaintOtherWindows();

  std::function<SourceOptions()> source_;
  std::function<void()> enableContactsCreate_;
  std::function<void()> otherAddressBooks_;
  RunFiles files_;      // what the run under way wrote and could not write
  RunEntries entries_;  // and the entries it could not read whole
  bool running_ = false;
  RunResult lastRun_;
  int64_t shownMs_ = -1;        // when progress was last shown, on the coarse monotonic clock
  int64_t otherWindowsMs_ = 0;  // when the other windows were last painted
  std::optional<int> pendingValue_;
  QString pendingLabel_;
  std::optional<std::pair<int, int>> pendingCount_;  // n and count of a label not yet made
  bool labelPending_ = false;
};

}  // namespace lumivex
