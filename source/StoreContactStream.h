// Every entry of the chosen folders of one or more stores as one ContactStream, in order, each as
// it is, with the store, folder and position it came from (which folders hold contacts is
// ContactFolders.h's answer). What merges entries (merge/ContactSources.h) and what writes them
// (convert/Utf8Export.h) read stores through it.
#pragma once

#include "contact/ContactStream.h"
#include "source/MailStore.h"

#include <QString>

#include <memory>
#include <vector>

namespace lumivex {

// Every folder of `store` that holds contacts (container class IPF.Contact*, or contact and list
// entries in a folder of another class), in folder-tree order, the store's hidden and search
// folders (and what lies below them) left out; branches that cannot be read are passed over
// (FindContactFolders lists them). Throws StoreError when the root cannot be read.
std::vector<std::shared_ptr<Folder>> ContactFolders(const Store& store);

// True for a folder the mail client keeps by itself rather than the user (Folder::Role):
// "Suggested Contacts", the recipient cache, copies of the global address list, the deleted
// items. Offered, not chosen, by default.
bool IsAutoCollected(const Folder& folder);

// True for a folder of another class than contacts (one of mail, say, holding some contacts): only
// its contacts and lists are given, the mail kept beside them passed over (GivenAsContact).
bool ContactsOnly(const Folder& folder);
// Whether an entry read from a folder is given as a contact: every entry of a contacts folder, and
// in a folder for which ContactsOnly holds (`contactsOnly`) only contacts and lists.
bool GivenAsContact(bool contactsOnly, const contact::Contact& entry);

// One store's folders to read.
struct StoreFolders {
  QString path;                  // the store file, as given; empty when not known
  std::shared_ptr<Store> store;  // keeps the file open; may be null when `folders` do
  std::vector<std::shared_ptr<Folder>> folders;
  // Stores left out beside these (EntryProblem::storeLeftOut), told among the problems.
  std::vector<contact::EntryProblem> storesLeftOut = {};
};

// The entries of the folders of every store, one after another in the order given. An entry that
// cannot be read is listed in Problems() and passed over; so is a folder whose list of entries
// misses some (position 0), and an entry given without some of its fields (`partial`).
class StoreContactStream : public contact::ContactStream {
 public:
  // Lists every folder's entries now. Throws StoreError naming a folder that cannot be read.
  explicit StoreContactStream(std::vector<StoreFolders> sources);
  ~StoreContactStream() override;

  // Every entry of the folders, those that cannot be read too.
  int Total() const override { return total_; }
  bool Next(contact::SourcedContact& out) override;
  const std::vector<contact::EntryProblem>& Problems() const override { return problems_; }
  QStringList NewUidStores() const override;

  // How many of the folders hold entries.
  int FoldersWithEntries() const { return withEntries_; }

  // The folder the last entry given came from, as a number for MakeOrigin.
  int LastFolder() const { return last_folder_; }
  // Whether the last entry given came from the last store given: no other store's come after.
  bool InLastStore() const;
  contact::Origin MakeOrigin(int folder, int position, const QDateTime& lastModified) const;
  // Sets the store, folder and position of `origin` as MakeOrigin makes them, in place: the
  // texts shared, not copied, where they are the same already.
  void PlaceOrigin(int folder, int position, contact::Origin& origin) const;
  // Entry `position` (1-based) of folder `folder` (as LastFolder numbers it) read again into
  // `out`, as Next gave it. Throws StoreError where it cannot be read now.
  void ReadAgain(int folder, int position, contact::Contact& out) const;

 private:
  struct Work;
  std::vector<StoreFolders> sources_;
  std::vector<Work> work_;
  size_t work_index_ = 0;
  int position_ = 0;
  int last_folder_ = 0;
  int total_ = 0;
  int withEntries_ = 0;
  std::vector<contact::EntryProblem> problems_;
};

}  // namespace lumivex
