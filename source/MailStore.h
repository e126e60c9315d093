// The mail store interface: the operations the scan and the conversion run use to reach a
// personal-folder store, in the order they use them. On Windows these were automation calls on
// the mail client and a MAPI wrapper; here a backend over the store files (StoreBackend.h: our
// own reader, libpff for damaged files) stands behind them, and tests put fakes
// (tests/support/FakeStore.h) in its place.
//
// Calling order for a scan and a conversion run:
//   MailProvider::CreateMailClientApp -> MailClientApp::GetNamespace("MAPI")
//   MailProvider::CreateRdoSession -> RdoSession::Logon()
//   RdoSession::GetDefaultFolder(10)              (default store)
//   MapiNamespace::AddStore(path), PickFolder()   (another store file, scan only)
//   Folder::DefaultItemType(), Folder::GetItems(), Items::Count(), Items::Item(i)
//   ContactEntry::Read(name, value)
//   RdoSession::Logoff()
//
// Every call before the entry loop reports failure by throwing StoreError; inside the loop
// ContactEntry::Read reports failure by returning false, so that callers can keep the value
// they held for the previous entry.
#pragma once

#include "contact/Contact.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lumivex {

// A failure of the store layer. what() is one line: what failed, which file, why.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Kinds of folder contents, numbered as the mail client numbers them.
enum ItemType : int {
  kMailItem = 0,
  kAppointmentItem = 1,
  kContactItem = 2,
  kTaskItem = 3,
  kJournalItem = 4,
  kNoteItem = 5,
};

// GetDefaultFolder's number for the contacts folder.
constexpr int kFolderContacts = 10;

// One element of a folder's Items. Properties are read by the names the mail client uses
// ("FirstName", "Email1Address", "Birthday", ...; ContactProperties.h lists them).
class ContactEntry {
 public:
  virtual ~ContactEntry() = default;

  // Reads one property as text into `value`: strings as stored, dates as the user's short-date
  // text, multi-valued strings joined with ", ", an absent property as empty text. Returns false
  // when the read fails (unreadable item, unknown name, damaged data) and leaves `value` as it was.
  virtual bool Read(std::string_view name, QString& value) const = 0;

  // Reads the properties of readable slots (ContactProperties.h) into the values at the same
  // places, each as Read(SlotName(slot), value) would: one that cannot be read keeps its value.
  // Returns how many were read, with why the first that failed failed in `why`. For callers that
  // read the same properties of every entry: the store's entries need not look the names up,
  // and one call reads them all.
  virtual int ReadFields(std::span<const int> fields, QString* values, QString& why) const;

  // Reads the whole entry into the full contact model (every field, the photo, a list's members).
  // Returns false, with `why` saying what could not be read, when the entry or any property it
  // holds cannot be read; `contact` is then partly filled and must not be written as the entry.
  // What `contact` held before is replaced.
  virtual bool ReadContact(contact::Contact& contact, QString& why) const;

  // Why the entry cannot be opened, or why its last failed Read failed; empty when nothing
  // has failed. For reports that name the entry and the reason.
  virtual QString Failure() const { return {}; }

  // Damage seen in the entry that leaves it readable but not whole (the store lost its
  // attachments, its picture among them); empty when none is seen. Every form tells it.
  virtual QString Damage() const { return {}; }
};

// A folder's entries, in the folder's own order.
class Items {
 public:
  virtual ~Items() = default;
  // The number of entries, asked of the store afresh at each call.
  virtual int Count() const = 0;
  // The entry at `index` (0-based). Never null: an entry that cannot be opened is still returned,
  // and every Read on it fails.
  virtual std::unique_ptr<ContactEntry> Item(int index) const = 0;
};

// What a folder is to the mail client: the user's own, or one it keeps by itself. An export of
// every folder passes over all but the user's own: deleted entries and the mail client's own
// collections would otherwise bring back or rename the people of the user's own contacts.
enum class FolderRole {
  kOwn,
  kDeletedItems,       // what the user deleted (and the folders below it)
  kSuggestedContacts,  // people the mail client collected from mail it sent
  kRecipientCache,     // addresses it remembers from mail
  kAddressListCopy,    // a copy of the organisation's address list (GAL Contacts and the like)
  kMessengerContacts,  // the instant-messaging program's contact list (Quick Contacts)
  kConflicts,          // what a synchronisation could not settle (Conflicts, Sync Issues, ...)
};
// The role in a few words ("deleted items"); empty for kOwn.
QString FolderRoleText(FolderRole role);

