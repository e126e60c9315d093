// The journal of a migration: beside the plan, one JSON object per line per event (a person's
// send started, the stores found, finished with its counts, failed with the reason, stopped),
// each appended, flushed and synced to the disk before the run goes on, so that a stop of any
// kind (Ctrl-C, a killed process, a power cut) loses at most the event being written. The file is
// only ever appended to; a re-run reads every journal of the plan (one per shard, from whichever
// machines ran them) and takes each person's latest event as their state.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

namespace lumivex::migrate {

// The counts of one person's send, as the send reported them.
struct Counts {
  int entries = 0;     // store entries read
  int contacts = 0;    // contacts they became after merging
  int added = 0;       // sent as new
  int updated = 0;     // sent over an older copy
  int unchanged = 0;   // there already as they are
  int conflicts = 0;   // changed on the server since the last send, left as they are
  int failed = 0;      // not sent
  int unreadable = 0;  // entries of the stores that could not be read
  int Sent() const { return added + updated; }
  void Add(const Counts& other);
  QJsonObject ToJson() const;
  static Counts FromJson(const QJsonObject& object);
};

enum class Status { kPending, kDone, kFailed };

// Where one person stands after every journal's events.
struct PersonState {
  Status status = Status::kPending;
  bool interrupted = false;  // started, then no end: stopped or killed on the way
  Counts counts;
  QString reason;  // of a failure
  QString remedy;  // its kind ("credentials", "store", "network", ...)
  QString when;    // the time of the latest event
  QString shard;   // "I/N" of the run that wrote it; empty for a whole-plan run
  QStringList stores;
  int attempts = 0;
  // Cards added over every run that said what it did (a send killed outright cannot say: the
  // cards it made are found by the next run and counted there as unchanged).
  int made = 0;
};

class Journal {
 public:
  // Opens (or makes, 0600) the journal at `path` for appending and locks it against a second
  // run of the same slice. False, with `error`, when it cannot be written or is in use.
  bool Open(const QString& path, QString& error);
  // Locks the plan file itself against a run that would send for the same people: a run of the
  // whole plan (`slices` 1) excludes every other run of it; runs of slices exclude a whole-plan
  // run, and runs of slices of another count (1 of 2 and 1 of 3 share people), but not each
  // other. False, with `error`, when such a run holds it.
  bool LockPlan(const QString& planPath, int slices, QString& error);
  ~Journal();
  // Appends `record` with the time and the person, flushed and synced. False when the disk
  // refused it (the run then stops: a journal with holes would lie).
  bool Append(const QString& id, const QString& event, QJsonObject record);
  const QString& Path() const { return path_; }
  void SetShard(const QString& shard) { shard_ = shard; }

 private:
  int fd_ = -1;
  // Read-locks this run's count of slices; false where runs of another count hold theirs.
  bool LockSliceCount(const QString& planPath, int slices, QString& error);
  int planFd_ = -1;
  int slicesFd_ = -1;  // <plan>.slices.lock: byte N read-locked by each run of N slices
  QString path_;
  QString shard_;
};

// The journal of a plan's slice: PLAN.journal, or PLAN.I-of-N.journal for --shard I/N.
QString JournalPath(const QString& planPath, int shardIndex, int shardCount);
// Every journal of a plan, whatever slice wrote it.
QStringList JournalsOf(const QString& planPath);
// The state of every person the journals name, by id: events taken in the order of their
// times (and of the file within one journal).
std::map<QString, PersonState> ReadJournals(const QStringList& paths);

}  // namespace lumivex::migrate
