// The notices that follow a run's completion box and the scan's box when the files do not hold
// everything the boxes suggest: files that could not be written, rows beyond the worksheet's
// last, counts beyond what the boxes count to, entries of a damaged store that could not be read
// whole, letters the code page cannot hold, notes and other values that break vCard 2.1 cards,
// texts too long for a worksheet cell. Each says what was lost and what to do.
#pragma once

#include "convert/ConversionRun.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace lumivex {

// Why a file could not be written, as far as the user can do something about it.
enum class WriteFailure { kPermission, kDiskFull, kOther };
// From the system's reason ("Permission denied", "No space left on device") or the worksheet
// writer's ("the disk is full").
WriteFailure ClassifyWriteFailure(const QString& reason);
// The one wording of a failure to write into `folder`: "you may not write in the folder F",
// "the disk holding F is full", else `reason` itself.
QString WriteProblem(const QString& reason, const QString& folder);

// What the window saw of a run's files, told by the writers file by file.
struct RunFiles {
  int written = 0;
  int failed = 0;
  QString firstFailed;  // the first file that could not be written
  QString firstReason;  // and why
};

// What the window heard of a run's entries that could not be read whole, told by the run entry by
// entry (ConversionView::EntryUnreadable, EntryDamaged): each kind counted in full, the first
// kEntriesNamed of it kept to be named.
struct RunEntries {
  struct Entry {
    QString folder;    // the folder's path
    int position = 0;  // 1-based, in the folder's order
    QString reason;
  };
  static constexpr int kEntriesNamed = 5;
  int unreadable = 0;  // a read failed: left out, or values of the entry before in their place
  int damaged = 0;     // read, but the store lost a part of them
  std::vector<Entry> firstUnreadable;
  std::vector<Entry> firstDamaged;

  void Unreadable(const QString& folder, int position, const QString& reason);
  void Damaged(const QString& folder, int position, const QString& reason);
};

struct Notice {
  QString title;
  QString text;                         // empty: nothing to tell
  bool offerOtherAddressBooks = false;  // the export for other address books keeps what was lost
};

// The caption of the button that opens the export for other address books.
inline const QString kOtherAddressBooks = QStringLiteral("Export for Other Address Books...");

// The rows a worksheet holds below its heading row: the rows its 16-bit counter reaches.
inline constexpr int kWorksheetContacts = 32766;

// The notice after a completed run of the form `form`.
Notice ConversionNotice(const OutputOptions& form, const RunResult& result, const RunFiles& files,
                        const RunEntries& entries);
// The notice after the scan's box, which counted `shown` of the folder's `entries`.
Notice ScanNotice(int entries, int shown);
// The text of the "Damaged Store" box after the scan's box, which counted `contacts`, when the
// store is known damaged (`damage` as ScanResult::damage holds it); empty when it is not.
QString ScanDamageText(int contacts, const QStringList& damage);

}  // namespace lumivex
