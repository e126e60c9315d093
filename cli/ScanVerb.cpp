// lumivex-cli scan: counts the entries of a contacts folder, as the desktop's scan does.
#include "cli/CliCommon.h"
#include "cli/Verbs.h"

#include <QFileInfo>

#include <cstdio>

namespace lumivex::cli {

namespace {

const QString kVerb = QStringLiteral("scan");

void PrintHelp() {
  std::fputs(
      "Usage: lumivex-cli scan [STORE] [--folder PATH] [--json]\n"
      "Counts the entries of a contacts folder of an Outlook data file (.pst or .ost).\n"
      "\n"
      "  STORE          the .pst or .ost file; left out, the default store is used: the file\n"
      "                 named by LUMIVEX_DEFAULT_STORE, else the first .pst/.ost in\n"
      "                 ~/Documents/Outlook Files or ~/AppData/Local/Microsoft/Outlook (also\n"
      "                 inside Wine prefixes, ~/.wine/drive_c/users/*/)\n"
      "  --folder PATH  count this folder instead of the store's default contacts folder; PATH is\n"
      "                 the folder names from the top down joined by '/', as 'lumivex-cli "
      "folders'\n"
      "                 prints them (e.g. \"Top of Personal Folders/Contacts\"). A folder that is\n"
      "                 not a contacts folder is counted too, with a warning on stderr; the\n"
      "                 desktop program refuses such folders\n"
      "  --json         print the result as one JSON object\n"
      "\n"
      "Prints the number of entries (contacts and distribution lists). Exit status: 0 counted,\n"
      "1 the store or folder cannot be read (one line on stderr says why), 2 bad arguments.\n",
      stdout);
}

}  // namespace

int ScanVerb(const QStringList& arguments) {
  QStringList args = arguments;
  StoreOptions options;
  QString error;
  if (!TakeStoreOptions(args, options, error)) return UsageError(kVerb, error);
  if (options.help) {
    PrintHelp();
    return 0;
  }
  try {
    const ContactsSource source = OpenContactsSource(options);
    if (!source.isContacts) {
      Warn(kVerb, QStringLiteral("\"%1\" is not a contacts folder (its class is %2); counting "
                                 "its entries anyway")
                      .arg(source.folderPath, source.folder->ContainerClass().isEmpty()
                                                  ? QStringLiteral("none")
                                                  : source.folder->ContainerClass()));
    }
    const int count = source.folder->GetItems()->Count();
    if (options.json) {
      std::printf(
          "{\"store\":%s,\"folder\":%s,\"containerClass\":%s,\"contactsFolder\":%s,"
          "\"count\":%d}\n",
          qPrintable(JsonString(QFileInfo(source.storePath).absoluteFilePath())),
          qPrintable(JsonString(source.folderPath)),
          qPrintable(JsonString(source.folder->ContainerClass())),
          source.isContacts ? "true" : "false", count);
    } else {
      std::printf("%d %s in \"%s\" of %s\n", count, count == 1 ? "entry" : "entries",
                  qPrintable(source.folderPath), qPrintable(source.storePath));
    }
    return 0;
  } catch (const StoreError& failure) {
    return Failure(kVerb, QString::fromUtf8(failure.what()));
  }
}

}  // namespace lumivex::cli
