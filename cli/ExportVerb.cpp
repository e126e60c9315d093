// lumivex-cli export: its options and help, read once, then the export in the forms' encoding
// (cli/ExportCodePage.cpp, cli/ExportUtf8.cpp).
#include "cli/Command.h"
#include "cli/DamageLog.h"
#include "cli/Export.h"
#include "cli/Verbs.h"

#include <algorithm>
#include <iterator>

namespace lumivex::cli {

const QString kExportVerb = QStringLiteral("export");

namespace {

constexpr int kCodePages[] = {874,  932,  936,  949,  950,  1250, 1251,
                              1252, 1253, 1254, 1255, 1256, 1257, 1258};

const Command& ExportCommand() {
  static const Command command(
      kExportVerb,
      QStringLiteral(
          "Exports the contacts of an Outlook data file (.pst or .ost). The forms vcard, vcards,\n"
          "xls and wab write into DIR the same files as the desktop program's \"Start\n"
          "Conversion\"; vcard4, vcard3 and csv write every field of every contact in UTF-8 for\n"
          "the address books of other programs (Evolution, GNOME Contacts, KDE, Thunderbird,\n"
          "Nextcloud, Google Contacts).\n"),
      {
          {QStringLiteral("--format"), QStringLiteral("FORMAT"),
           QStringLiteral(
               "what to write:\n"
               "  vcard   one vCard 2.1 file holding every contact, named\n"
               "          OutlookContacts-DD-MM-YYYY-hh-mm-ss.vcf after the moment\n"
               "          of the export (a second export within the same second\n"
               "          replaces it)\n"
               "  vcards  one vCard 2.1 file per contact, named first name + last\n"
               "          name + a number from 1 to 40000 + .vcf (AnnLee123.vcf;\n"
               "          123.vcf for a contact without names). The numbers come in\n"
               "          the same order at every start, so exporting the same folder\n"
               "          again into DIR replaces the files of the last export\n"
               "  xls     one Excel worksheet (BIFF 2.1), OutlookContacts-...xls;\n"
               "          it holds 32,766 contacts at most (one row each): of a larger\n"
               "          folder the first 32,766 are written, the export says how many\n"
               "          were left out and ends with 3; csv holds them all\n"
               "  wab     one Windows Address Book file, OutlookContacts-...wab\n"
               "  vcard4  vCard 4.0 (RFC 6350), for Thunderbird, Nextcloud and\n"
               "          other CardDAV servers\n"
               "  vcard3  vCard 3.0 (RFC 2426), for importers that do not take 4.0:\n"
               "          Evolution and GNOME Contacts (which read every field of\n"
               "          it, picture and anniversary included), Google\n"
               "          Contacts, Apple devices, older phones; and for KDE, whose\n"
               "          reader takes 3.0's pictures as images and its preferred\n"
               "          phones, where it keeps a 4.0 picture only as a link\n"
               "  csv     one CSV file (RFC 4180, UTF-8) under the column headings of\n"
               "          Outlook's own CSV export (\"First Name\", \"E-mail Address\",\n"
               "          \"Business Street\", ...), which Google Contacts and\n"
               "          Thunderbird import by name\n"),
           true},
          {QStringLiteral("--out"), QStringLiteral("DIR|FILE"),
           QStringLiteral("(vcard, vcards, xls, wab) the folder to write into; it is created\n"
                          "when missing. Files of the same name already there are replaced.\n"
                          "(vcard4, vcard3, csv) the file to write; or a folder (one that\n"
                          "exists, or a path ending in '/') to write\n"
                          "Contacts-YYYY-MM-DD-hhmmss.vcf (.csv) into (-2, -3... after the\n"
                          "time where that name is taken). The file appears only\n"
                          "once it is whole: an export that fails leaves nothing half-written\n"
                          "and a file of that name as it was\n"),
           true},
          [] {
            Option stores = StoreOperand();
            stores.help += QStringLiteral(
                "(vcard4, vcard3, csv) several stores may be given: their contacts\n"
                "go into one file, the entries of one person merged (see --no-merge)\n");
            stores.repeatable = true;
            return stores;
          }(),
          FolderOption(QStringLiteral(
              "export this folder instead of the store's default contacts folder;\n"
              "PATH is the folder names from the top down joined by '/', as\n"
              "'lumivex-cli folders' prints them (\"Top of Personal Folders/Contacts\")\n")),
          {QStringLiteral("--code-page"), QStringLiteral("N"),
           QStringLiteral("(vcard, vcards, xls, wab) the Windows code page of the text in the\n"
                          "files. By default it is the one of your locale (LC_ALL, else\n"
                          "LC_CTYPE, else LANG): 1252 for\n"
                          "English and Western European languages, 1250 Central European, 1251\n"
                          "Cyrillic, 1253 Greek, 1254 Turkish, 1255 Hebrew, 1256 Arabic, 1257\n"
                          "Baltic, 1258 Vietnamese, 874 Thai, 932 Japanese, 936 Simplified\n"
                          "Chinese, 949 Korean, 950 Traditional Chinese. Characters the code\n"
                          "page cannot hold become their nearest letter or '?'\n")},
          {QStringLiteral("--per-contact"), QString(),
           QStringLiteral(
               "(vcard4, vcard3) one .vcf per contact in the folder --out, named\n"
               "after the contact (\"Ann Lee.vcf\", then \"Ann Lee (2).vcf\"), with the\n"
               "characters Windows or Linux cannot hold in a file name made \"_\".\n"
               "Files of the same name already there are replaced\n")},
          {QStringLiteral("--all-folders"), QString(),
           QStringLiteral("(vcard4, vcard3, csv) every folder of the store that holds\n"
                          "contacts or lists, whatever its class (contacts kept among mail\n"
                          "too, without the mail), the hidden and search folders left out,\n"
                          "instead of one. Where more than one gives contacts, each contact\n"
                          "gets its folder's path below the top as a category\n"
                          "(\"Contacts/Suppliers\"). A folder that cannot be read is listed\n"
                          "on stderr, the others are exported, and the status is 3. Deleted\n"
                          "items, the contacts the mail client collected by itself (Suggested\n"
                          "Contacts, the recipient cache, copies of the address list) and\n"
                          "synchronisation conflicts are left out, each named on stderr, unless\n"
                          "--folder names one. With several stores, of each store\n")},
          {QStringLiteral("--exclude-folder"), QStringLiteral("PATH"),
           QStringLiteral("(vcard4, vcard3, csv) with --all-folders, leave out this folder of\n"
                          "every store (as 'lumivex-cli folders' prints it); may be repeated\n"),
           false, true},
          {QStringLiteral("--no-merge"), QString(),
           QStringLiteral(
               "(vcard4, vcard3, csv) keep every entry as it is (an entry that copies\n"
               "of one store each added after they parted, under one entry id, gets a\n"
               "UID of its own in the copy named later). By default the entries of one\n"
               "person, in one store or several, become one contact: entries whose\n"
               "names do not conflict (case, accents, spacing and \"Last, First\" aside;\n"
               "a missing middle name is no conflict, another given name, surname,\n"
               "suffix (Jr., Sr.; a degree such as PhD is none) or birthday is) and\n"
               "that share an e-mail address (Exchange entries by their SMTP address)\n"
               "or a telephone number of their own (the whole number with country code\n"
               "and extension; without a country code, one of your locale's country);\n"
               "copies of one entry; entries equal in every field; lists of the same\n"
               "name whose members are the same people. An entry without a name joins\n"
               "only a contact that alone holds its address or number. The contact has\n"
               "every e-mail address, phone, address and category of its entries, the\n"
               "other values of the most recently changed entry (older different ones\n"
               "as \"Earlier: ...\" lines of its notes; in vCard an older company and\n"
               "job title as a second ORG and TITLE), their different notes one after\n"
               "another, and the UID of its entry in the first store named that holds\n"
               "one (so naming further stores after it leaves every UID as it was)\n")},
          {QStringLiteral("--accept-suggestions"), QString(),
           QStringLiteral("(vcard4, vcard3, csv) also join the entries merging only suggests:\n"
                          "the same name and company, or an e-mail address in common under\n"
                          "another surname (a maiden name). Without it they stay apart and\n"
                          "--merge-report and --dry-run list them. An entry suggested with two\n"
                          "people (it holds an address or number of each) stays apart still:\n"
                          "join it to the right one in the window's review\n")},
          {QStringLiteral("--merge-report"), QStringLiteral("FILE"),
           QStringLiteral("(vcard4, vcard3, csv) write a CSV file of what was merged: a row per\n"
                          "entry of each merged contact (\"merged\", contact number, store,\n"
                          "folder, position in the folder, last change, the rule that joined\n"
                          "that entry to the others, the e-mail address or number that matched,\n"
                          "the entry's own name, its values the contact does not hold as they\n"
                          "were), then two rows per suggestion (\"suggestion N\", or \"accepted\n"
                          "suggestion N\", each with its contact's number). Contacts are\n"
                          "numbered in the order they are read; vCard writes lists after the\n"
                          "other contacts\n")},
          {QStringLiteral("--dry-run"), QString(),
           QStringLiteral("(vcard4, vcard3, csv) read and merge, print the counts, write no\n"
                          "contacts (a --merge-report is still written)\n")},
          {QStringLiteral("--verbose"), QString(),
           QStringLiteral("list every entry that cannot be read or is not whole; without it the\n"
                          "first twenty are listed, the rest counted by kind\n")},
          {QStringLiteral("--damage-report"), QStringLiteral("FILE"),
           QStringLiteral("write every entry that cannot be read or is not whole into FILE, one\n"
                          "line each, and the damage of a store or folder and each store left\n"
                          "out, as stderr tells them\n")},
      },
      QStringLiteral(
          "Each vCard is the same 22 lines (name, organisation, title, note, six phone numbers,\n"
          "work and home address with postal labels, web page, birthday, e-mail), lines ended by\n"
          "CR LF, values written as they are, as Outlook Express, Lotus Notes and phones import "
          "them.\n"
          "\n"
          "vcard4 and vcard3 carry every field: name parts, nickname, company, department, job\n"
          "title, profession, the three e-mail addresses, every telephone, the business, home and\n"
          "other addresses, web pages, birthday, anniversary, gender, spouse, children, manager,\n"
          "assistant, categories, IM and free/busy addresses, notes, the picture, the time of the\n"
          "last change and a UID that stays the same at every export of the same store. Values "
          "are\n"
          "escaped and long lines folded as the standards say, so multi-line notes and streets\n"
          "come through whole. csv has a column for each of these but the picture and UID.\n"
          "\n"
          "Distribution lists: in vcard4 a card with KIND:group and a MEMBER line per member\n"
          "(urn:uuid: the UID of the member's own card where the export has one, else mailto:\n"
          "its address; urn:uuid: for a member without one), after the other contacts; in\n"
          "vcard3 a card with\n"
          "X-ADDRESSBOOKSERVER-KIND:group and X-ADDRESSBOOKSERVER-MEMBER lines, as Apple's and\n"
          "Nextcloud's address books write groups. Both also list the members in the card's note,\n"
          "one \"Name <address>\" a line, so that importers without groups keep them. In csv a "
          "list\n"
          "is a row with its name as \"First Name\" and its members in \"Notes\".\n"
          "\n"
          "Prints the path of each file written, then \"N Contacts Saved Successfully\". While it\n"
          "works, \"Saving Contacts n/N\" is shown on stderr when stderr is a terminal.\n"
          "N is the true number. The desktop window counts with 16-bit counters and so shows at\n"
          "most 32,767 (its worksheet holds 32,766 contacts): for larger folders use this command\n"
          "line, and csv, vcard4 or vcard3 where a worksheet cannot hold them all.\n"
          "A folder without entries is not exported: the export says so, writes nothing and\n"
          "ends with 1. vcard4, vcard3 and csv take only the contacts and lists of a folder, so\n"
          "of a folder holding none (a mail folder) they too write nothing and end with 1;\n"
          "vcard, vcards, xls and wab write every item of the folder, as the desktop window's\n"
          "conversion does, so a mail folder named by --folder gives a card or row for each\n"
          "message, blank but for its text as the note.\n"
          "With vcard4, vcard3 and csv an entry that cannot be read is never written with values\n"
          "of another: it is left out and listed on stderr as it is met,\n"
          "  lumivex-cli export: warning: entry 7 of \"Top of Personal Folders/Contacts\" cannot\n"
          "  be read: REASON\n"
          "and a summary line follows the export.\n"
          "A single file (of every form) is written under a temporary name beside it and takes "
          "its\n"
          "name only when it is whole: a failed export (a full disk) leaves no cut-short file.\n"
          "\n"
          "Exit status:\n"
          "  0  every entry was read and written\n"
          "  1  the store, folder or output cannot be used, or the file could not be written\n"
          "     whole (one line on stderr says why); nothing is left under the file's name.\n"
          "     Also when no contact could be written: every entry is unreadable (each listed)\n"
          "     and no file is kept\n"
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
          "  lumivex-cli export --format csv --out google.csv ~/Outlook.pst\n"
          "  lumivex-cli export --format vcard4 --all-folders --merge-report merged.csv \\\n"
          "      --out all.vcf Outlook.pst archive.pst old-laptop.pst\n"));
  return command;
}

bool IsCodePageForm(const QString& format) {
  return format == u"vcard" || format == u"vcards" || format == u"xls" || format == u"wab";
}

bool IsUtf8Form(const QString& format) {
  return format == u"vcard4" || format == u"vcard3" || format == u"csv";
}

// What is wrong with a request in a code page, empty when nothing is.
QString CodePageFault(const ExportRequest& request, const QString& codePage) {
  if (request.perContact) return QStringLiteral("--per-contact is for vcard4 and vcard3");
  if (request.allFolders) return QStringLiteral("--all-folders is for vcard4, vcard3 and csv");
  if (request.stores.size() > 1)
    return QStringLiteral(
               "one store file at most for --format %1; several are for vcard4, "
               "vcard3 and csv")
        .arg(request.format);
  if (request.noMerge || request.dryRun || !request.mergeReport.isEmpty() ||
      !request.excludeFolders.isEmpty() || request.acceptSuggestions)
    return QStringLiteral(
        "--no-merge, --accept-suggestions, --merge-report, --dry-run and --exclude-folder are "
        "for vcard4, vcard3 and csv");
  if (request.out.isEmpty()) return QStringLiteral("--out DIR is missing");
  if (!codePage.isEmpty() && request.codePage == 0)
    return QStringLiteral("unknown code page '%1'").arg(codePage);
  return {};
}

// What is wrong with a request in UTF-8, empty when nothing is.
QString Utf8Fault(const ExportRequest& request, const QString& codePage) {
  if (!codePage.isEmpty())
    return QStringLiteral("--format %1 is always written in UTF-8: leave out --code-page")
        .arg(request.format);
  if (request.perContact && request.format == u"csv")
    return QStringLiteral("--per-contact is for vcard4 and vcard3: a CSV file holds every contact");
  if (!request.excludeFolders.isEmpty() && !request.allFolders)
    return QStringLiteral("--exclude-folder is for --all-folders");
  if (request.noMerge && !request.mergeReport.isEmpty())
    return QStringLiteral("--merge-report tells what was merged: leave out --no-merge");
  if (request.noMerge && request.acceptSuggestions)
    return QStringLiteral("--accept-suggestions joins more entries: leave out --no-merge");
  if (request.dryRun && request.out.isEmpty()) return {};
  if (request.out.isEmpty())
    return request.perContact ? QStringLiteral("--out DIR is missing")
                              : QStringLiteral("--out FILE or DIR is missing");
  return {};
}

}  // namespace

int ExportVerb(const QStringList& arguments) {
  Arguments args;
  if (const int status = ExportCommand().Parse(arguments, args); status >= 0) return status;
  ExportRequest request;
  request.format = args.Value(QStringLiteral("--format"));
  request.out = args.Value(QStringLiteral("--out"));
  request.perContact = args.Has(QStringLiteral("--per-contact"));
  request.allFolders = args.Has(QStringLiteral("--all-folders"));
  request.store = StoreOptionsOf(args);
  request.stores = args.Operands();
  request.excludeFolders = args.Values(QStringLiteral("--exclude-folder"));
  request.noMerge = args.Has(QStringLiteral("--no-merge"));
  request.acceptSuggestions = args.Has(QStringLiteral("--accept-suggestions"));
  request.dryRun = args.Has(QStringLiteral("--dry-run"));
  request.mergeReport = args.Value(QStringLiteral("--merge-report"));
  SetDamageOutput(args.Has(QStringLiteral("--verbose")),
                  args.Value(QStringLiteral("--damage-report")));
  const QString codePage = args.Value(QStringLiteral("--code-page"));
  const int page = codePage.toInt();
  if (std::find(std::begin(kCodePages), std::end(kCodePages), page) != std::end(kCodePages))
    request.codePage = page;

  if (IsCodePageForm(request.format)) {
    const QString fault = CodePageFault(request, codePage);
    return fault.isEmpty() ? ExportInCodePage(request) : UsageError(kExportVerb, fault);
  }
  if (IsUtf8Form(request.format)) {
    const QString fault = Utf8Fault(request, codePage);
    return fault.isEmpty() ? ExportInUtf8(request) : UsageError(kExportVerb, fault);
  }
  return UsageError(kExportVerb,
                    request.format.isEmpty()
                        ? QStringLiteral("--format is missing (vcard, vcards, xls, wab, vcard4, "
                                         "vcard3 or csv)")
                        : QStringLiteral("unknown format '%1': use vcard, vcards, xls, wab, "
                                         "vcard4, vcard3 or csv")
                              .arg(request.format));
}

}  // namespace lumivex::cli
