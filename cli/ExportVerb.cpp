// lumivex-cli export: writes the same files as the conversion window, through the same run.
#include "cli/CliCommon.h"
#include "cli/Verbs.h"
#include "common/CodePage.h"
#include "common/Module1.h"
#include "convert/ConversionRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <iterator>

namespace lumivex::cli {

namespace {

const QString kVerb = QStringLiteral("export");

constexpr int kCodePages[] = {874,  932,  936,  949,  950,  1250, 1251,
                              1252, 1253, 1254, 1255, 1256, 1257, 1258};

void PrintHelp() {
  std::fputs(
      "Usage: lumivex-cli export --format FORMAT --out DIR [STORE] [--folder PATH]\n"
      "                          [--code-page N]\n"
      "Exports the contacts of an Outlook data file (.pst or .ost) into DIR, writing the same\n"
      "files as the desktop program's \"Start Conversion\".\n"
      "\n"
      "  --format FORMAT  what to write:\n"
      "                     vcard   one vCard 2.1 file holding every contact, named\n"
      "                             OutlookContacts-DD-MM-YYYY-hh-mm-ss.vcf after the moment\n"
      "                             of the export (a second export within the same second\n"
      "                             replaces it)\n"
      "                     vcards  one vCard 2.1 file per contact, named first name + last\n"
      "                             name + a number from 1 to 40000 + .vcf (AnnLee123.vcf;\n"
      "                             123.vcf for a contact without names). The numbers come in\n"
      "                             the same order at every start, so exporting the same folder\n"
      "                             again into DIR replaces the files of the last export\n"
      "                     xls     one Excel worksheet (BIFF 2.1), OutlookContacts-...xls\n"
      "                     wab     one Windows Address Book file, OutlookContacts-...wab\n"
      "  --out DIR        the folder to write into; it is created when missing. Files of the\n"
      "                   same name already there are replaced\n"
      "  STORE            the .pst or .ost file; left out, the default store is used: the file\n"
      "                   named by LUMIVEX_DEFAULT_STORE, else the first .pst/.ost in\n"
      "                   ~/Documents/Outlook Files or ~/AppData/Local/Microsoft/Outlook (also\n"
      "                   inside Wine prefixes, ~/.wine/drive_c/users/*/)\n"
      "  --folder PATH    export this folder instead of the store's default contacts folder;\n"
      "                   PATH is the folder names from the top down joined by '/', as\n"
      "                   'lumivex-cli folders' prints them (\"Top of Personal "
      "Folders/Contacts\")\n"
      "  --code-page N    the Windows code page of the text in the files. By default it is the\n"
      "                   one of your locale (LC_ALL, else LC_CTYPE, else LANG): 1252 for\n"
      "                   English and Western European languages, 1250 Central European, 1251\n"
      "                   Cyrillic, 1253 Greek, 1254 Turkish, 1255 Hebrew, 1256 Arabic, 1257\n"
      "                   Baltic, 1258 Vietnamese, 874 Thai, 932 Japanese, 936 Simplified\n"
      "                   Chinese, 949 Korean, 950 Traditional Chinese. Characters the code\n"
      "                   page cannot hold become their nearest letter or '?'\n"
      "\n"
      "Each vCard is the same 22 lines (name, organisation, title, note, six phone numbers,\n"
      "work and home address with postal labels, web page, birthday, e-mail), lines ended by\n"
      "CR LF, values written as they are, as Outlook Express, Lotus Notes and phones import them.\n"
      "\n"
      "Prints the path of each file written, then \"N Contacts Saved Successfully\". While it\n"
      "works, \"Saving Contacts n/N\" is shown on stderr when stderr is a terminal.\n"
      "A single file is written under a temporary name beside it and takes its name only when\n"
      "it is whole: a failed export (a full disk) leaves no cut-short file.\n"
      "\n"
      "Exit status:\n"
      "  0  every entry was read and written\n"
      "  1  the store, folder or output cannot be used, or the file could not be written\n"
      "     whole (one line on stderr says why); nothing is left under the file's name\n"
      "  2  bad arguments\n"
      "  3  the export ran to its end, but some entries of the store could not be read (their\n"
      "     cards and rows repeat values of the entry before them, as in the desktop program;\n"
      "     the address book leaves them out), or some contacts got no file of their own: each\n"
      "     is listed on stderr (folder, position, reason), then a summary line\n"
      "\n"
      "Examples:\n"
      "  lumivex-cli export --format vcard --out ~/contacts ~/Outlook.pst\n"
      "  lumivex-cli export --format vcards --out cards --folder \"Top of Personal "
      "Folders/Clients\" old.pst\n"
      "  LC_ALL=ru_RU.UTF-8 lumivex-cli export --format xls --out . ~/Outlook.pst\n",
      stdout);
}

// The run's window on the command line: progress on stderr when it is a terminal, the files
// written on stdout as they are finished, the completion text kept for the end.
class ConsoleView : public ConversionView {
 public:
  explicit ConsoleView(bool listFiles) : listFiles_(listFiles), progress_(isatty(2) == 1) {
    timer_.start();
  }

