// lumivex-cli: the command line beside the desktop program. It drives the same store interface
// and conversion run as the windows.
#include "cli/Verbs.h"
#include "common/Installation.h"
#include "common/TemporaryFiles.h"
#include "destination/CardDav.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

struct Verb {
  const char* name;
  int (*run)(const QStringList&);
  const char* summary;
};

constexpr Verb kVerbs[] = {
    {"folders", lumivex::cli::FoldersVerb, "print the folder tree of a store file"},
    {"scan", lumivex::cli::ScanVerb, "count the entries of a contacts folder"},
    {"export", lumivex::cli::ExportVerb,
     "export contacts as vcard, vcards, xls, wab, vcard4, vcard3 or csv"},
    {"wab-dump", lumivex::cli::WabDumpVerb, "list the contacts of a Windows Address Book file"},
    {"send", lumivex::cli::SendVerb, "send contacts into a CardDAV, vdir or Evolution book"},
    {"migrate", lumivex::cli::MigrateVerb, "send the stores of many people, as a plan lists them"},
};

void PrintUsage(std::FILE* out) {
  std::fputs(
      "Usage: lumivex-cli VERB [ARGUMENTS]\n"
      "Exports the contacts of an Outlook personal-folder file (.pst, .ost).\n\nVerbs:\n",
      out);
  for (const Verb& verb : kVerbs) std::fprintf(out, "  %-10s %s\n", verb.name, verb.summary);
  std::fputs(
      "\nRun 'lumivex-cli VERB --help' for a verb's arguments, 'lumivex-cli --version' for the\n"
      "release.\n"
      "When STORE is left out, the default store is used: the file named by the environment\n"
      "variable LUMIVEX_DEFAULT_STORE; else the store of the default Outlook profile of a Wine\n"
      "prefix ($WINEPREFIX, then ~/.wine); else, of the .pst/.ost files in Documents/Outlook\n"
      "Files (also the desktop's own Documents folder) and AppData/Local/Microsoft/Outlook, in\n"
      "your home and in Wine prefixes, the one whose contacts folder holds the most entries\n"
      "(the most recently changed among equals). 'lumivex-cli folders' says which and why.\n"
      "Stores are read by Lumivex's own reader, in every encoding (none, compressible, high);\n"
      "a file whose header or folder index it finds damaged is read by libpff, whose diagnosis\n"
      "is then shown. LUMIVEX_PST_READER=libpff sends every store to libpff.\n"
      "Exit status: 0 done, 1 failed (one line on stderr says why), 2 bad arguments, 3 ran to\n"
      "its end but incomplete: some entries of the store could not be read, or some contacts\n"
      "got no file (each is listed on stderr with its folder, position and reason, then a\n"
      "summary line).\n",
      out);
}

// A login with its password written into an address (send --to https://user:pw@host/) is seen
// by every user of the computer in the process's arguments for as long as it runs: once the
// arguments are taken, the login is overwritten in place (the program works on its own copy).
void HideLogins(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    char* text = argv[i];
    if (std::strncmp(text, "--to=", 5) == 0) text += 5;
    char* const scheme = std::strstr(text, "://");
    char* const at = std::strrchr(text, '@');
    if (!scheme || !at || at < scheme ||
        lumivex::destination::TakeLogin(QString::fromLocal8Bit(text)).password.isEmpty())
      continue;
    std::memset(scheme + 3, 'x', size_t(at - (scheme + 3)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("lumivex-cli"));
  lumivex::TemporaryFiles::RemoveOnSignals();
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  HideLogins(argc, argv);
  if (args.isEmpty()) {
    PrintUsage(stderr);
    return 2;
  }
  const QString verbName = args.takeFirst();
  if (verbName == u"--help" || verbName == u"-h" || verbName == u"help") {
    PrintUsage(stdout);
    return 0;
  }
  if (verbName == u"--version") {
    std::printf("lumivex-cli %s\n", qPrintable(lumivex::VersionText()));
    return 0;
  }
  for (const Verb& verb : kVerbs) {
    if (verbName == QLatin1String(verb.name)) return verb.run(args);
  }
  std::fprintf(stderr, "lumivex-cli: unknown verb '%s'; run 'lumivex-cli --help' for the list\n",
               qPrintable(verbName));
  return 2;
}
