// lumivex-cli folders: prints the folder tree of a store file with each folder's class and
// number of entries, so that a folder can be named with --folder PATH.
#include "cli/CliCommon.h"
#include "cli/Command.h"
#include "cli/Verbs.h"
#include "source/StoreBackend.h"

#include <QFileInfo>

#include <cstdio>

namespace lumivex::cli {

namespace {

const QString kVerb = QStringLiteral("folders");

const Command& FoldersCommand() {
  static const Command command(
      kVerb,
      QStringLiteral(
          "Prints the folder tree of an Outlook data file (.pst or .ost): each folder's name,\n"
          "container class (IPF.Contact for contacts folders) and number of entries, indented by\n"
          "depth. The store's default contacts folder is marked \"(default contacts)\".\n"),
      {
          StoreOperand(QStringLiteral(
              "the .pst or .ost file; left out, the default store (see 'lumivex-cli --help'),\n"
              "named on stderr with the reason it was chosen\n")),
          JsonOption(QStringLiteral(
              "print the tree as one JSON object; each folder has name, path, containerClass,\n"
              "defaultItemType (2 = contacts), count (-1 when unreadable) and folders\n"
              "(with foldersUnreadable, the reason, when its sub-folders cannot be read)\n")),
      },
      QStringLiteral(
          "A folder's path, for --folder PATH of scan and export, is the names from the top down\n"
          "joined by '/', e.g. \"Top of Personal Folders/Contacts\".\n"
          "Exit status: 0 printed, 1 the store cannot be read, 2 bad arguments, 3 printed, but "
          "some\n"
          "folders or their entries cannot be read (each is marked in the tree, and a summary "
          "line\n"
          "goes to stderr).\n"));
  return command;
}

// Branches of the tree and folders whose entries cannot be read, counted for the summary.
int damagedParts = 0;
// Folders whose list of entries lacks some they record (marked in the text tree).
int missingParts = 0;

int EntryCount(const Folder& folder) {
  try {
    return folder.GetItems()->Count();
  } catch (const StoreError&) {
    ++damagedParts;
    return -1;
  }
}

// A folder's name as the tree shows it: a folder without one gets a stand-in, so that its line
// does not look like the one before it, continued or nested.
QString ShownName(const Folder& folder) {
  return folder.Name().isEmpty() ? QStringLiteral("(no name)") : folder.Name();
}

void PrintText(const Folder& folder, int depth, const QString& defaultPath) {
  std::vector<std::shared_ptr<Folder>> subs;
  try {
    subs = folder.SubFolders();
  } catch (const StoreError& failure) {
    // One damaged branch does not hide the rest of the tree.
    ++damagedParts;
    std::printf("%s(sub-folders unreadable: %s)\n", qPrintable(QString(depth * 2, u' ')),
                failure.what());
    return;
  }
  for (const auto& sub : subs) {
    if (const QString damage = sub->Unreadable(); !damage.isEmpty()) {
      // Listed by its parent, but not there to be read.
      ++damagedParts;
      std::printf("%s%s  [unreadable: %s]\n", qPrintable(QString(depth * 2, u' ')),
                  qPrintable(ShownName(*sub)), qPrintable(damage));
      continue;
    }
    const int count = EntryCount(*sub);
    const QString cls =
        sub->ContainerClass().isEmpty() ? QStringLiteral("no class") : sub->ContainerClass();
    const QString entries = count < 0    ? QStringLiteral("entries unreadable")
                            : count == 1 ? QStringLiteral("1 entry")
                                         : QStringLiteral("%1 entries").arg(count);
    // A folder the mail client keeps by itself: said so, as --all-folders leaves it out.
    const FolderRole role = sub->Role();
    const QString leftOut =
        role == FolderRole::kOwn
            ? QString()
            : QStringLiteral("  (not in --all-folders: %1)").arg(FolderRoleText(role));
    // A count from a list that lacks entries the folder records: said beside it, so that 0 is
    // not taken for an empty folder.
    const QString missing = sub->MissingEntries();
    if (!missing.isEmpty()) ++missingParts;
    const QString damaged =
        missing.isEmpty() ? QString() : QStringLiteral("  [damaged: %1]").arg(missing);
    std::printf("%s%s  [%s, %s]%s%s%s\n", qPrintable(QString(depth * 2, u' ')),
                qPrintable(ShownName(*sub)), qPrintable(cls), qPrintable(entries),
                sub->Path() == defaultPath ? "  (default contacts)" : "", qPrintable(leftOut),
                qPrintable(damaged));
    PrintText(*sub, depth + 1, defaultPath);
  }
}

// The sub-folders of `folder` as a JSON array; a folder whose own sub-folders cannot be read
// gets an empty "folders" and the reason in "foldersUnreadable".
QString JsonFolders(const Folder& folder) {
  QStringList items;
  for (const auto& sub : folder.SubFolders()) {
    QString below;
    QString unreadable;
    try {
      below = JsonFolders(*sub);
    } catch (const StoreError& failure) {
      ++damagedParts;
      below = QStringLiteral("[]");
      unreadable = QStringLiteral(",\"foldersUnreadable\":%1")
                       .arg(JsonString(QString::fromUtf8(failure.what())));
    }
    items << QStringLiteral(
                 "{\"name\":%1,\"path\":%2,\"containerClass\":%3,\"defaultItemType\":%4,"
                 "\"count\":%5,\"folders\":%6%7}")
                 // One pass: a "%1" in a folder's name stays as it is.
                 .arg(JsonString(sub->Name()), JsonString(sub->Path()),
                      JsonString(sub->ContainerClass()), QString::number(sub->DefaultItemType()),
                      QString::number(EntryCount(*sub)), below, unreadable);
  }
  return u'[' + items.join(u',') + u']';
}

}  // namespace

int FoldersVerb(const QStringList& arguments) {
  Arguments args;
  if (const int status = FoldersCommand().Parse(arguments, args); status >= 0) return status;
  const StoreOptions options = StoreOptionsOf(args);
  try {
    QString path = options.store;
    if (path.isEmpty()) {
      // Say which file stands for the default profile and why, so a wrong guess is seen at once.
      const DefaultStoreChoice choice = ChooseDefaultStore();
      path = choice.path;
      std::fprintf(stderr, "lumivex-cli folders: default store %s: %s\n", qPrintable(path),
                   qPrintable(choice.reason));
    }
    const std::shared_ptr<Store> store = OpenStoreFile(path);
    const std::shared_ptr<Folder> contacts = store->DefaultContactsFolder();
    const QString defaultPath = contacts ? contacts->Path() : QString();
    if (args.Has(QStringLiteral("--json"))) {
      std::printf("{\"store\":%s,\"displayName\":%s,\"defaultContactsFolder\":%s,\"folders\":%s}\n",
                  qPrintable(JsonString(QFileInfo(path).absoluteFilePath())),
                  qPrintable(JsonString(store->DisplayName())),
                  contacts ? qPrintable(JsonString(defaultPath)) : "null",
                  qPrintable(JsonFolders(*store->RootFolder())));
    } else {
      std::printf("%s (%s)\n", qPrintable(store->DisplayName()), qPrintable(path));
      PrintText(*store->RootFolder(), 1, defaultPath);
    }
    // Damage of the store as a whole (another reader took it, its record key is unknown), told
    // where the tree itself shows none.
    const QStringList damage =
        damagedParts == 0 ? store->RootFolder()->StoreDamage() : QStringList();
    for (const QString& line : damage) Warn(kVerb, QStringLiteral("%1: %2").arg(path, line));
    if (!damage.isEmpty()) {
      std::fflush(stdout);
      std::fprintf(stderr,
                   "lumivex-cli %s: incomplete: the store is damaged; see the lines above\n",
                   qPrintable(kVerb));
      return kExitIncomplete;
    }
    if (damagedParts == 0 && missingParts > 0) {
      std::fflush(stdout);
      std::fprintf(stderr,
                   "lumivex-cli %s: incomplete: %d folder%s lack%s entries %s record%s (marked in "
                   "the tree); the store is damaged\n",
                   qPrintable(kVerb), missingParts, missingParts == 1 ? "" : "s",
                   missingParts == 1 ? "s" : "", missingParts == 1 ? "it" : "they",
                   missingParts == 1 ? "s" : "");
      return kExitIncomplete;
    }
    if (damagedParts == 0) return kExitSuccess;
    std::fflush(stdout);
    std::fprintf(stderr,
                 "lumivex-cli %s: incomplete: %d part%s of the folder tree cannot be read (marked "
                 "in the tree); the store is damaged\n",
                 qPrintable(kVerb), damagedParts, damagedParts == 1 ? "" : "s");
    return kExitIncomplete;
  } catch (const StoreError& failure) {
    return Failure(kVerb, QString::fromUtf8(failure.what()));
  }
}

}  // namespace lumivex::cli