  void SetProgressRange(int, int maximum) override { total_ = maximum; }
  void SetProgressValue(int value) override { value_ = value; }
  void SetProgressLabel(const QString& text) override {
    if (!progress_) return;
    label_ = text;
    // A terminal cannot show more than a few changes a second; the last one is always shown.
    if (value_ < total_ && shown_ && timer_.elapsed() < 100) return;
    timer_.restart();
    std::fprintf(stderr, "\r%s", qPrintable(label_));
    std::fflush(stderr);
    shown_ = true;
  }
  void EnableButtons() override {}
  void ShowMessage(const QString& text, const QString&, int style) override {
    if (style == 64) completion = text;
  }
  void Hide() override { EndProgress(); }
  void OutputWritten(const QString& path) override {
    ++filesWritten;
    if (!listFiles_) return;
    // The path goes above the progress line, which is then drawn again below it.
    if (shown_) std::fputs("\r\033[K", stderr);
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    if (shown_) std::fprintf(stderr, "%s", qPrintable(label_));
  }
  void OutputFailed(const QString& path, const QString& reason) override {
    if (filesFailed++ == 0) firstFailure = QStringLiteral("%1 (%2)").arg(path, reason);
    // Told before the entry's progress step: the entry is the one after the last counted.
    fileFailures
        << QStringLiteral("entry %1 got no file: %2 (%3)").arg(value_ + 1).arg(path, reason);
  }
  void EntryUnreadable(const QString& folder, int position, const QString& reason) override {
    unreadable << QStringLiteral("entry %1 of \"%2\" cannot be read: %3")
                      .arg(position)
                      .arg(folder, reason);
  }
  void EndProgress() {
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
  }

  QString completion;
  int filesWritten = 0;
  int filesFailed = 0;
  QString firstFailure;      // the first file that could not be written, and why
  QStringList fileFailures;  // each contact that got no file of its own
  QStringList unreadable;    // each entry that could not be read whole

