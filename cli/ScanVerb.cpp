// Placeholder until the verb lands.
#include "cli/Verbs.h"

#include <cstdio>

int lumivex::cli::ScanVerb(const QStringList&) {
  std::fputs("lumivex-cli: this verb is not built yet\n", stderr);
  return 1;
}
