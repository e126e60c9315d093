// lumivex-cli export --format vcard|vcards|xls|wab: the same files as the conversion window, in
// a Windows code page, through the same run.
#include "cli/ConsoleProgress.h"
#include "cli/DamageLog.h"
#include "cli/Export.h"
#include "cli/Verbs.h"
#include "common/CodePage.h"
#include "common/Module1.h"
#include "convert/ConversionRun.h"
#include "convert/RunNotice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace lumivex::cli {

namespace {

// The run's window on the command line: progress on stderr when it is a terminal, the files
// written on stdout as they are finished, the completion text kept for the end.
class ConsoleView : public ConversionView {
 public:
  // `fileByFile`: a file is written for each contact as the run goes, not one at its end.
  ConsoleView(bool listFiles, bool fileByFile) : listFiles_(listFiles), fileByFile_(fileByFile) {}

  void SetProgressRange(int, int maximum) override { total_ = maximum; }
  void SetProgressValue(int value) override {
    value_ = value;
    // One file per contact: each entry is read before its step is counted, so an entry counted
    // without being reported unreadable had its values read. The files written are then kept
    // whatever follows, and their paths are no longer needed.
    if (fileByFile_ && keepWritten_ && value_ > unreadable.size()) {
      keepWritten_ = false;
      written = QStringList();
    }
  }
  // The window's counter stops at 32767: the line shows the entries visited in full.
  void EntriesVisited(int visited) override { visited_ = visited; }
  void SetProgressCount(int n, int count) override {
    // A terminal shows it.
    if (progress.Enabled()) SetProgressLabel(ProgressLabel(std::max(n, visited_), count));
  }
  void SetProgressLabel(const QString& text) override {
    progress.Show(text, std::max(value_, visited_) >= total_);
  }
  // A file for each contact that keeps failing (a full disk, a folder that refuses files) will
  // fail for every contact after it too: the run stops after kStopAfter in a row.
  bool StopRequested() const override { return failedInRow_ >= kStopAfter; }
  void EnableButtons() override {}
  void ShowMessage(const QString& text, const QString&, int style) override {
    if (style == 64) completion = text;
  }
  void Hide() override { progress.End(); }
  void OutputWritten(const QString& path) override {
    ++filesWritten;
    failedInRow_ = 0;
    if (keepWritten_) written << path;
    if (!listFiles_) return;
    progress.Above();
    std::printf("%s\n", qPrintable(path));
    if (fileByFile_)
      progress.Below();
    else
      progress.Drop();
  }
  void OutputFailed(const QString& path, const QString& reason) override {
    if (filesFailed++ == 0) {
      firstFailure = QStringLiteral("%1 (%2)").arg(path, reason);
      firstReason = reason;
    }
    ++failedInRow_;
    lastReason = reason;
    // Told before the entry's progress step: the entry is the one after the last counted.
    fileFailures
        << QStringLiteral("entry %1 got no file: %2 (%3)").arg(value_ + 1).arg(path, reason);
  }
  void EntryUnreadable(const QString& folder, int position, const QString& reason) override {
    unreadable << QStringLiteral("entry %1 of \"%2\" cannot be read: %3")
                      .arg(position)
                      .arg(folder, reason);
    reasons << reason;
  }

  void EntryDamaged(const QString& folder, int position, const QString& reason) override {
    damaged
        << QStringLiteral("entry %1 of \"%2\" is not whole: %3").arg(position).arg(folder, reason);
    damageReasons << reason;
  }

  ConsoleProgress progress;
  QString completion;
  int filesWritten = 0;
  // The files written, in order, while no entry has been read: were none readable, they would
  // hold blank cards and be removed again. Not kept beyond (a million paths take 200 MB).
  QStringList written;
  int filesFailed = 0;
  QString firstFailure;       // the first file that could not be written, and why
  QString firstReason;        // why it could not
  QStringList fileFailures;   // each contact that got no file of its own
  QStringList unreadable;     // each entry that could not be read whole
  QStringList damaged;        // each entry read, of which the store lost a part
  QStringList reasons;        // why each of `unreadable` could not be read
  QStringList damageReasons;  // what the store lost of each of `damaged`
  QString lastReason;         // why the last file that failed could not be written
  static constexpr int kStopAfter = 10;

