// lumivex-cli export --format vcard4|vcard3|csv: the export for other address books, every
// field of every contact in UTF-8, through RunUtf8Export.
#include "cli/CliCommon.h"
#include "cli/Verbs.h"
#include "convert/Utf8Export.h"
#include "source/ContactFolders.h"
#include "source/PffBackend.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <unistd.h>
#include <cstdio>

namespace lumivex::cli {

namespace {

const QString kVerb = QStringLiteral("export");

// Progress on stderr when it is a terminal, each file on stdout as it is finished, each entry
// that could not be exported on stderr as it is met.
class ConsoleObserver : public Utf8ExportObserver {
 public:
  explicit ConsoleObserver(bool listFiles) : listFiles_(listFiles), progress_(isatty(2) == 1) {
    timer_.start();
  }
  ~ConsoleObserver() override { EndProgress(); }

  void Progress(int done, int total, const QString&) override {
    if (!progress_) return;
    label_ = QStringLiteral("Saving Contacts %1/%2").arg(done).arg(total);
    // A terminal cannot show more than a few changes a second; the last one is always shown.
    if (done < total && shown_ && timer_.elapsed() < 100) return;
    timer_.restart();
    std::fprintf(stderr, "\r%s", qPrintable(label_));
    std::fflush(stderr);
    shown_ = true;
  }
  // Each entry left out is told as it is met, in the words of the other forms.
  void Problem(const contact::EntryProblem& p) override {
    Above();
    if (p.position == 0) {  // the folder's own damage
      Warn(kVerb, QStringLiteral("\"%1\": %2").arg(p.folder, p.reason));
      Below();
      return;
    }
    Warn(kVerb, QStringLiteral("entry %1 of \"%2\" %3: %4")
                    .arg(p.position)
                    .arg(p.folder,
                         p.unwritten ? QStringLiteral("got no file")
                         : p.partial ? QStringLiteral("is not whole")
                                     : QStringLiteral("cannot be read"),
                         p.reason));
    Below();
  }
  void FileWritten(const QString& path) override {
    if (!listFiles_) return;
    Above();
    std::printf("%s\n", qPrintable(path));
    // Below the progress line on a terminal the path must show now; into a file or a pipe the
    // paths go in large writes (warnings on stderr flush them first, to keep their order).
    if (shown_) std::fflush(stdout);
    Below();
  }
  void EndProgress() {
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
  }

 private:
  // A line printed while the progress shows goes above it; the progress is drawn again below.
  void Above() {
    if (shown_) std::fputs("\r\033[K", stderr);
  }
  void Below() {
    if (shown_) std::fprintf(stderr, "%s", qPrintable(label_));
  }

