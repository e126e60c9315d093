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

}  // namespace

void PrintExportHelp() {
  std::fputs(
      "Usage: lumivex-cli export --format FORMAT --out DIR [STORE] [--folder PATH]\n"
      "                          [--code-page N]\n"
      "       lumivex-cli export --format vcard4|vcard3|csv [--per-contact] --out FILE|DIR\n"
      "                          [--all-folders] [STORE] [--folder PATH]\n"
      "Exports the contacts of an Outlook data file (.pst or .ost). The forms vcard, vcards,\n"
      "xls and wab write into DIR the same files as the desktop program's \"Start\n"
      "Conversion\"; vcard4, vcard3 and csv write every field of every contact in UTF-8 for\n"
      "the address books of other programs (Evolution, GNOME Contacts, KDE, Thunderbird,\n"
      "Nextcloud, Google Contacts).\n"
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
      "                     xls     one Excel worksheet (BIFF 2.1), OutlookContacts-...xls;\n"
      "                             it holds 32,766 contacts at most (one row each): of a\n"
      "                             larger folder the first 32,766 are written, the export\n"
      "                             says how many were left out and ends with 3; csv holds\n"
      "                             them all"
      "                     wab     one Windows Address Book file, OutlookContacts-...wab\n"
      "                     vcard4  vCard 4.0 (RFC 6350), for KDE, Thunderbird, Nextcloud and\n"
      "                             other CardDAV servers\n"
      "                     vcard3  vCard 3.0 (RFC 2426), for importers that do not take 4.0:\n"
      "                             Evolution and GNOME Contacts (which read every field of\n"
      "                             it, picture and anniversary included), Google Contacts,\n"
      "                             Apple devices, older phones\n"
      "                     csv     one CSV file (RFC 4180, UTF-8) under the column headings of\n"
      "                             Outlook's own CSV export (\"First Name\", \"E-mail Address\",\n"
      "                             \"Business Street\", ...), which Google Contacts and\n"
      "                             Thunderbird import by name\n"
      "  --out DIR        the folder to write into; it is created when missing. Files of the\n"
      "                   same name already there are replaced\n"
      "  --out FILE|DIR   (vcard4, vcard3, csv) the file to write; or a folder (one that\n"
      "                   exists, or a path ending in '/') to write\n"
      "                   Contacts-YYYY-MM-DD-hhmmss.vcf (.csv) into. The file appears only\n"
      "                   once it is whole: an export that fails leaves nothing half-written\n"
      "                   and a file of that name as it was\n"
      "  --per-contact    (vcard4, vcard3) one .vcf per contact in the folder --out, named\n"
      "                   after the contact (\"Ann Lee.vcf\", then \"Ann Lee (2).vcf\"), with the\n"
      "                   characters Windows or Linux cannot hold in a file name made \"_\".\n"
      "                   Files of the same name already there are replaced\n"
      "  --all-folders    (vcard4, vcard3, csv) every contacts folder of the store, the\n"
      "                   hidden and search folders left out, instead of one. With more\n"
      "                   than one, each contact gets its folder's path as a category\n"
      "                   (\"Contacts/Suppliers\")\n"
      "  STORE            the .pst or .ost file; left out, the default store is used: the file\n"
      "                   named by LUMIVEX_DEFAULT_STORE, else the first .pst/.ost in\n"
      "                   ~/Documents/Outlook Files or ~/AppData/Local/Microsoft/Outlook (also\n"
      "                   inside Wine prefixes, ~/.wine/drive_c/users/*/)\n"
      "  --folder PATH    export this folder instead of the store's default contacts folder;\n"
      "                   PATH is the folder names from the top down joined by '/', as\n"
      "                   'lumivex-cli folders' prints them (\"Top of Personal "
      "Folders/Contacts\")\n"
      "  --code-page N    (vcard, vcards, xls, wab) the Windows code page of the text in the\n"
      "                   files. By default it is the one of your locale (LC_ALL, else\n"
      "                   LC_CTYPE, else LANG): 1252 for\n"
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
      "vcard4 and vcard3 carry every field: name parts, nickname, company, department, job\n"
      "title, profession, the three e-mail addresses, every telephone, the business, home and\n"
      "other addresses, web pages, birthday, anniversary, gender, spouse, children, manager,\n"
      "assistant, categories, IM and free/busy addresses, notes, the picture, the time of the\n"
      "last change and a UID that stays the same at every export of the same store. Values are\n"
      "escaped and long lines folded as the standards say, so multi-line notes and streets\n"
      "come through whole. csv has a column for each of these but the picture and UID.\n"
      "\n"
      "Distribution lists: in vcard4 a card with KIND:group and a MEMBER line per member\n"
      "(mailto: its address; urn:uuid: for a member without one); in vcard3 a card with\n"
      "X-ADDRESSBOOKSERVER-KIND:group and X-ADDRESSBOOKSERVER-MEMBER lines, as Apple's and\n"
      "Nextcloud's address books write groups. Both also list the members in the card's note,\n"
      "one \"Name <address>\" a line, so that importers without groups keep them. In csv a list\n"
      "is a row with its name as \"First Name\" and its members in \"Notes\".\n"
      "\n"
      "Prints the path of each file written, then \"N Contacts Saved Successfully\". While it\n"
      "works, \"Saving Contacts n/N\" is shown on stderr when stderr is a terminal.\n"
      "N is the true number. The desktop window counts with 16-bit counters and so shows at\n"
      "most 32,767 (its worksheet holds 32,766 contacts): for larger folders use this command\n"
      "line, and csv, vcard4 or vcard3 where a worksheet cannot hold them all.\n"
      "A folder without contacts is not exported: the export says so, writes nothing and\n"
      "ends with 1.\n"
      "With vcard4, vcard3 and csv an entry that cannot be read is never written with values\n"
      "of another: it is left out and listed on stderr as it is met,\n"
      "  lumivex-cli export: warning: entry 7 of \"Top of Personal Folders/Contacts\" cannot\n"
      "  be read: REASON\n"
      "and a summary line follows the export.\n"
      "A single file (of every form) is written under a temporary name beside it and takes its\n"
      "name only when it is whole: a failed export (a full disk) leaves no cut-short file.\n"
      "\n"
      "Exit status:\n"
      "  0  every entry was read and written\n"
      "  1  the store, folder or output cannot be used, or the file could not be written\n"
      "     whole (one line on stderr says why); nothing is left under the file's name\n"
      "  2  bad arguments\n"
      "  3  the export ran to its end, but some entries of the store could not be read, or\n"
      "     some contacts got no file of their own: each is listed on stderr (folder,\n"
      "     position, reason), then a summary line. In vcard, vcards and xls their cards and\n"
      "     rows repeat values of the entry before them, as in the desktop program; the\n"
      "     address book, vcard4, vcard3 and csv leave them out\n"
      "\n"
      "Examples:\n"
      "  lumivex-cli export --format vcard --out ~/contacts ~/Outlook.pst\n"
      "  lumivex-cli export --format vcards --out cards --folder \"Top of Personal "
      "Folders/Clients\" old.pst\n"
      "  LC_ALL=ru_RU.UTF-8 lumivex-cli export --format xls --out . ~/Outlook.pst\n"
      "  lumivex-cli export --format vcard4 --out ~/contacts.vcf ~/Outlook.pst\n"
      "  lumivex-cli export --format vcard3 --per-contact --all-folders --out cards/ old.pst\n"
      "  lumivex-cli export --format csv --out google.csv ~/Outlook.pst\n",
      stdout);
}

