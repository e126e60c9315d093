// The conversion run: asks for the target folder, opens the mail session, takes the contacts
// folder and its entries, sets up the progress display and hands over to the writer of the chosen
// form. The conversion window and the command line both drive it through ConversionView.
#pragma once

#include "source/MailStore.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>

namespace lumivex {

// What the run needs of the window that shows it (FrmConversion, or the command line's console).
// The progress label of entry `n` of `count`: "Saving Contacts n/count".
QString ProgressLabel(int n, int count);

class ConversionView {
 public:
  virtual ~ConversionView() = default;
  // ProgBarSave.
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  virtual void SetProgressValue(int value) = 0;
  // LblSaveProgress. The run does not return to the event loop: a window repaints at once.
  virtual void SetProgressLabel(const QString& text) = 0;
  // The label of entry `n` of `count` ("Saving Contacts n/count", ProgressLabel). Made and set at
  // once here; a view that shows it only now and then (the window paints a few times a second)
  // or not at all keeps the numbers and makes the text only when it shows it.
  virtual void SetProgressCount(int n, int count) { SetProgressLabel(ProgressLabel(n, count)); }
  // The entries visited so far, counted in full: the label's counter stops at 32767, and a view
  // that shows the true count (the command line) takes it from here. Told before the entry's
  // progress value and label.
  virtual void EntriesVisited(int visited) { (void)visited; }
  // Asked by the per-contact form after each entry: true ends its loop there and goes on to the
  // completion step (the command line, once files keep failing). The window never stops.
  virtual bool StopRequested() const { return false; }
  // Enables CmdConversion and the main window's CmdContactsCreate.
  virtual void EnableButtons() = 0;
  // A message box with one OK button; style 64 information, 48 exclamation, 16 critical.
  virtual void ShowMessage(const QString& text, const QString& title, int style) = 0;
  // Hides FrmConversion.
  virtual void Hide() = 0;
  // A writer has finished an output file (each file of the per-contact form, the single file).
  virtual void OutputWritten(const QString& path) { (void)path; }
  // A writer could not write an output file whole (the disk is full, the folder refuses it);
  // `reason` says why. The run still goes on to its completion step.
  virtual void OutputFailed(const QString& path, const QString& reason) {
    (void)path;
    (void)reason;
  }
  // An entry of `folder` (its path) could not be read whole: a read of it failed, so the writer
  // kept the values of the entry before it or left it out. `position` is 1-based in the
  // folder's order; `reason` says why. Told once per entry; the run goes on as it always does.
  virtual void EntryUnreadable(const QString& folder, int position, const QString& reason) {
    (void)folder;
    (void)position;
    (void)reason;
  }
  // An entry of `folder` could be read, but the store lost a part of it (ContactEntry::Damage):
  // `reason` says what. Told once per entry, once the writer is done with it, and not for an
  // entry told unreadable.
  virtual void EntryDamaged(const QString& folder, int position, const QString& reason) {
    (void)folder;
    (void)position;
    (void)reason;
  }
};

// The four option buttons of the conversion window; the run reads each one by itself.
struct OutputOptions {
  bool vCardComplete = false;  // OptvCardComplete
  bool vCardEach = false;      // OptvCardEach
  bool wab = false;            // OptWAB
  bool excel = false;          // OptExcel
};

// The main window's source choice.
struct SourceOptions {
  bool defaultStore = false;  // OptDefaultPST
  bool selectStore = false;   // OptSelectPST
};

// A failure before a writer's loop that stops the run: the file cannot be created, the
// address-book component cannot open its file. what() says what failed and where.
class ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a run's files could not hold as the store has it, counted entry by entry.
struct TextLosses {
  int names = 0;       // entries whose name the code page cannot hold ("?" in its place)
  int notes = 0;       // entries whose note the code page cannot hold
  int splitNotes = 0;  // vCard 2.1 cards whose note of several lines breaks the card
  int others = 0;      // entries with another value the code page cannot hold
  // vCard 2.1 cards another value of which breaks them: a line break in any, or a ";" in a part
  // of the name, company or an address, which moves the parts after it or cuts them off
  int brokenValues = 0;
  int longTexts = 0;  // worksheet rows with a cell left out: its text is longer than a cell holds
  bool operator==(const TextLosses&) const = default;
};

// The state of one run as a writer sees it.
class RunContext {
 public:
  // The writers see `items` through a layer that tells the view of every entry with a failed
  // read (ConversionView::EntryUnreadable).
  RunContext(QString target, std::shared_ptr<Folder> folder, std::shared_ptr<Items> items,
             ConversionView& view);

