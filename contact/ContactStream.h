// A contact on its way from the stores it was read from to a file or an address book: the
// finished contact (one entry, or several entries of the same person merged) with the entries it
// was made from. What reads and merges contacts gives them out one at a time through a
// ContactStream; what writes or sends them takes them from it. Neither side sees the other.
#pragma once

#include "contact/Contact.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace lumivex::contact {

// One entry of a store: which file, which folder, where in the folder.
struct Origin {
  QString store;     // the store file's path
  QString folder;    // the folder's path in the store ("Top of Personal Folders/Contacts")
  int position = 0;  // 1-based, in the folder's own order
  QDateTime lastModified;
  // Of a merged contact's entries: the rule by which this entry was joined to the others ("same
  // e-mail address", ...), the strongest of the joins it took part in; empty when not merged.
  QString joinedBy = {};
  // Of a merged contact's entries: the entry's own name, the value by which it was joined (the
  // e-mail address or telephone number; empty where every field is equal), and its values the
  // contact does not hold as they were ("Job title: Engineer (in the notes)").
  QString name = {};
  QString matched = {};
  QStringList notCarried = {};
  // The entry's own uid (Contact::uid as read), also when the contact it went into took another:
  // what a send records to find the card an entry went into.
  QString entry = {};
  // The time the entry was made (Contact::created as read): tells apart entries of two copies of
  // a store that each got a new contact under one uid after they parted.
  QDateTime made = {};
  // Where such entries share `entry`: the uid this one gives a card, made from `entry` and `made`
  // (merge::OpenContacts' note on uids); empty where the card takes `entry`.
  QString ownUid = {};
  friend bool operator==(const Origin&, const Origin&) = default;
};

// An entry that could not be read, and so was not written or sent.
struct EntryProblem {
  QString folder;    // the folder's path
  int position = 0;  // 1-based, in the folder's own order
  QString reason;
  // Read, but its own file (one file per contact) could not be written; `reason` says why.
  bool unwritten = false;
  QString store = {};  // the store file's path, where several stores are read
  // Written, but without the fields `reason` names (values of a type those fields cannot take).
  bool partial = false;
  // Damage of the store as a whole (`position` 0, `folder` empty): what was read from it may
  // lack values or hold wrong ones, though no entry could be named.
  bool wholeStore = false;
  // A store of several left out whole (`position` 0, `folder` empty): it has no contacts folder
  // that can be read, though it is damaged or keeps contacts in other folders; `reason` says
  // which, and what to do.
  bool storeLeftOut = false;
};

struct SourcedContact {
  Contact contact;
  std::vector<Origin> origins;  // the entries it was made from, newest first; one unless merged
  QString mergeRule;            // why those entries are one person; empty for a single entry
  // Where not empty: the contact as the stream's AheadWriter wrote it when its one entry was
  // read, all that is given of it. `contact` is then empty (not a list), and its one origin
  // tells where the entry is and when it last changed, but not its uid or when it was made.
  // Its bytes may be where the stream keeps them: valid until the stream's next Next.
  QByteArray written = {};
};

// How the consumer of a stream writes a contact of one entry. A stream that keeps entries a
// while before giving them (a merge, which gives each person once every store is read) may
// write each entry so as it reads it and keep those bytes rather than the entry: far fewer to
// keep and take back than the entry's own. Lists are never written ahead (their members are
// named by the cards written before them).
class AheadWriter {
 public:
  virtual ~AheadWriter() = default;
  // Appends the bytes of `item` (one entry, not a list, its one origin set) to `out`, as the
  // consumer would write it given so, and whatever else the consumer needs of it when its turn
  // comes: its bytes are all it is given back.
  virtual void WriteAhead(const SourcedContact& item, QByteArray& out) = 0;
};

class ContactStream {
 public:
  virtual ~ContactStream() = default;
  // How many contacts the stream gives in all, or -1 while that is not known.
  virtual int Total() const = 0;
  // The next contact into `out`, whose room may be reused; false at the end.
  virtual bool Next(SourcedContact& out) = 0;
  // Entries met so far that could not be read (also those found before the first Next).
  virtual const std::vector<EntryProblem>& Problems() const = 0;
  // The stores whose record key cannot be read: their contacts carry UIDs made anew, not those
  // earlier exports and sends gave them, so a send must not add them beside cards it made before.
  virtual QStringList NewUidStores() const { return {}; }
  // Lets the stream give contacts of one entry written by `writer` (SourcedContact::written),
  // before the first Next; false where it does not (it then gives every contact whole).
  virtual bool WriteAhead(AheadWriter* /*writer*/) { return false; }
};

}  // namespace lumivex::contact