class Folder {
 public:
  virtual ~Folder() = default;
  virtual QString Name() const = 0;
  // Folder names from the store's top level down, joined by "/" ("Top of Personal
  // Folders/Contacts").
  virtual QString Path() const = 0;
  // The container class ("IPF.Contact", "IPF.Note", ...), empty when the folder has none.
  virtual QString ContainerClass() const = 0;
  // One of ItemType: 2 for IPF.Contact and IPF.Contact.* folders.
  virtual int DefaultItemType() const = 0;
  // The folder's entries. Throws StoreError when the folder cannot be read.
  virtual std::shared_ptr<Items> GetItems() const = 0;
  // True for a folder the mail client keeps to itself and does not show: flagged hidden, a
  // search folder, or one of the store's own system folders (views, reminders, sync issues).
  virtual bool Hidden() const { return false; }
  // The folder's sub-folders in the store's order. Throws StoreError when they cannot be read.
  virtual std::vector<std::shared_ptr<Folder>> SubFolders() const = 0;
  // Why the folder's list of entries is known to miss some (the folder records more entries
  // than its list holds); empty when nothing is known to be missing.
  virtual QString MissingEntries() const { return {}; }
  // Why the folder itself cannot be read (its parent lists it, but its node cannot be found or
  // holds no folder); empty when it can. Such a folder has no name, entries or sub-folders.
  virtual QString Unreadable() const { return {}; }
  // Damage of the store file the folder is in, as a whole (another reader took the file in our
  // reader's place, its record key cannot be read, ...), one sentence each; empty when none is
  // known. Every form tells each once per store, and its work is then incomplete.
  virtual QStringList StoreDamage() const { return {}; }
  // True when the store's record key cannot be read at all: its entries' UIDs are then made from
  // what each entry still holds, and differ from those every earlier export and send gave them.
  virtual bool NewUids() const { return false; }
  // The folder's role, as the store marks it (the entry ids of its special folders), else by its
  // class or, for the folders of the English mail client, its name (what this one looks at).
  virtual FolderRole Role() const;
};

// One attached store file.
class Store {
 public:
  virtual ~Store() = default;
  virtual QString FilePath() const = 0;
  // The store's display name ("Personal Folders").
  virtual QString DisplayName() const = 0;
  // The root of the folder tree (its sub-folders are the store's top level).
  virtual std::shared_ptr<Folder> RootFolder() const = 0;
  // The store's default contacts folder, or null when it has none.
  virtual std::shared_ptr<Folder> DefaultContactsFolder() const = 0;
};

// The mail client's folder picker: shows the folder trees of the attached stores and returns the
// chosen folder, or null when the user cancels. The desktop shows a dialog; tests and the command
// line choose by path.
class FolderPicker {
 public:
  virtual ~FolderPicker() = default;
  virtual std::shared_ptr<Folder> Pick(const std::vector<std::shared_ptr<Store>>& stores) = 0;
};

// The namespace of the mail client ("MAPI"): attaches store files and picks folders in them.
class MapiNamespace {
 public:
  virtual ~MapiNamespace() = default;
  // Attaches a store file. Throws StoreError when it cannot be opened as a store.
  virtual void AddStore(const QString& path) = 0;
  // Shows the folder picker over the attached stores. Null when the user cancels.
  // A folder returned here stays usable after the namespace is released.
  virtual std::shared_ptr<Folder> PickFolder() = 0;
  // The stores attached so far, in the order they were attached.
  virtual std::vector<std::shared_ptr<Store>> Stores() const = 0;
};

class MailClientApp {
 public:
  virtual ~MailClientApp() = default;
  // Only "MAPI" is known; anything else throws StoreError.
  virtual std::unique_ptr<MapiNamespace> GetNamespace(const QString& type) = 0;
};

// The session of the default profile.
class RdoSession {
 public:
  virtual ~RdoSession() = default;
  // Opens the default profile's store. Throws StoreError when there is none or it is unreadable.
  virtual void Logon() = 0;
  // The default folder of the given kind (10 = contacts). Throws StoreError when it is absent.
  virtual std::shared_ptr<Folder> GetDefaultFolder(int kind) = 0;
  virtual void Logoff() = 0;
};

// Creates the two servers of a MailSession. Throws StoreError when they cannot be created.
class MailProvider {
 public:
  virtual ~MailProvider() = default;
  virtual std::unique_ptr<MailClientApp> CreateMailClientApp() = 0;
  virtual std::unique_ptr<RdoSession> CreateRdoSession() = 0;
};

// The folder at `path` (names from the store's top level down, joined by "/") in `store`, or
// null when there is none. Throws StoreError when the folder tree cannot be read.
std::shared_ptr<Folder> FindFolder(const Store& store, const QString& path);

// The provider the program uses: set once at start-up (the store-file backend, StoreBackend.h),
// replaced by tests.
MailProvider& CurrentMailProvider();
void SetMailProvider(std::shared_ptr<MailProvider> provider);

}  // namespace lumivex
