// lumivex-cli scan: counts the entries of a contacts folder from the folder's list of them;
// with --check it also reads every entry, as an export would, to list those that cannot be read.
#include "cli/CliCommon.h"
#include "cli/Command.h"
#include "cli/Verbs.h"
#include "contact/Contact.h"
#include "source/StoreBackend.h"

#include <QFileInfo>

#include <cstdio>

namespace lumivex::cli {

namespace {

const QString kVerb = QStringLiteral("scan");

const Command& ScanCommand() {
  static const Command command(
      kVerb,
      QStringLiteral(
          "Counts the entries of a contacts folder of an Outlook data file (.pst or .ost).\n"),
      {
          StoreOperand(),
          FolderOption(QStringLiteral(
              "count this folder instead of the store's default contacts folder; PATH is\n"
              "the folder names from the top down joined by '/', as 'lumivex-cli folders'\n"
              "prints them (e.g. \"Top of Personal Folders/Contacts\"). A folder that is\n"
              "not a contacts folder is counted too, with a warning on stderr; the\n"
              "desktop program refuses such folders\n")),
          {QStringLiteral("--check"), QString(),
           QStringLiteral(
               "also read every entry, so that the entries an export could not read\n"
               "whole are listed on stderr (position and reason), followed by a\n"
               "summary line; with --json they are also in \"unreadable\" (entries\n"
               "that cannot be read) and \"damaged\" (read, but the store lost a part of\n"
               "each). This takes about as long as an export\n")},
          JsonOption(QStringLiteral("print the result as one JSON object\n")),
      },
      QStringLiteral("Prints the number of entries (contacts and distribution lists), taken from "
                     "the folder's\n"
                     "list of its entries: a second or less for a million. Entries that the folder "
                     "records but\n"
                     "its list lacks are reported on stderr, as is damage of the store found "
                     "while reading it\n"
                     "(with --json in \"storeDamage\").\n"
                     "Exit status: 0 counted (and, with --check, every entry readable and "
                     "whole), 1 the store or\n"
                     "folder cannot be read (one line on stderr says why), 2 bad arguments, 3 "
                     "counted, but the\n"
                     "store is damaged, entries are missing from the folder's list or (--check) "
                     "cannot be read whole.\n"));
  return command;
}

struct Unreadable {
  int position;  // 1-based
  QString reason;
  bool damaged = false;  // read, but not whole: the store lost a part of it
};

// Every entry read as the exports and the send read it (ReadContact): one that cannot be read
// is listed with why, one read without a part of it (a field that could not be read, a part the
// store lost) as damaged, in the same words as theirs.
std::vector<Unreadable> UnreadableEntries(const Items& items, int count) {
  std::vector<Unreadable> found;
  contact::Contact contact;  // one for every entry, as an export reads them
  for (int i = 0; i < count; ++i) {
    QString why;
    bool read = false;
    try {
      const std::unique_ptr<ContactEntry> entry = items.Item(i);
      read = entry && entry->ReadContact(contact, why);
      if (!read && why.isEmpty() && entry) why = entry->Failure();
      if (read && why.isEmpty()) why = entry->Damage();
    } catch (const std::exception& error) {
      why = QString::fromUtf8(error.what());
    }
    if (!read && why.isEmpty()) why = QStringLiteral("the entry cannot be opened");
    if (!why.isEmpty()) found.push_back({i + 1, why, read});
  }
  return found;
}

constexpr int kMaxFolderDepth = 64;  // a damaged store could nest its folders in a loop

// The branches of the folder tree under `folder` that cannot be read, as `folders` marks them:
// a folder whose own node cannot be read, and a folder whose list of sub-folders cannot. A line
// in `told` (the store's damage, found while looking for the contacts folder) is not added again.
void UnreadableBranches(const Folder& folder, int depth, QStringList& told) {
  if (depth >= kMaxFolderDepth) return;
  std::vector<std::shared_ptr<Folder>> subs;
  try {
    subs = folder.SubFolders();
  } catch (const StoreError&) {
    // In the words of the store's own line for it, so that one branch is told once.
    const QString why = QStringLiteral(
                            "the folders under \"%1\" cannot be read (the folder tree is "
                            "damaged), so a contacts folder among them would not be found")
                            .arg(folder.Path());
    if (!told.contains(why)) told << why;
    return;
  }
  for (const auto& sub : subs) {
    if (const QString damage = sub->Unreadable(); !damage.isEmpty()) {
      told << QStringLiteral(
                  "a folder %1 cannot be read (%2; the folder tree is damaged), so a contacts "
                  "folder in it would not be found")
                  .arg(folder.Path().isEmpty() ? QStringLiteral("at the top of the folder tree")
                                               : QStringLiteral("under \"%1\"").arg(folder.Path()),
                       damage);
      continue;
    }
    UnreadableBranches(*sub, depth + 1, told);
  }
}

}  // namespace

int ScanVerb(const QStringList& arguments) {
  Arguments args;
  if (const int status = ScanCommand().Parse(arguments, args); status >= 0) return status;
  const bool check = args.Has(QStringLiteral("--check"));
  try {
    const ContactsSource source = OpenContactsFolder(kVerb, StoreOptionsOf(args), "counting");
    const std::shared_ptr<Items> items = source.folder->GetItems();
    const int count = items->Count();
    const std::vector<Unreadable> problems =
        check ? UnreadableEntries(*items, count) : std::vector<Unreadable>();
    std::vector<Unreadable> unreadable, damaged;
    for (const Unreadable& p : problems) (p.damaged ? damaged : unreadable).push_back(p);
    const QString missing = source.folder->MissingEntries();
    // An empty default contacts folder, where other folders hold the store's contacts: where.
    const QString elsewhere = count == 0 && args.Value(QStringLiteral("--folder")).isEmpty()
                                  ? ContactsKeptElsewhere(source.storePath, false)
                                  : QString();
    // Known once the store is read (what another reader found, when ours could not read it).
    QStringList storeDamage = source.folder->StoreDamage();
    // The branches of the folder tree that cannot be read, which `folders` marks: a contacts
    // folder in them is not counted.
    try {
      UnreadableBranches(*OpenStoreFile(source.storePath)->RootFolder(), 0, storeDamage);
    } catch (const StoreError&) {
      // The store was read once already: what fails now is told by what was read then.
    }
    if (args.Has(QStringLiteral("--json"))) {
      const auto list = [](const std::vector<Unreadable>& entries) {
        QStringList listed;
        for (const Unreadable& entry : entries)
          listed << QStringLiteral("{\"position\":%1,\"reason\":%2}")
                        .arg(entry.position)
                        .arg(JsonString(entry.reason));
        return listed.join(u',');
      };
      QStringList storeLines;
      for (const QString& line : storeDamage) storeLines << JsonString(line);
      std::printf(
          "{\"store\":%s,\"folder\":%s,\"containerClass\":%s,\"contactsFolder\":%s,"
          "\"count\":%d,\"unreadable\":[%s],\"missing\":%s,\"damaged\":[%s],"
          "\"storeDamage\":[%s]}\n",
          qPrintable(JsonString(QFileInfo(source.storePath).absoluteFilePath())),
          qPrintable(JsonString(source.folderPath)),
          qPrintable(JsonString(source.folder->ContainerClass())),
          source.isContacts ? "true" : "false", count, qPrintable(list(unreadable)),
          missing.isEmpty() ? "null" : qPrintable(JsonString(missing)), qPrintable(list(damaged)),
          qPrintable(storeLines.join(u',')));
    } else {
      std::printf("%d %s in \"%s\" of %s\n", count, count == 1 ? "entry" : "entries",
                  qPrintable(source.folderPath), qPrintable(source.storePath));
    }
    if (!elsewhere.isEmpty())
      Warn(kVerb,
           QStringLiteral("\"%1\" holds no entries, but %2").arg(source.folderPath, elsewhere));
    if (problems.empty() && missing.isEmpty() && storeDamage.isEmpty()) return kExitSuccess;
    for (const QString& line : storeDamage)
      Warn(kVerb, QStringLiteral("%1: %2").arg(source.storePath, line));
    for (const Unreadable& entry : problems)
      Warn(kVerb, QStringLiteral("entry %1 of \"%2\" %3: %4")
                      .arg(entry.position)
                      .arg(source.folderPath,
                           entry.damaged ? QStringLiteral("is not whole")
                                         : QStringLiteral("cannot be read"),
                           entry.reason));
    if (!missing.isEmpty())
      Warn(kVerb, QStringLiteral("\"%1\" is damaged: %2").arg(source.folderPath, missing));
    QStringList summary;
    if (!storeDamage.isEmpty())
      summary << QStringLiteral(
          "the store is damaged, so what is read of it may lack values or hold wrong ones");
    if (!unreadable.empty())
      summary << QStringLiteral(
                     "%1 of %2 entries cannot be read (an export leaves them out or, in the "
                     "vcard, vcards and xls forms, repeats values of the entry before each)")
                     .arg(unreadable.size())
                     .arg(count);
    if (!damaged.empty())
      summary << QStringLiteral("%1 of %2 entries are not whole (the store lost a part of each)")
                     .arg(damaged.size())
                     .arg(count);
    if (!missing.isEmpty()) summary << QStringLiteral("entries are missing from the folder's list");
    std::fprintf(stderr, "lumivex-cli %s: incomplete: %s; see the lines above\n", qPrintable(kVerb),
                 qPrintable(summary.join(QStringLiteral("; "))));
    return kExitIncomplete;
  } catch (const StoreError& failure) {
    return Failure(kVerb, QString::fromUtf8(failure.what()));
  }
}

}  // namespace lumivex::cli
