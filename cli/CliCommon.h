// What the verbs of lumivex-cli share: the store a verb reads and the folder it works on, the
// exit statuses' messages, a folder picker that picks by path, and one-line errors.
//
// A verb that reads a store goes like this (ScanVerb.cpp is a short example):
//
//   Arguments args;                                        // declared once: cli/Command.h
//   if (const int status = kCommand.Parse(arguments, args); status >= 0) return status;
//   try {
//     const ContactsSource source = OpenContactsFolder("scan", StoreOptionsOf(args), "counting");
//     ... source.folder->GetItems() ...
//   } catch (const StoreError& e) { return Failure("scan", e.what()); }
//
// OpenContactsFolder makes CurrentMailProvider() the store backend set up for these options,
// so a conversion run started afterwards (RunConversion) opens the same store and folder through
// its own mail session.
#pragma once

#include "convert/ConversionRun.h"
#include "source/MailStore.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace lumivex::cli {

class Arguments;

// The store a verb reads and the folder in it: [STORE] [--folder PATH].
struct StoreOptions {
  QString store;   // the store file; empty: the default profile's store
  QString folder;  // the folder path as `folders` prints it; empty: the default contacts folder
  // Whether the command takes --all-folders: the advice for a store without a contacts folder
  // names it only then.
  bool allFolders = false;
};
// STORE and --folder PATH as the arguments gave them.
StoreOptions StoreOptionsOf(const Arguments& args);

// Prints "lumivex-cli VERB: MESSAGE" and the hint to --help on stderr; returns 2.
int UsageError(const QString& verb, const QString& message);
// Prints "lumivex-cli VERB: MESSAGE" on stderr; returns 1.
int Failure(const QString& verb, const QString& message);
// Prints "lumivex-cli VERB: warning: MESSAGE" on stderr.
void Warn(const QString& verb, const QString& message);

// The one wording of a folder this process may not write in, whatever the form: "you may not
// write in the folder F (Permission denied): choose another folder for --out". Tried by making
// and removing a file in `folder`, or where it does not exist yet in the nearest folder above
// it; empty when files can be made there.
QString PermissionFailure(const QString& folder);

// The command line's folder picker: the folder at `path` in the store attached last, or that
// store's default contacts folder when `path` is empty. Throws StoreError, naming the folder and
// the file, when there is no such folder.
class PathFolderPicker : public FolderPicker {
 public:
  explicit PathFolderPicker(QString path) : path_(std::move(path)) {}
  std::shared_ptr<Folder> Pick(const std::vector<std::shared_ptr<Store>>& stores) override;

 private:
  QString path_;
};

// The store file the options name: STORE, else the default profile's store. Throws StoreError.
QString ResolveStorePath(const StoreOptions& options);

// Makes the store-file backend the process's mail provider for these options: its sessions log on
// to STORE (or the default profile's store) and its folder picker picks --folder PATH.
void InstallMailProvider(const StoreOptions& options);

// The folder a verb works on, settled as the desktop's scan settles it.
struct ContactsSource {
  std::shared_ptr<Folder> folder;
  QString storePath;        // the file it lies in
  QString folderPath;       // Folder::Path()
  bool isContacts = false;  // DefaultItemType() == 2
};

// Installs the mail provider (InstallMailProvider), opens a mail session and takes the folder:
// the default contacts folder of the store when no --folder is given (GetDefaultFolder(10)),
// else the store attached with AddStore and the folder picked by path (PickFolder). The session
// is released again; the folder stays usable. Throws StoreError with a one-line reason.
ContactsSource OpenContactsSource(const StoreOptions& options);
// The verbs' way in: OpenContactsSource, and a warning on stderr when the folder is not a
// contacts folder ("... is not a contacts folder (its class is X); `doing` its entries anyway").
ContactsSource OpenContactsFolder(const QString& verb, const StoreOptions& options,
                                  const char* doing);

// Where the contacts of the store file `storePath` are kept when its default contacts folder,
// taken because no --folder was named, holds no entries: "contacts are kept in ...: name one
// with --folder ..." (ContactsKeptIn; `allFolders`: the command takes --all-folders). Empty
// when that folder holds entries, no other folder holds contacts or the store cannot be read.
QString ContactsKeptElsewhere(const QString& storePath, bool allFolders);

// Text for JSON output: a quoted, escaped string.
QString JsonString(const QString& text);

}  // namespace lumivex::cli