  const QString& TargetFolder() const { return target_; }  // ends with "/"
  const Items& Entries() const { return *items_; }
  ConversionView& View() const { return view_; }

  // The number of entries a writer's loop walks, taken once when the loop starts. A count that
  // cannot be read leaves nothing to walk, as a failing step inside the loop is skipped.
  int EntryCount() const;

  // The processed-entry counter: a 16-bit number that stops at 32767.
  int16_t counter = 0;
  // The entries visited, counted in full; tells the view (ConversionView::EntriesVisited).
  void Visited(int visited);

  // The time-stamped base name "OutlookContacts-dd-mm-yyyy-hh-mm-ss" of this moment.
  static QString OutputStem(const QDateTime& now = QDateTime::currentDateTime());
  // Sets Module1::OutputPath to the target folder followed by ExtractFileName(name).
  QString SetOutputPath(const QString& name) const;

  // After each entry: counter + 1, the bar's value, "Saving Contacts n/count".
  void ProgressStep();
  // After the loop: buttons enabled, "<n> Contacts Saved Successfully", bar to 0 (unless
  // `resetBar` is false), window hidden.
  void CompletionStep(int contacts, bool resetBar = true);
  // "Saving Contacts " + n + "/" + the folder's count read afresh.
  void ShowProgressLabel(int n) const;

  // Counts what the code page of the run's files cannot hold of one entry's names and note;
  // `inCard`: the note stands on one line of a vCard 2.1 card, which a line break in it splits.
  void CountText(std::initializer_list<QStringView> names, QStringView note, bool inCard);
  // Counts what the code page cannot hold of an entry's other values (those CountText does not
  // see).
  void CountOtherText(std::span<const QStringView> values);
  // Counts a vCard 2.1 card whose values break it: a line break in one of `values` (each stands
  // on a line of its own), or a ";" in one of `parts` (the parts of a name, company or address,
  // which ";" separates).
  void CountBrokenValues(std::span<const QStringView> values, std::span<const QStringView> parts);
  // Counts a worksheet row that a cell was left out of, its text too long for the cell.
  void CountLongText() { ++losses_.longTexts; }
  const TextLosses& Losses() const { return losses_; }
  int CodePage() const { return codePage_; }

  // The entries of which at least one value was read so far: none when every entry the writer
  // walked could not be read at all (a store that changed before the first one was read).
  int EntriesWithValues() const { return *valued_; }

 private:
  QString target_;
  std::shared_ptr<Folder> folder_;
  std::shared_ptr<int> valued_ = std::make_shared<int>(0);
  std::shared_ptr<Items> items_;
  ConversionView& view_;
  TextLosses losses_;
  int codePage_;
  int visited_ = 0;
};

struct RunResult {
  enum Status {
    kCancelled,  // the folder browser was cancelled: nothing opened, written or shown
    kNoOption,   // no form chosen: the session was opened and released, nothing written
    kCompleted,  // a writer ran to its completion step
    kFailed,     // a failure before a writer's loop; `error` says what, the view was told
  };
  Status status = kCancelled;
  QString error;
  int contacts = 0;           // entries visited, as the window's 16-bit counter counts them
  int entries = 0;            // the folder's entries, counted in full (no 16-bit limit)
  QString outputPath;         // the single file written, or the last per-contact file
  int entriesWithValues = 0;  // RunContext::EntriesWithValues at the end of the writer's loop
  QStringList storeDamage;    // Folder::StoreDamage of the folder read, for a completed run
  TextLosses losses;          // what the files could not hold (RunContext::Losses)
  int codePage = 0;           // the Windows code page the files were written in
};

// CmdConversion_Click without the window: the run from the folder browser to the release step.
// Failures before a writer's loop are shown by the view as one message box (style 16, title
// "Conversion Failed") and returned; the window stays usable.
RunResult RunConversion(const SourceOptions& source, const OutputOptions& output,
                        ConversionView& view);

// The writers, each entered with the progress bar already set to 0..count. Each does its own
// per-entry progress and completion steps and may throw ExportError before its loop.
void ExportVCardSingleFile(RunContext& run);
void ExportVCardPerContact(RunContext& run);
void ExportAddressBook(RunContext& run);
void ExportWorksheet(RunContext& run);

}  // namespace lumivex