 private:
  bool listFiles_;
  bool progress_;
  bool shown_ = false;
  int total_ = 0;
  int value_ = 0;
  QString label_;
  QElapsedTimer timer_;
};

}  // namespace

int ExportVerb(const QStringList& arguments) {
  QStringList args = arguments;
  StoreOptions options;
  QString error;
  QString format;
  QString out;
  QString codePage;
  if (!TakeOption(args, QStringLiteral("--format"), format, error) ||
      !TakeOption(args, QStringLiteral("--out"), out, error) ||
      !TakeOption(args, QStringLiteral("--code-page"), codePage, error) ||
      !TakeStoreOptions(args, options, error))
    return UsageError(kVerb, error);
  if (options.help) {
    PrintHelp();
    return 0;
  }
  if (options.json) return UsageError(kVerb, QStringLiteral("export has no --json output"));

  OutputOptions output;
  if (format == u"vcard") {
    output.vCardComplete = true;
  } else if (format == u"vcards") {
    output.vCardEach = true;
  } else if (format == u"xls") {
    output.excel = true;
  } else if (format == u"wab") {
    output.wab = true;
  } else {
    return UsageError(kVerb, format.isEmpty()
                                 ? QStringLiteral("--format is missing (vcard, vcards, xls or wab)")
                                 : QStringLiteral("unknown format '%1': use vcard, vcards, xls "
                                                  "or wab")
                                       .arg(format));
  }
  if (out.isEmpty()) return UsageError(kVerb, QStringLiteral("--out DIR is missing"));
  if (!codePage.isEmpty()) {
    bool number = false;
    const int page = codePage.toInt(&number);
    if (!number ||
        std::find(std::begin(kCodePages), std::end(kCodePages), page) == std::end(kCodePages))
      return UsageError(kVerb, QStringLiteral("unknown code page '%1'").arg(codePage));
    SetAnsiCodePage(page);
  }

  const QString dir = QDir(out).absolutePath();
  if (QFileInfo(dir).exists() && !QFileInfo(dir).isDir())
    return Failure(
        kVerb, QStringLiteral("%1 is a file, not a folder: choose a folder for --out").arg(dir));
  SourceOptions source;
  try {
    const ContactsSource contacts = OpenContactsSource(options);
    if (!contacts.isContacts)
      Warn(kVerb, QStringLiteral("\"%1\" is not a contacts folder (its class is %2); exporting "
                                 "its entries anyway")
                      .arg(contacts.folderPath, contacts.folder->ContainerClass().isEmpty()
                                                    ? QStringLiteral("none")
                                                    : contacts.folder->ContainerClass()));
    // A named store file is exported as the desktop exports a scanned file: the run reopens
    // the folder the scan picked. Without one, the run takes the default store's contacts.
    if (!options.store.isEmpty() || !options.folder.isEmpty()) {
      Module1::FilePath = contacts.storePath;
      Module1::PickedFolder = contacts.folder;
      Module1::PickedFolderPath = contacts.folderPath;
      source.selectStore = true;
    } else {
      source.defaultStore = true;
    }
  } catch (const StoreError& failure) {
    return Failure(kVerb, QString::fromUtf8(failure.what()));
  }

  // The folder is made only once the store has opened: a store that fails leaves no empty
  // folder behind.
  if (!QDir().mkpath(dir))
    return Failure(kVerb, QStringLiteral("cannot create the folder %1: check that its parent "
                                         "exists and that you may write there")
                              .arg(dir));
  Module1::SetFolderBrowser([dir](int32_t, const QString&) { return dir; });
  ConsoleView view(output.vCardEach || output.vCardComplete);
  const RunResult result = RunConversion(source, output, view);
  view.EndProgress();
  if (result.status != RunResult::kCompleted)
    return Failure(kVerb,
                   result.error.isEmpty() ? QStringLiteral("nothing was exported") : result.error);
  // The run goes on to its completion whatever a file's writes gave; here a file that is not
  // whole is a failure, not a success.
  const QString freeSpace =
      QStringLiteral("free some disk space or choose another folder for --out");
  if (!output.vCardEach && view.filesFailed > 0)
    return Failure(kVerb, QStringLiteral("the contacts could not be written: %1; %2")
                              .arg(view.firstFailure, freeSpace));
  if (!output.vCardEach && !output.vCardComplete && !result.outputPath.isEmpty())
    std::printf("%s\n", qPrintable(result.outputPath));
  if (output.vCardEach && view.filesFailed > 0 && view.filesWritten == 0)
    return Failure(kVerb,
                   QStringLiteral("none of the %1 contacts could be written, the first %2; %3")
                       .arg(result.contacts)
                       .arg(view.firstFailure, freeSpace));
  // Work that ran to its end but is not whole is listed entry by entry, then summed up; the
  // completion text of the desktop program would claim a success that this is not.
  QStringList summary;
  for (const QString& line : view.unreadable) Warn(kVerb, line);
  if (!view.unreadable.isEmpty()) {
    const QString consequence =
        output.wab ? QStringLiteral("they are not in the address book")
                   : QStringLiteral("their cards repeat values of the entry before them");
    summary << QStringLiteral("%1 of %2 entries could not be read (%3)")
                   .arg(view.unreadable.size())
                   .arg(result.contacts)
                   .arg(consequence);
  }
  if (output.vCardEach && view.filesFailed > 0) {
    for (const QString& line : view.fileFailures) Warn(kVerb, line);
    summary << QStringLiteral("%1 of %2 contacts got no file (%3)")
                   .arg(view.filesFailed)
                   .arg(result.contacts)
                   .arg(freeSpace);
  }
  if (!summary.isEmpty()) {
    std::fprintf(stderr, "lumivex-cli %s: incomplete: %s; see the lines above\n", qPrintable(kVerb),
                 qPrintable(summary.join(QStringLiteral("; "))));
    return kExitIncomplete;
  }
  std::printf("%s\n", qPrintable(view.completion));
  return kExitSuccess;
}

}  // namespace lumivex::cli