  bool listFiles_;
  bool progress_;
  bool shown_ = false;
  QString label_;
  QElapsedTimer timer_;
};

}  // namespace

bool IsUtf8ExportFormat(const QString& format) {
  return format == u"vcard4" || format == u"vcard3" || format == u"csv";
}

int Utf8ExportVerb(const QStringList& arguments) {
  QStringList args = arguments;
  StoreOptions options;
  QString error;
  QString format;
  QString out;
  QString codePage;
  if (!TakeOption(args, QStringLiteral("--format"), format, error) ||
      !TakeOption(args, QStringLiteral("--out"), out, error) ||
      !TakeOption(args, QStringLiteral("--code-page"), codePage, error))
    return UsageError(kVerb, error);
  const bool perContact = TakeFlag(args, QStringLiteral("--per-contact"));
  const bool allFolders = TakeFlag(args, QStringLiteral("--all-folders"));
  if (!TakeStoreOptions(args, options, error)) return UsageError(kVerb, error);
  if (options.help) {
    PrintExportHelp();
    return kExitSuccess;
  }
  if (options.json) return UsageError(kVerb, QStringLiteral("export has no --json output"));
  if (!codePage.isEmpty())
    return UsageError(kVerb, QStringLiteral("--format %1 is always written in UTF-8: leave out "
                                            "--code-page")
                                 .arg(format));
  if (perContact && format == u"csv")
    return UsageError(kVerb, QStringLiteral("--per-contact is for vcard4 and vcard3: a CSV file "
                                            "holds every contact"));
  if (allFolders && !options.folder.isEmpty())
    return UsageError(kVerb, QStringLiteral("--all-folders and --folder exclude each other"));
  if (out.isEmpty())
    return UsageError(kVerb, perContact ? QStringLiteral("--out DIR is missing")
                                        : QStringLiteral("--out FILE or DIR is missing"));

  Utf8ExportOptions run;
  run.format = format == u"vcard4"   ? Utf8Format::kVCard4
               : format == u"vcard3" ? Utf8Format::kVCard3
                                     : Utf8Format::kCsv;
  run.perContact = perContact;
  run.target = QDir(out).absolutePath();
  if (out.endsWith(u'/')) run.target += u'/';
  if (perContact && QFileInfo(run.target).exists() && !QFileInfo(run.target).isDir())
    return Failure(
        kVerb,
        QStringLiteral("%1 is a file, not a folder: choose a folder for --out").arg(run.target));

  std::vector<std::shared_ptr<Folder>> folders;
  std::shared_ptr<Store> store;  // keeps the file open while its folders are read
  int unreadableFolders = 0;
  try {
    if (allFolders) {
      const QString path = ResolveStorePath(options);
      store = OpenPffStore(path);
      const ContactFolderSearch search = FindContactFolders(*store);
      for (const auto& found : search.folders) folders.push_back(found.folder);
      // A damaged branch hides only itself: every folder that can be read is exported.
      for (const UnreadableFolder& lost : search.unreadable)
        Warn(kVerb, QStringLiteral("the folder \"%1\" cannot be read, so the contacts in it and "
                                   "below it are left out: %2")
                        .arg(lost.path, lost.why));
      unreadableFolders = static_cast<int>(search.unreadable.size());
      if (folders.empty() && unreadableFolders > 0) {
        // The damage is what lost the contacts: told as an export that is not whole.
        std::fflush(stdout);
        std::fprintf(stderr,
                     "lumivex-cli %s: incomplete: %d folder%s of %s cannot be read (see the lines "
                     "above) and no other holds contacts; nothing was written\n",
                     qPrintable(kVerb), unreadableFolders, unreadableFolders == 1 ? "" : "s",
                     qPrintable(path));
        return kExitIncomplete;
      }
      if (folders.empty())
        return Failure(kVerb, QStringLiteral("%1 has no folder that holds contacts; see "
                                             "'lumivex-cli folders %1' for the folders it has")
                                  .arg(path));
      // Each contact is given its folder as a category where several folders give contacts.
      run.folderAsCategory = true;
    } else {
      const ContactsSource source = OpenContactsSource(options);
      if (!source.isContacts)
        Warn(kVerb, QStringLiteral("\"%1\" is not a contacts folder (its class is %2); exporting "
                                   "its entries anyway")
                        .arg(source.folderPath, source.folder->ContainerClass().isEmpty()
                                                    ? QStringLiteral("none")
                                                    : source.folder->ContainerClass()));
      folders.push_back(source.folder);
    }
  } catch (const StoreError& failure) {
    return Failure(kVerb, QString::fromUtf8(failure.what()));
  }

  ConsoleObserver observer(true);
  Utf8ExportResult result;
  try {
    result = RunUtf8Export(folders, run, observer);
  } catch (const Utf8ExportError& failure) {
    observer.EndProgress();
    return Failure(kVerb, QString::fromUtf8(failure.what()));
  }
  observer.EndProgress();

  const int written = result.contacts + result.groups;
  if (written == 0 && !result.cancelled && result.problems.empty() && unreadableFolders == 0)
    // Nothing to write is not a success: no file was written.
    return Failure(kVerb,
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
  std::fprintf(stderr, "lumivex-cli %s: incomplete: %s; see the lines above\n", qPrintable(kVerb),
               qPrintable(summary.join(QStringLiteral("; "))));
  return kExitIncomplete;
}

}  // namespace lumivex::cli
