// Entries kept between the two passes of a merge: each contact stored as it is read, taken back
// by its number. The first entries are kept in memory (kMemoryCap bytes at most), the others in a
// temporary file removed when the spool goes: memory stays bounded however large the stores.
#pragma once

#include "contact/Contact.h"
#include "merge/MergeScratch.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace lumivex::merge {

// Elements a decoded contact's lists no longer held, a few of each kind kept for the next to
// fill: a list's elements come and go from one entry to the next (one e-mail address, then two),
// and an element made anew takes a new string for each of its values.
struct SpareElements {
  std::vector<contact::Email> emails;
  std::vector<contact::Phone> phones;
  std::vector<contact::Address> addresses;
  std::vector<contact::Member> members;
};

// What an entry holds as the spool keeps it: every byte but those of its uid and of the times it
// was made and last changed, in two parts. Entries alike in every other field have the same
// bytes; any that differ have different ones.
struct EntryBytes {
  QByteArrayView head, tail;
};
// The bytes an entry is kept as, but for its uid (which comes from the store, not the entry):
// what it holds and its times, as Take's `held` gives them. Entries the merge ranks alike
// (MergeRank) are ordered by these; the review window orders its groups by them without a spool.
QByteArray EntryContent(const contact::Contact& contact);

// A hash of what `contact` holds, as the bytes Add gives back tell it (all but its uid and
// times), made without writing them: entries alike in every other field have the same.
uint64_t EqualHash(const contact::Contact& contact);

class EntrySpool {
 public:
  static constexpr int64_t kChunk = int64_t(1) << 22;
  static constexpr int64_t kMemoryCap = 4 * kChunk;  // 16 MiB

  // `memoryCap`: the bytes of entries kept in memory before the file is used.
  explicit EntrySpool(int64_t memoryCap = kMemoryCap);
  // Room for the positions of `entries` entries, taken ahead rather than grown by copying.
  void Reserve(size_t entries) { offsets_.reserve(entries); }
  // Keeps `contact` as the next entry (numbered from 0), and gives back the bytes it is kept
  // as, but for its uid and times, valid until the next Add. Throws StoreError when the disk is
  // full.
  EntryBytes Add(const contact::Contact& contact);
  // Room to append the bytes an AheadWriter writes of an entry (SourcedContact::written) to,
  // where the spool keeps them: then kept as the next entry by AddWritten, without a copy.
  // Taken back by TakeWritten, never by Take.
  QByteArray& WriteRoom() {
    written_at_ = buffer_.size();
    return buffer_;
  }
  // Keeps as the next entry the bytes appended to WriteRoom since it was last called.
  void AddWritten();
  // Ends the adding; Take may be called from now on.
  void Finish();
  // Entry `index` into `out`. Throws StoreError when it cannot be read back.
  // `inOrder`: the entry comes after the last one taken in order (the first entry of each group,
  // one group after another); the file is then read a window ahead. Any other entry (the later
  // entries of a group) is read on its own, and the window stays where it is; but where such
  // entries follow one another through the file (the same people in the same order in two
  // stores), each such run is read a window ahead of its own.
  // `held`: where given, the entry's bytes but its uid are copied there (what it holds and its
  // times): entries compared by these are in the order of their content.
  void Take(uint32_t index, contact::Contact& out, bool inOrder = false,
            QByteArray* held = nullptr);
  // Entry `index`, kept by AddWritten: its written bytes into `written`. `inOrder` as for Take.
  // `written` then holds the bytes where the spool keeps them (QByteArray::fromRawData), valid
  // until the next Take or TakeWritten.
  void TakeWritten(uint32_t index, QByteArray& written, bool inOrder = false);

 private:
  void Flush();
  void Open();
  // Keeps `record` as the next entry: in memory while there is room, else in the file.
  void Keep(QByteArrayView record);
  // Keeps `record` as the next entry in memory where there is room; false where there is not.
  bool KeepInMemory(QByteArrayView record);
  // Where the bytes of entry `index` (`size` of them) can be read now; null when the file
  // cannot be read.
  const char* Locate(uint32_t index, int64_t size, bool inOrder, bool& inMemory);
  // The bytes of entry `index`: up to the next entry, or the end of its chunk or of the file.
  int64_t SizeOf(uint32_t index) const;
  std::vector<QByteArray> chunks_;  // entries in memory; none crosses from one chunk to the next
  MergeScratch file_;               // opened when memory is full
  QByteArray encoded_;              // the entry being added
  // Entries not yet written to the file, or a window of the file being read; while the file is
  // not open, an entry being written ahead (WriteRoom).
  QByteArray buffer_;
  qsizetype written_at_ = 0;  // where in buffer_ the entry being written ahead begins
  int64_t buffer_at_ = 0;     // where in the file the read window starts
  QByteArray single_;         // an entry read on its own, outside the window
  // A run of entries taken out of order that follow one another in the file: where the last
  // ended, and a window of the file read ahead of it once a second entry of the run came.
  struct Run {
    int64_t next = -1;  // where the last entry taken of the run ends
    int64_t at = 0;     // where in the file the window starts
    QByteArray window;
    int64_t ahead = 0;  // how much the last read ahead took; 0 before the first
    uint64_t used = 0;  // when last taken from, to let the longest unused go
  };
  static constexpr size_t kRuns = 4;
  Run runs_[kRuns];
  uint64_t takes_ = 0;
  // The entry at `at` of `size` bytes, taken out of order: from a run's window, or read ahead
  // for a run it continues, else read on its own. Null when the file cannot be read.
  const char* TakeApart(int64_t at, int64_t size);
  // Where each entry starts: below kFileBase in chunks_ (chunk = offset / kChunk), else in the
  // file at offset - kFileBase.
  static constexpr int64_t kFileBase = int64_t(1) << 62;
  int64_t memory_cap_;
  SpareElements spares_;
  std::vector<int64_t> offsets_;
};

}  // namespace lumivex::merge
