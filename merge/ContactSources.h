// Contacts from one or more store files, for every consumer (the export of several stores, the
// send to an address book, the review window): the contact folders of each store are read through
// the store interface and their entries given out one at a time as a ContactStream, the entries of
// the same person merged into one contact unless merging is turned off (MergeRules.h says when two
// entries are the same person and how they become one contact).
//
//   StoreSelection options;
//   options.stores = {"Outlook.pst", "archive.pst"};
//   options.allFolders = true;
//   auto contacts = OpenContacts(options);          // throws StoreError
//   contact::SourcedContact c;
//   while (contacts->Next(c)) write(c.contact);
//   for (const auto& p : contacts->Problems()) report(p);
#pragma once

#include "contact/ContactStream.h"
#include "merge/MergeRules.h"
#include "source/ContactFolders.h"
#include "source/MailStore.h"
#include "source/StoreContactStream.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace lumivex::merge {

struct StoreSelection {
  QStringList stores;  // store files; empty: the default profile's store
  // Every contact folder of each store (ContactFolders), but those the mail client keeps by
  // itself (deleted items, suggested contacts, the recipient cache, copies of the address list,
  // synchronisation conflicts: FolderRole), unless `folder` names one.
  bool allFolders = false;
  QString folder;  // this folder of each store (with allFolders: also); else the default contacts
  QStringList excludeFolders;      // folder paths left out (with allFolders)
  bool merge = true;               // entries of the same person become one contact
  bool acceptSuggestions = false;  // entries that may be one person are joined too
};

// Two contacts that may be one person (the same name and company; an e-mail address in common
// under another surname; an entry whose name fits two people sharing its address or number,
// suggested with each): left apart unless accepted, for the user to decide.
struct Suggestion {
  int first = 0, second = 0;                // the two contacts, numbered from 1 in the order given
  contact::Origin firstEntry, secondEntry;  // an entry of each, its own name in `name`
  MatchRule rule = MatchRule::kNone;        // kNameAndCompany, kEmailOtherSurname, kEmail, kPhone
  QString value;  // what they share: the company, the e-mail address or the number
  // Joined into one contact (first == second): accepted, and the two agree in name and birthday
  // with what each joined before.
  bool accepted = false;
};

// The contacts of several stores, merged: also what may be one person but was not joined.
class MergedContacts : public contact::ContactStream {
 public:
  // Complete once the first contact is given (the groups are found before it). Each side's
  // entry is read back for its name when first asked for; SuggestionCount() only counts.
  virtual const std::vector<Suggestion>& Suggestions() const = 0;
  virtual int SuggestionCount() const = 0;
  // The suggestions accepted and joined.
  virtual int AcceptedCount() const = 0;
  // The caller needs neither the suggestions nor their count (an export that neither reports
  // nor counts them): where none is accepted, none is looked for. Before the first contact.
  virtual void LeaveSuggestions() = 0;
};

// Opens the stores of `options` and finds the folders to read. A store named twice (the same
// file, however its path is written) is read once. Throws StoreError (a store that cannot be
// opened, a folder that is not there, a store without a contacts folder). `notes`, when given,
// receives what the user should know: each store named twice, and with allFolders each folder
// left out that holds contacts, and why; `leftFolders`, when given, receives those folders.
std::vector<StoreFolders> FindSources(
    const StoreSelection& options, QStringList* notes = nullptr,
    std::vector<ContactFolderSearch::LeftOut>* leftFolders = nullptr);

// Where a merge stops keeping things in memory; the same contacts come out whatever they are.
struct MergeLimits {
  // Match keys held in memory (12 bytes each, 12 MiB: the keys of some 180,000 entries); more
  // go to a temporary file.
  size_t keysInMemory = size_t(1) << 20;
  // Entries past which none are kept in memory until they are merged, all going to the
  // temporary file: their first 16 MiB cost more taken in memory (each page got from the system
  // as it is first written) than written to the file and read back (2 % of the processor time of
  // an export of 30,000 or 100,000 entries), and took 16 MiB more besides.
  int manyEntries = 1 << 14;
};

// The contacts of the folders, merged when `merge`. Throws StoreError when a folder's entries
// cannot be listed.
// With `merge`, the stream is a MergedContacts; `acceptSuggestions` joins what it suggests.
//
// The uids: an entry's uid is its own (made from its store's record key and its node id, so a store
// and its copies give the same), but where entries made at different times share it (two copies of
// a store, each given a new contact after they parted, under one node id): each of those but the
// one of the store named first, in a merge that reads them together, gives its card a uid made from
// it and its time made. A merged contact takes the uid of one of its entries: the first, in folder
// order, of those from the store that comes first in `sources` (the order the stores were named
// in). Adding a store after the others, or taking away one but the first, so leaves every contact's
// uid as it was; a send's record (destination/SendState.h) knows which entries went into which card
// and keeps the cards even when the first store changes. Among equally new entries, the one merged
// first (whose single values win) is the least by content, not by store name. Unmerged, every entry
// keeps its uid but one sharing it with an entry read before, made at another time: its card takes
// the uid made from it and its time made, as merged.
std::unique_ptr<contact::ContactStream> OpenContacts(std::vector<StoreFolders> sources, bool merge,
                                                     const MergeLimits& limits = {},
                                                     bool acceptSuggestions = false);

// FindSources then OpenContacts. Throws StoreError.
std::unique_ptr<contact::ContactStream> OpenContacts(const StoreSelection& options);

}  // namespace lumivex::merge
