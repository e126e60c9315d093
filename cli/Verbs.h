// The verbs of lumivex-cli. Each takes the arguments after the verb's name, prints its own
// --help, writes results to stdout and one clear line per failure to stderr, and returns the
// process exit status (0 success, 1 failure, 2 bad usage).
#pragma once

#include <QStringList>

namespace lumivex::cli {

int FoldersVerb(const QStringList& args);  // folders STORE
int ScanVerb(const QStringList& args);     // scan [STORE] [--folder PATH] [--json]
int ExportVerb(const QStringList& args);   // export --format F --out DIR [STORE] [--folder PATH]
int WabDumpVerb(const QStringList& args);  // wab-dump FILE

}  // namespace lumivex::cli