namespace {

// The run's window on the command line: progress on stderr when it is a terminal, the files
// written on stdout as they are finished, the completion text kept for the end.
class ConsoleView : public ConversionView {
 public:
  explicit ConsoleView(bool listFiles) : listFiles_(listFiles), progress_(isatty(2) == 1) {
    timer_.start();
  }

  void SetProgressRange(int, int maximum) override { total_ = maximum; }
  void SetProgressValue(int value) override { value_ = value; }
  void SetProgressCount(int n, int count) override {
    if (progress_) SetProgressLabel(ProgressLabel(n, count));  // a terminal shows it
  }
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
    // Below the progress line on a terminal the path must show now; into a file or a pipe the
    // paths go in large writes (warnings on stderr flush them first, to keep their order).
    if (shown_) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s", qPrintable(label_));
    }
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
  {
    // The forms for other address books take options of their own.
    QStringList probe = arguments;
    QString format;
    QString error;
    if (TakeOption(probe, QStringLiteral("--format"), format, error) && IsUtf8ExportFormat(format))
      return Utf8ExportVerb(arguments);
  }
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
    PrintExportHelp();
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
                                 ? QStringLiteral("--format is missing (vcard, vcards, xls, wab, "
                                                  "vcard4, vcard3 or csv)")
                                 : QStringLiteral("unknown format '%1': use vcard, vcards, xls, "
                                                  "wab, vcard4, vcard3 or csv")
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
  std::shared_ptr<Folder> folder;  // kept to ask, after the run, whether entries were missing
  QString folderPath;
  try {
    const ContactsSource contacts = OpenContactsSource(options);
    folder = contacts.folder;
    folderPath = contacts.folderPath;
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

  // A folder without entries has nothing to export (one whose list of entries lost some is
  // damage, reported below).
  try {
    if (folder->GetItems()->Count() == 0 && folder->MissingEntries().isEmpty()) {
      return Failure(kVerb, QStringLiteral("the folder \"%1\" holds no contacts; nothing was "
                                           "written")
                                .arg(folderPath));
    }
  } catch (const StoreError&) {
    // The run reports a folder it cannot read.
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
                       .arg(result.entries)
                       .arg(view.firstFailure, freeSpace));
  // Work that ran to its end but is not whole is listed entry by entry, then summed up; the
  // completion text of the desktop program would claim a success that this is not.
  QStringList summary;
  for (const QString& line : view.unreadable) Warn(kVerb, line);
  QString missing;
  try {
    missing = folder->MissingEntries();
  } catch (const std::exception&) {
  }
  if (!missing.isEmpty()) {
    Warn(kVerb, QStringLiteral("\"%1\" is damaged: %2").arg(folderPath, missing));
    summary << QStringLiteral("entries are missing from the folder's list, so from the export");
  }
  if (!view.unreadable.isEmpty()) {
    const QString consequence =
        output.wab ? QStringLiteral("they are not in the address book")
                   : QStringLiteral("their cards repeat values of the entry before them");
    summary << QStringLiteral("%1 of %2 entries could not be read (%3)")
                   .arg(view.unreadable.size())
                   .arg(result.entries)
                   .arg(consequence);
  }
  if (output.vCardEach && view.filesFailed > 0) {
    for (const QString& line : view.fileFailures) Warn(kVerb, line);
    summary << QStringLiteral("%1 of %2 contacts got no file (%3)")
                   .arg(view.filesFailed)
                   .arg(result.entries)
                   .arg(freeSpace);
  }
  // The worksheet holds as many rows as its 16-bit row counter counts; the contacts beyond them
  // are in no row.
  constexpr int kWorksheetContacts = 32766;
  if (output.excel && result.entries > kWorksheetContacts)
    summary << QStringLiteral(
                   "the worksheet holds %1 contacts, its most; the other %2 of the "
                   "folder's %3 were left out (--format csv holds them all)")
                   .arg(kWorksheetContacts)
                   .arg(result.entries - kWorksheetContacts)
                   .arg(result.entries);
  if (!summary.isEmpty()) {
    // Warnings above name the entries; a worksheet that is only full has none.
    const bool listed = !missing.isEmpty() || !view.unreadable.isEmpty() ||
                        (output.vCardEach && view.filesFailed > 0);
    std::fflush(stdout);
    std::fprintf(stderr, "lumivex-cli %s: incomplete: %s%s\n", qPrintable(kVerb),
                 qPrintable(summary.join(QStringLiteral("; "))),
                 listed ? "; see the lines above" : "");
    return kExitIncomplete;
  }
  // The window's text counts to 32,767; the true number is given here.
  QString completion = view.completion;
  if (completion.endsWith(QStringLiteral(" Contacts Saved Successfully")))
    completion = QString::number(result.entries) + QStringLiteral(" Contacts Saved Successfully");
  std::printf("%s\n", qPrintable(completion));
  return kExitSuccess;
}

}  // namespace lumivex::cli
