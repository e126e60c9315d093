// Runs the people of a plan: each person's stores sent to their address book by a `send` of this
// same program in a process of its own, several people at once, fewer at once to one server.
//
// Why a child process per person rather than a thread: a send holds one person's merge tables,
// spool and network state; ended with the process, they leave nothing behind, so the memory of a
// migration of thousands of people stays that of `-j` sends. A store that crashes the reader
// ends one child, which is reported as that person's failure, and the others go on. And the child
// is exactly `lumivex-cli send`, so the migration sends what a send by hand sends, with its
// record of sent cards (no card twice), its retries and its messages; it hands its counts back
// as one JSON object in a file (LUMIVEX_SEND_RESULT), not as text to be parsed.
#pragma once

#include "migrate/Journal.h"
#include "migrate/Plan.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace lumivex::migrate {

struct RunOptions {
  QString program;          // lumivex-cli, whose `send` each child runs
  QStringList sendOptions;  // given to every send (--no-merge, --overwrite, --ca-file F, ...)
  int jobs = 1;             // people at once
  int perServer = 4;        // people at once sent to one server (each send keeps up to 6
                            // connections to it)
  bool check = false;       // `send --dry-run`: stores opened, login tried, nothing changed
  QString scratch;          // a private folder for the children's results
};

// How one person's send ended.
struct Outcome {
  Status status = Status::kPending;  // kPending: stopped on the way
  Counts counts;
  QString reason;  // of a failure, in the send's words
  QString remedy;  // its kind: credentials, certificate, choose-book, new-book, store, network,
                   // contacts, conflicts, crash
  QStringList stores;
  QString log;  // the last lines the send printed
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void Started(const Person& person) = 0;
  virtual void Ended(const Person& person, const Outcome& outcome) = 0;
  // True once the run is to stop (Ctrl-C): no one else is started, the sends running are
  // asked to stop after the contacts in flight.
  virtual bool Stopping() const = 0;
  // Called about ten times a second while the run goes on: time to redraw a progress line.
  virtual void Waiting() {}
};

// Runs `people`, journaling each event when `journal` is given. False, with `error`, when the
// journal could not be written (the run then stops as on Ctrl-C).
bool RunPeople(const std::vector<const Person*>& people, const Plan& plan,
               const RunOptions& options, Journal* journal, RunObserver& observer, QString& error);

// What an administrator can do about a failure of this kind, in the plan's and the command
// line's terms.
QString AdviceFor(const QString& remedy);

}  // namespace lumivex::migrate