 private:
  bool listFiles_;
  bool fileByFile_;
  bool keepWritten_ = true;
  int total_ = 0;
  int value_ = 0;
  int visited_ = 0;
  int failedInRow_ = 0;
};

const QString kFreeSpace =
    QStringLiteral("free some disk space or choose another folder for --out");

// What to do about a file that could not be written for `reason`: room is made only where the
// disk is full; a name taken by a folder, a folder refusing files, need another folder.
QString Advice(const QString& reason) {
  return ClassifyWriteFailure(reason) == WriteFailure::kDiskFull
             ? kFreeSpace
             : QStringLiteral("choose another folder for --out");
}

// Work that ran to its end but is not whole, listed entry by entry and summed up; empty when
// the export is whole. The completion text of the desktop program would claim a success that
// this is not.
QStringList Shortfalls(const ConsoleView& view, const OutputOptions& output, const Folder& folder,
                       const QString& store, int contacts) {
  QStringList summary;
  // The store's own damage first: what the lines after it say was read under it.
  const QStringList damage = folder.StoreDamage();
  for (const QString& line : damage)
    DamageNotice(kExportVerb, QStringLiteral("%1: %2").arg(store, line));
  if (!damage.isEmpty())
    summary << QStringLiteral(
                   "the store %1 is damaged, so what was read of it may lack values or "
                   "hold wrong ones")
                   .arg(store);
  for (qsizetype i = 0; i < view.unreadable.size(); ++i)
    DamageWarning(kExportVerb, view.unreadable[i], view.reasons[i]);
  for (qsizetype i = 0; i < view.damaged.size(); ++i)
    DamageWarning(kExportVerb, view.damaged[i], view.damageReasons[i]);
  QString missing;
  try {
    missing = folder.MissingEntries();
  } catch (const std::exception&) {
  }
  // The folder's own damage is told after the summed-up kinds of the entries' damage, and goes
  // into the report with them.
  const QString folderDamage =
      missing.isEmpty() ? QString()
                        : QStringLiteral("\"%1\" is damaged: %2").arg(folder.Path(), missing);
  if (!missing.isEmpty()) DamageReported(folderDamage);
  FinishDamage(kExportVerb);
  if (!view.damaged.isEmpty())
    summary << QStringLiteral("%1 of %2 entries were written without a part the store lost")
                   .arg(view.damaged.size())
                   .arg(contacts);
  if (!missing.isEmpty()) {
    Warn(kExportVerb, folderDamage);
    summary << QStringLiteral("entries are missing from the folder's list, so from the export");
  }
  if (!view.unreadable.isEmpty()) {
    const QString consequence =
        output.wab ? QStringLiteral("they are not in the address book")
        : output.excel
            ? QStringLiteral("their rows repeat values of the entry before them or lack them")
            : QStringLiteral("their cards repeat values of the entry before them or lack them");
    summary << QStringLiteral("%1 of %2 entries could not be read (%3)")
                   .arg(view.unreadable.size())
                   .arg(contacts)
                   .arg(consequence);
  }
  if (output.vCardEach && view.filesFailed > 0) {
    for (const QString& line : view.fileFailures) Warn(kExportVerb, line);
    summary << QStringLiteral("%1 of %2 contacts got no file (%3)")
                   .arg(view.filesFailed)
                   .arg(contacts)
                   .arg(Advice(view.firstReason));
  }
  return summary;
}

// The outcome of a run that reached its end.
int Report(const RunResult& result, const ConsoleView& view, const OutputOptions& output,
           const Folder& folder, const QString& store) {
  // The run goes on to its completion whatever a file's writes gave; here a file that is not
  // whole is a failure, not a success.
  if (!output.vCardEach && view.filesFailed > 0)
    return Failure(kExportVerb, QStringLiteral("the contacts could not be written: %1; %2")
                                    .arg(view.firstFailure, Advice(view.firstReason)));
  if (output.vCardEach && view.StopRequested()) {
    // One line for the files that kept failing, rather than one for each contact after them.
    const QString dir = QFileInfo(result.outputPath).absolutePath();
    const int status = Failure(
        kExportVerb, QStringLiteral("stopped after %1 contacts in a row got no file: %2 (%3); "
                                    "%4 of the %5 contacts were written; %6")
                         .arg(ConsoleView::kStopAfter)
                         .arg(WriteProblem(view.lastReason, dir), view.lastReason)
                         .arg(view.filesWritten)
                         .arg(result.entries)
                         .arg(Advice(view.lastReason)));
    return view.filesWritten > 0 ? kExitIncomplete : status;
  }
  if (output.vCardEach && view.filesFailed > 0 && view.filesWritten == 0)
    return Failure(kExportVerb,
                   QStringLiteral("none of the %1 contacts could be written, the first %2; %3")
                       .arg(result.entries)
                       .arg(view.firstFailure, Advice(view.firstReason)));
  // No contact's values were written: every entry could not be read at all (the store changed
  // before the first was read), or, in the address book, which leaves unreadable entries out,
  // every entry was unreadable. Files of blank cards or an empty book are not kept.
  if (result.entries > 0 && !view.unreadable.isEmpty() &&
      (output.wab ? view.unreadable.size() >= result.entries : result.entriesWithValues == 0)) {
    for (qsizetype i = 0; i < view.unreadable.size(); ++i)
      DamageWarning(kExportVerb, view.unreadable[i], view.reasons[i]);
    FinishDamage(kExportVerb);
    for (const QString& path : view.written) QFile::remove(path);
    return Failure(kExportVerb,
                   QStringLiteral("none of the %1 entries could be read (see the lines "
                                  "above); nothing was written")
                       .arg(result.entries));
  }
  // The file's path once it is known to be kept.
  if (!output.vCardEach && !output.vCardComplete && !result.outputPath.isEmpty())
    std::printf("%s\n", qPrintable(result.outputPath));
  QStringList summary = Shortfalls(view, output, folder, store, result.entries);
  // Warnings above name the entries; a worksheet that is only full has none.
  const bool listed = !summary.isEmpty();
  // The worksheet holds as many rows as its 16-bit row counter counts; the contacts beyond them
  // are in no row (kWorksheetContacts).
  if (output.excel && result.entries > kWorksheetContacts)
    summary << QStringLiteral(
                   "the worksheet holds %1 contacts, its most; the other %2 of the folder's %3 "
                   "were left out (--format csv holds them all)")
                   .arg(kWorksheetContacts)
                   .arg(result.entries - kWorksheetContacts)
                   .arg(result.entries);
  // Letters the code page cannot hold, and notes that break vCard 2.1 cards: what the form could
  // not take, told as the window tells it after its completion box, with the form that keeps them;
  // before the summary of a store's damage where there is one.
  const TextLosses& losses = result.losses;
  if (losses.names + losses.notes + losses.others > 0) {
    QStringList what;
    if (losses.names > 0)
      what << QStringLiteral("%1 %2").arg(losses.names).arg(losses.names == 1 ? "name" : "names");
    if (losses.notes > 0)
      what << QStringLiteral("%1 %2").arg(losses.notes).arg(losses.notes == 1 ? "note" : "notes");
    if (losses.others > 0)
      what << QStringLiteral("%1 %2")
                  .arg(losses.others)
                  .arg(losses.others == 1 ? "contact's other values" : "contacts' other values");
    const QString listed = what.size() < 3 ? what.join(QStringLiteral(" and "))
                                           : what[0] + QStringLiteral(", ") + what[1] +
                                                 QStringLiteral(" and ") + what[2];
    const bool one = losses.names + losses.notes == 1 && losses.others == 0;
    Warn(kExportVerb, QStringLiteral("%1 %2 letters that Windows-%3 (the files' character set) "
                                     "cannot hold: each became \"?\"; --format vcard4, vcard3 or "
                                     "csv keeps every letter")
                          .arg(listed, one ? QStringLiteral("holds") : QStringLiteral("hold"))
                          .arg(result.codePage));
  }
  if (losses.splitNotes > 0)
    Warn(kExportVerb,
         QStringLiteral("%1 of more than one line, which vCard 2.1 cards take on one line: address "
                        "books may cut the notes short or leave the cards out; --format vcard4 or "
                        "vcard3 keeps them whole")
             .arg(losses.splitNotes == 1
                      ? QStringLiteral("1 contact has a note")
                      : QStringLiteral("%1 contacts have notes").arg(losses.splitNotes)));
  if (losses.brokenValues > 0)
    Warn(kExportVerb,
         QStringLiteral("%1 a line break in a name, address, company or other value, or a \";\" "
                        "in a part of a name, company or address, which vCard 2.1 cards take on "
                        "one line and split at \";\": address books may put the parts after it "
                        "into other fields or leave them out; --format vcard4 or vcard3 keeps "
                        "them whole")
             .arg(losses.brokenValues == 1
                      ? QStringLiteral("1 contact has")
                      : QStringLiteral("%1 contacts have").arg(losses.brokenValues)));
  if (losses.longTexts > 0)
    Warn(
        kExportVerb,
        QStringLiteral("%1 a text longer than a worksheet cell holds (255 characters; a long note, "
                       "say): that cell was left empty, the rest of the row written; --format "
                       "csv keeps every text whole")
            .arg(losses.longTexts == 1 ? QStringLiteral("1 contact has")
                                       : QStringLiteral("%1 contacts have").arg(losses.longTexts)));
  if (!summary.isEmpty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "lumivex-cli %s: incomplete: %s%s\n", qPrintable(kExportVerb),
                 qPrintable(summary.join(QStringLiteral("; "))),
                 listed ? "; see the lines above" : "");
    return kExitIncomplete;
  }
  // The window's text counts to 32,767; the true number is given here.
  QString completion = view.completion;
  if (completion.endsWith(QStringLiteral(" Contacts Saved Successfully")))
    completion = QString::number(result.entries) + QStringLiteral(" Contacts Saved Successfully");
  std::printf("%s\n", qPrintable(completion));
  return kExitSuccess;
}

}  // namespace

