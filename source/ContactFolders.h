// The folders of a store that hold contacts, whatever their class: an export of every folder
// (--all-folders), the advice given when a store has no contacts folder, and the folders whose
// branch of the folder tree cannot be read.
#pragma once

#include "source/MailStore.h"

#include <QString>

#include <memory>
#include <vector>

namespace lumivex {

// Whether an entry of this message class is a contact or a distribution list.
bool IsContactClass(const QString& messageClass);

struct UnreadableFolder {
  QString path;  // the folder, or the parent whose list of folders cannot be read
  QString why;
  // What of it cannot be read: the folder itself (nor anything under it), its entries (the
  // folders under it are searched), or only the list of the folders under it (it is read).
  enum class Part { kFolder, kEntries, kFoldersUnder } part = Part::kFolder;
};

struct ContactFolderSearch {
  struct Found {
    std::shared_ptr<Folder> folder;
    int contacts = 0;  // its contact and list entries
  };
  // Contacts folders (IPF.Contact*) and every other folder holding contact or list entries, in
  // folder-tree order; hidden and search folders, and the folders of `leftOut` (and what lies
  // below them) are left out.
  std::vector<Found> folders;
  // Branches that cannot be read: the folders in them are not searched.
  std::vector<UnreadableFolder> unreadable;
  // Folders the mail client keeps by itself (Folder::Role) that hold contacts or lists: left out
  // of `folders` with what lies below them, and not searched further.
  struct LeftOut {
    std::shared_ptr<Folder> folder;
    FolderRole role;
    int contacts = 0;
  };
  std::vector<LeftOut> leftOut;
};

// Searches the whole folder tree of `store`. A folder whose own node or list of entries cannot
// be read is listed in `unreadable`, and the search goes on with the others. Throws StoreError
// only when the root folder itself cannot be read.
ContactFolderSearch FindContactFolders(const Store& store);

// Where contacts are kept: "contacts are kept in "PATH" (N contacts), ...: name one with
// --folder "PATH"", and where the command takes it (`allFolders`) ", or take all of them with
// --all-folders". Empty when no folder holds any.
QString ContactsKeptIn(const ContactFolderSearch& search, bool allFolders);

// What to tell a user whose store has no default contacts folder: the folders that hold
// contacts, how many each, the --folder that exports one and, where the command takes it
// (`allFolders`), --all-folders for all of them. Empty when no folder holds any.
QString ContactFoldersAdvice(const ContactFolderSearch& search, const QString& storePath,
                             bool allFolders);

// What to tell a user whose store's default contacts folder holds no entries while other
// folders hold contacts: ContactsKeptIn. Empty when the store has no default contacts folder,
// when it holds entries or cannot be read, and when no other folder holds contacts.
QString ContactsKeptElsewhere(const Store& store, bool allFolders);

// Why a store without a default contacts folder gives no contacts, in the words above: where
// its contacts are kept instead (ContactFoldersAdvice), or that branches of its folder tree
// cannot be read, so that the store is damaged. Empty where neither is so: a store of mail only.
QString MissingContactsFolder(const ContactFolderSearch& search, const QString& storePath,
                              bool allFolders);

}  // namespace lumivex
