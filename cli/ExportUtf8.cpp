// lumivex-cli export --format vcard4|vcard3|csv: the export for other address books, every
// field of every contact in UTF-8, through RunUtf8Export.
#include "cli/ConsoleProgress.h"
#include "cli/Export.h"
#include "cli/Verbs.h"
#include "convert/Utf8Export.h"
#include "source/ContactFolders.h"
#include "source/FolderContacts.h"
#include "source/PffBackend.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace lumivex::cli {

namespace {

// Progress on stderr when it is a terminal, each file on stdout as it is finished, each entry
// that could not be exported on stderr as it is met.
class ConsoleObserver : public Utf8ExportObserver {
 public:
  void Progress(int done, int total, const QString&) override {
    if (progress.Enabled())
      progress.Show(QStringLiteral("Saving Contacts %1/%2").arg(done).arg(total), done >= total);
  }
  // Each entry left out is told as it is met, in the words of the other forms.
  void Problem(const contact::EntryProblem& p) override {
    progress.Above();
    if (p.position == 0)  // the folder's own damage
      Warn(kExportVerb, QStringLiteral("\"%1\": %2").arg(p.folder, p.reason));
    else
      Warn(kExportVerb, QStringLiteral("entry %1 of \"%2\" %3: %4")
                            .arg(p.position)
                            .arg(p.folder,
                                 p.unwritten ? QStringLiteral("got no file")
                                 : p.partial ? QStringLiteral("is not whole")
                                             : QStringLiteral("cannot be read"),
                                 p.reason));
    progress.Below();
  }
  void FileWritten(const QString& path) override {
    progress.Above();
    std::printf("%s\n", qPrintable(path));
    progress.Below();
  }

  ConsoleProgress progress;
};

// The folders to export: every folder of the store that holds contacts, whatever its class, or
// the one --folder names (the default contacts folder without it). `store` keeps the file open
// while they are read; `unreadable` counts the branches of the folder tree that cannot be read,
// each told on stderr: the others are exported.
std::vector<std::shared_ptr<Folder>> FoldersToExport(const ExportRequest& request,
                                                     std::shared_ptr<Store>& store,
                                                     int& unreadable) {
  if (!request.allFolders)
    return {OpenContactsFolder(kExportVerb, request.store, "exporting").folder};
  const QString path = ResolveStorePath(request.store);
  store = OpenPffStore(path);
  const ContactFolderSearch search = FindContactFolders(*store);
  std::vector<std::shared_ptr<Folder>> folders;
  for (const auto& found : search.folders) folders.push_back(found.folder);
  for (const UnreadableFolder& lost : search.unreadable)
    Warn(kExportVerb, QStringLiteral("the folder \"%1\" cannot be read, so the contacts in it "
                                     "and below it are left out: %2")
                          .arg(lost.path, lost.why));
  unreadable = static_cast<int>(search.unreadable.size());
  if (folders.empty() && unreadable == 0)
    throw StoreError(QStringLiteral("%1 has no folder that holds contacts; see 'lumivex-cli "
                                    "folders %1' for the folders it has")
                         .arg(path)
                         .toStdString());
  return folders;
}

// The summary of an export that ran to its end.
int Report(const Utf8ExportResult& result, const std::vector<std::shared_ptr<Folder>>& folders,
           int unreadableFolders) {
  const int written = result.contacts + result.groups;
  if (written == 0 && !result.cancelled && result.problems.empty() && unreadableFolders == 0)
    // Nothing to write is not a success: no file was written.
    return Failure(kExportVerb,
                   QStringLiteral("no contacts: %1 holds none; nothing was written")
                       .arg(folders.size() == 1
                                ? QStringLiteral("the folder \"%1\"").arg(folders.front()->Path())
                                : QStringLiteral("no folder")));
  if (result.problems.empty() && unreadableFolders == 0) {
    QString done = QStringLiteral("%1 Contacts Saved Successfully").arg(written);
    if (result.groups > 0)
      done += QStringLiteral(" (%1 of them distribution lists)").arg(result.groups);
    std::printf("%s\n", qPrintable(done));
    return kExitSuccess;
  }
  // Work that ran to its end but is not whole is summed up after the entries listed above.
  int unreadable = 0;
  int unwritten = 0;
  int partial = 0;
  int damagedFolders = unreadableFolders;
  for (const contact::EntryProblem& p : result.problems)
    (p.position == 0 ? damagedFolders
     : p.partial     ? partial
     : p.unwritten   ? unwritten
                     : unreadable)++;
  const int entries = written + unreadable + unwritten;
  QStringList summary;
  if (damagedFolders > 0)
    summary << QStringLiteral("%1 %2 damaged (their contacts are not all written)")
                   .arg(damagedFolders)
                   .arg(damagedFolders == 1 ? QStringLiteral("folder is")
                                            : QStringLiteral("folders are"));
  if (partial > 0)
    summary << QStringLiteral("%1 of %2 contacts were written without some of their fields")
                   .arg(partial)
                   .arg(written);
  if (written == 0 && unreadable == 0 && unwritten == 0)
    summary << QStringLiteral("nothing was written");
  if (unreadable > 0)
    summary << QStringLiteral(
                   "%1 of %2 entries could not be read (they are left out, the other "
                   "%3 were written)")
                   .arg(unreadable)
                   .arg(entries)
                   .arg(entries - unreadable);
  if (unwritten > 0)
    summary << QStringLiteral(
                   "%1 of %2 contacts got no file (free some disk space or choose "
                   "another folder for --out)")
                   .arg(unwritten)
                   .arg(entries - unreadable);
  std::fflush(stdout);
  std::fprintf(stderr, "lumivex-cli %s: incomplete: %s; see the lines above\n",
               qPrintable(kExportVerb), qPrintable(summary.join(QStringLiteral("; "))));
  return kExitIncomplete;
}

}  // namespace

int ExportInUtf8(const ExportRequest& request) {
  Utf8ExportOptions run;
  run.format = request.format == u"vcard4"   ? Utf8Format::kVCard4
               : request.format == u"vcard3" ? Utf8Format::kVCard3
                                             : Utf8Format::kCsv;
  run.perContact = request.perContact;
  run.target = QDir(request.out).absolutePath();
  if (request.out.endsWith(u'/')) run.target += u'/';
  if (run.perContact && QFileInfo(run.target).exists() && !QFileInfo(run.target).isDir())
    return Failure(kExportVerb, QStringLiteral("%1 is a file, not a folder: choose a folder for "
                                               "--out")
                                    .arg(run.target));

  std::vector<std::shared_ptr<Folder>> folders;
  std::shared_ptr<Store> store;
  int unreadableFolders = 0;
  try {
    folders = FoldersToExport(request, store, unreadableFolders);
  } catch (const StoreError& failure) {
    return Failure(kExportVerb, QString::fromUtf8(failure.what()));
  }
  // Each contact is named by its folder where several folders give contacts.
  run.folderAsCategory = request.allFolders;

  ConsoleObserver observer;
  Utf8ExportResult result;
  try {
    result = RunUtf8Export(folders, run, observer);
  } catch (const Utf8ExportError& failure) {
    observer.progress.End();
    return Failure(kExportVerb, QString::fromUtf8(failure.what()));
  }
  observer.progress.End();
  return Report(result, folders, unreadableFolders);
}

}  // namespace lumivex::cli