int ExportInCodePage(const ExportRequest& request) {
  OutputOptions output;
  output.vCardComplete = request.format == u"vcard";
  output.vCardEach = request.format == u"vcards";
  output.excel = request.format == u"xls";
  output.wab = request.format == u"wab";
  if (request.codePage != 0) SetAnsiCodePage(request.codePage);

  const QString dir = QDir(request.out).absolutePath();
  if (QFileInfo(dir).exists() && !QFileInfo(dir).isDir())
    return Failure(
        kExportVerb,
        QStringLiteral("%1 is a file, not a folder: choose a folder for --out").arg(dir));
  SourceOptions source;
  std::shared_ptr<Folder> folder;  // kept to ask, after the run, whether entries were missing
  QString store;
  try {
    const ContactsSource contacts = OpenContactsFolder(kExportVerb, request.store, "exporting");
    folder = contacts.folder;
    store = contacts.storePath;
    // A named store file is exported as the desktop exports a scanned file: the run reopens
    // the folder the scan picked. Without one, the run takes the default store's contacts.
    if (!request.store.store.isEmpty() || !request.store.folder.isEmpty()) {
      Module1::FilePath = contacts.storePath;
      Module1::PickedFolder = contacts.folder;
      Module1::PickedFolderPath = contacts.folderPath;
      source.selectStore = true;
    } else {
      source.defaultStore = true;
    }
  } catch (const StoreError& failure) {
    return Failure(kExportVerb, QString::fromUtf8(failure.what()));
  }

  // A folder without entries has nothing to export; nor has one whose list of entries lost
  // them all, which is damage (one that lost some is reported after the run).
  try {
    if (folder->GetItems()->Count() == 0) {
      // Damage of the store may be what emptied the folder.
      for (const QString& line : folder->StoreDamage())
        DamageNotice(kExportVerb, QStringLiteral("%1: %2").arg(store, line));
      const QString missing = folder->MissingEntries();
      if (!missing.isEmpty())
        DamageNotice(kExportVerb,
                     QStringLiteral("\"%1\" is damaged: %2").arg(folder->Path(), missing));
      FinishDamage(kExportVerb);
      if (missing.isEmpty()) {
        // The default contacts folder, where other folders hold the store's contacts: where.
        const QString elsewhere =
            request.store.folder.isEmpty() ? ContactsKeptElsewhere(store, false) : QString();
        return Failure(
            kExportVerb,
            QStringLiteral("the folder \"%1\" holds no contacts; "
                           "nothing was written%2")
                .arg(folder->Path(),
                     elsewhere.isEmpty() ? QString() : QStringLiteral("; ") + elsewhere));
      }
      return Failure(kExportVerb, QStringLiteral("none of the folder's entries can be found (see "
                                                 "the line above); nothing was written"));
    }
  } catch (const StoreError&) {
    // The run reports a folder it cannot read.
  }
  if (const QString denied = PermissionFailure(dir); !denied.isEmpty())
    return Failure(kExportVerb, denied);
  // The folder is made only once the store has opened: a store that fails leaves no empty
  // folder behind.
  if (!QDir().mkpath(dir))
    return Failure(kExportVerb, QStringLiteral("cannot create the folder %1: check that its "
                                               "parent exists and that you may write there")
                                    .arg(dir));
  Module1::SetFolderBrowser([dir](int32_t, const QString&) { return dir; });
  ConsoleView view(output.vCardEach || output.vCardComplete, output.vCardEach);
  const RunResult result = RunConversion(source, output, view);
  view.progress.End();
  if (result.status != RunResult::kCompleted)
    return Failure(kExportVerb,
                   result.error.isEmpty() ? QStringLiteral("nothing was exported") : result.error);
  return Report(result, view, output, *folder, store);
}

}  // namespace lumivex::cli
