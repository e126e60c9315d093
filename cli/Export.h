// The two ways of the export verb, one per text encoding, called by ExportVerb once it has read
// the arguments: the forms of the desktop program in a Windows code page (vcard, vcards, xls,
// wab), and the forms for other address books in UTF-8 (vcard4, vcard3, csv).
#pragma once

#include "cli/CliCommon.h"

#include <QString>
#include <QStringList>

namespace lumivex::cli {

// The export's arguments, read and checked once.
struct ExportRequest {
  QString format;    // one of the forms above
  QString out;       // --out as given
  int codePage = 0;  // --code-page; 0: the locale's
  bool perContact = false;
  bool allFolders = false;
  StoreOptions store;  // STORE and --folder
  // The forms in UTF-8 read several stores, merging the entries of one person.
  QStringList stores;          // every STORE given
  QStringList excludeFolders;  // --exclude-folder
  bool noMerge = false;
  bool acceptSuggestions = false;  // --accept-suggestions
  bool dryRun = false;
  QString mergeReport;  // --merge-report FILE
};

extern const QString kExportVerb;  // "export", for messages

// Both return the process exit status and print their own messages.
int ExportInCodePage(const ExportRequest& request);
int ExportInUtf8(const ExportRequest& request);

}  // namespace lumivex::cli
