// Temporary files of ours that must not outlive the process. A file being written under a
// temporary name beside its target is registered while it exists; SIGINT, SIGTERM and SIGHUP
// then remove every registered file before the process ends with 128 + the signal's number
// (130 for Ctrl-C, 143 for SIGTERM, 129 for a closed terminal), as a shell reports a program
// ended by that signal.
//
// A process that is killed outright (SIGKILL, a power cut) still leaves its files: their names
// carry its process id, and RemoveStaleTemporaries clears them from a folder once that process
// no longer runs.
#pragma once

#include <QString>

#include <utility>

namespace lumivex::TemporaryFiles {

// Installs the handlers; once per process, before any export starts.
void RemoveOnSignals();

// Removes every registered file; safe in a signal handler, for one that ends the process itself.
void RemoveAll();

// Adds and drops a path. At most a few dozen paths are registered at once (one export at a time
// writes one file and its helpers); beyond that a path is not registered.
void Register(const QString& path);
void Unregister(const QString& path);

// Registers a path for as long as it lives.
class Registration {
 public:
  explicit Registration(QString path) : path_(std::move(path)) { Register(path_); }
  ~Registration() { Unregister(path_); }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  QString path_;
};

// The temporary names of the files written under `target`'s name: ".NAME.PID.part".
QString WorkPath(const QString& target, qint64 pid);

// Removes from `folder` the temporary files of processes that no longer run: ".NAME.PID.part" and
// the helper files named after one (".NAME.PID.part.records",
// ".NAME.PID.part.tables", ".NAME.PID.part.part").
void RemoveStaleTemporaries(const QString& folder);

// Removes from `folder` the folders of processes that no longer run named `prefix` + their
// process id + "-" and more (a migration's results of each person, "lumivex-migrate-PID-XXXXXX").
void RemoveStaleFolders(const QString& folder, const QString& prefix);

}  // namespace lumivex::TemporaryFiles
