// The verbs of lumivex-cli. Each takes the arguments after the verb's name, prints its own
// --help, writes results to stdout and one clear line per failure to stderr, and returns the
// process exit status (ExitStatus).
#pragma once

#include <QStringList>

namespace lumivex::cli {

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFailure = 1,  // nothing (or nothing whole) was done: the line on stderr says why
  kExitUsage = 2,    // the arguments are wrong
  // The work ran to its end, but some entries could not be read (or some contacts got no
  // file): each one is listed on stderr with its folder, position and reason, then a summary.
  kExitIncomplete = 3,
};

int FoldersVerb(const QStringList& args);  // folders STORE
int ScanVerb(const QStringList& args);     // scan [STORE] [--folder PATH] [--json]
int ExportVerb(const QStringList& args);   // export --format F --out DIR [STORE] [--folder PATH]
int WabDumpVerb(const QStringList& args);  // wab-dump FILE
int SendVerb(const QStringList& args);     // send --to DESTINATION [STORE...]
int MigrateVerb(const QStringList& args);  // migrate PLAN [--check] [-j N] [--shard I/N]

}  // namespace lumivex::cli
