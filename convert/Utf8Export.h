// The export for other address books: the full contact model of one or more folders written as
// vCard 4.0, vCard 3.0 or CSV in UTF-8, into one file or one file per contact. The command line
// (`lumivex-cli export --format vcard4|vcard3|csv`) and the desktop's "Export for Other Address
// Books..." dialog both run it; it has no widgets and reports through Utf8ExportObserver.
//
// Writing streams: one entry is read, written and dropped before the next, so memory does not
// grow with the number of contacts. A single file is written under a temporary name beside the
// target and renamed at the end, so a failed or cancelled export leaves no cut-short file.
#pragma once

#include "contact/ContactStream.h"
#include "source/MailStore.h"
#include "source/StoreContactStream.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <vector>

namespace lumivex {

enum class Utf8Format { kVCard4, kVCard3, kCsv };

struct Utf8ExportOptions {
  Utf8Format format = Utf8Format::kVCard4;
  bool perContact = false;  // one .vcf per contact into `target` (a folder); vCard forms only
  // The file to write (single file) or the folder to write into (per contact). A folder given
  // for a single file gets a time-stamped name inside it.
  QString target;
  // Each contact also gets its folder's path as a category, where more than one folder gives
  // contacts.
  bool folderAsCategory = false;
};

struct Utf8ExportResult {
  int contacts = 0;  // entries written as contacts
  int groups = 0;    // distribution lists written as groups
  // Entries not written, folders whose list of entries misses some (position 0), and entries
  // written without some of their fields (`partial`).
  std::vector<contact::EntryProblem> problems;
  // The file written (empty when no contact was found: no file is then written), or the folder
  // of the per-contact files.
  QString output;
  bool cancelled = false;  // stopped by the observer: a single file is not left behind
  // CSV: contacts a category or child's name of which holds a ";", which the cell separates its
  // values by: written with "," in its place.
  int semicolons = 0;
  // Contacts made of several entries of one person (a merged stream), and those entries.
  int mergedContacts = 0;
  int mergedEntries = 0;
};

class Utf8ExportObserver {
 public:
  virtual ~Utf8ExportObserver() = default;
  // After each entry: entries done over all folders, their total, the current folder's path.
  virtual void Progress(int done, int total, const QString& folder) = 0;
  // An entry was skipped; it is also listed in the result.
  virtual void Problem(const contact::EntryProblem& problem) { (void)problem; }
  // Asked between entries; true stops the export.
  virtual bool Cancelled() const { return false; }
  // A file was written whole under its final name: the single file at the end, or each
  // per-contact file as it is done.
  virtual void FileWritten(const QString& path) { (void)path; }
};

// A failure that stops the export: the target cannot be created or written, a folder cannot be
// read. what() says what failed and where; nothing cut short is left under the target's name.
class Utf8ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Exports the contacts `contacts` gives, in order; the entries it could not read are reported as
// problems. Throws Utf8ExportError.
Utf8ExportResult RunUtf8Export(contact::ContactStream& contacts, const Utf8ExportOptions& options,
                               Utf8ExportObserver& observer);

// Exports the entries of `folders` in order. Throws Utf8ExportError.
Utf8ExportResult RunUtf8Export(const std::vector<std::shared_ptr<Folder>>& folders,
                               const Utf8ExportOptions& options, Utf8ExportObserver& observer);

// Whether more than one of the folders holds entries (a folder that cannot be listed does not
// count): only then does a contact carry its folders as categories, in an export as in a send.
bool SeveralFoldersGiveContacts(const std::vector<StoreFolders>& sources);

// Appends to the contact's categories the folder of each of its entries, named by its path below
// the top of the store ("Contacts/Suppliers"), each once and after the contact's own.
void AddFolderCategories(contact::SourcedContact& item);

}  // namespace lumivex
