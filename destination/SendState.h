// The record of what was last sent to one destination, so that a send can be run again: per
// contact uid, the resource it went to, the destination's version tag of it as we left it (a
// CardDAV ETag, a vdir file's size and time), a hash of the bytes we sent, the uids of the
// store entries the card was made from (several when entries were merged) and who the card
// holds. Kept in one file
// per destination under the state folder, named from the destination's identity, and written
// whole (a new file renamed over the old) so that a send stopped half-way leaves a usable record;
// the folder is the user's alone (0700), each file too (0600).
#pragma once

#include "contact/ContactStream.h"
#include "destination/HeldCards.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace lumivex::destination {

struct SentRecord {
  QString resource;  // the href or file name
  QString tag;       // the destination's version of what we left there
  QString hash;      // of the bytes we sent
  // The entries the card was made from, each by its uid and time made ("UUID@ms"; the uid alone
  // in records written before); Set fills it from what CardFor assigned in this send.
  QStringList entries = {};
  // Who the card holds as it was last sent (PersonLines); empty in records written before. Set
  // fills it from the contact CardFor gave the card in this send.
  QByteArray person = {};
};

class SendState {
 public:
  // The record for `identity` (the book's URL with the user, or the vdir's absolute path), read
  // from `folder` when there is one; an unreadable record counts as lost.
  SendState(const QString& folder, const QString& identity);

  const SentRecord* Find(const QString& uid) const;
  // Records the card `uid` as sent; its entries are those CardFor gave it in this send.
  void Set(const QString& uid, const SentRecord& record);
  // The card `contact` goes into: the card one of its entries went into before (its newest
  // entry's first), so that the same person keeps one card when stores are added or taken
  // away or the merged contact's own uid changes; else the card named from its own uid. A card
  // is given out once a send: a second contact whose entries went into it (a merge since
  // split) gets its own card. Sets `contact.contact.uid` to the card's uid and returns it.
  // `held`, when given, is asked for a card of the destination's own that holds the same person
  // before a contact whose entries the record does not know gets a card of its own; then the
  // cards the record knows are (MatchKnownCards).
  QString CardFor(contact::SourcedContact& contact,
                  const std::function<QString(const contact::Contact&)>& held = {});
  // Reads the destination's cards at `resources`, giving each one it holds, with its bytes, to
  // `found`.
  using CardReader = std::function<void(
      const QStringList& resources,
      const std::function<void(const QString& resource, const QByteArray& bytes)>& found)>;
  // Lets CardFor give a contact none of whose entries the record knows, by the person it holds
  // (as HeldCards matches it), a card the record knows that no contact of this send took by its
  // entries: a store sent alone after others that held the same people updates their cards
  // rather than adding second ones, and the card's record then lists the new entries too. Who
  // each card holds is the record's own (SentRecord::person) where the card is as the record
  // left it; the others (changed there since, or of a record written before it kept that) are
  // read with `read`, once, when the first such contact comes. `ownThere`:
  // whether the destination holds the card of a contact's own UID, which the contact then takes, as
  // it did before.
  // `asLeft`: whether the card at a resource is still as the record left it (its version there
  // the record's tag); one changed there since (a number added on the phone) is read, not taken
  // as the record says. Without it, every card is read.
  void MatchKnownCards(CardReader read, std::function<bool(const contact::Contact&)> ownThere,
                       std::function<bool(const QString& resource, const QString& tag)> asLeft);
  // Whether CardFor would now give `contact` a card the record knows by the person it holds:
  // ByPersonLast sends it after the others, so that a contact whose entries went into that card
  // takes it first.
  bool TakesKnownByPerson(const contact::SourcedContact& contact);
  // Why the contact CardFor gave card `uid` in this send is not sent over it: an entry of it was
  // sent there before and is older now than it was then (an older copy of a store sent after a
  // newer one, which would take the card back to what the entry said before); or the card was
  // given to it by the person it holds alone, a card other stores' entries made (sent over, it
  // would hold only what this contact holds). Empty where neither is, or where the times are
  // unknown. `--overwrite` sends over it all the same.
  QString NotSentOver(const QString& uid) const;
  // The resources the record knows (hrefs, file names).
  QSet<QString> Resources() const;
  // Whether the record knows a card one of the entries of `contact` went into.
  bool Knows(const contact::SourcedContact& contact) const;
  // The cards of earlier sends that this send gave no contact, every entry of which went into
  // another card, in this send or in one stopped before its end: their people were joined since
  // (a suggestion accepted, stores merged that were sent apart), so each is a second card of a
  // person. Their records, taken out of the record of sends: the destination removes each that
  // is as it was left (its tag), and tells the others once, left as they are. Such a card stays
  // marked in the saved record until a send that runs to its end takes it.
  std::vector<SentRecord> TakeMergedAway();
  // Puts back a record TakeMergedAway gave that the destination did not get to (the send
  // stopped): the next send takes it again.
  void KeepMergedAway(const SentRecord& record);
  bool IsEmpty() const { return records_.isEmpty(); }
  // Writes the record when it changed. False, with `error` set, when it cannot be written.
  bool Save(QString& error);

  static QString HashOf(const QByteArray& bytes);

 private:
  // The card the entry `token` went into (an entry of a record written before by its uid alone).
  QString CardOf(const QString& token) const;
  // Whether `contact` may take a card the record knows by its person (MatchKnownCards); reads
  // those cards the first time.
  bool MayTakeKnown(const contact::SourcedContact& contact);
  QString path_;
  QString identity_;
  QHash<QString, SentRecord> records_;
  QHash<QString, QString> cardOf_;        // entry uid: the card it went into
  QHash<QString, QStringList> assigned_;  // card uid: its entries in this send
  // Each entry (as the record keeps it) by when it was last changed (ms since 1970): as it was
  // when last sent, and as this send's stores give it.
  QHash<QString, qint64> sentChanged_, nowChanged_;
  QHash<QString, QString> whereNow_;      // each entry of this send: its store, folder and position
  QHash<QString, QByteArray> personNow_;  // each card CardFor gave out: who it holds now
  QSet<QString> given_;                   // cards CardFor gave out in this send
  QSet<QString> emptied_;  // cards whose last entry went into another card, not taken away yet
  QHash<QString, QString> taken_;  // resource TakeMergedAway took out: its card
  // The cards the record knows, by their people, once read; how they are read.
  HeldCards known_{false};
  QSet<QString> byPerson_;  // cards CardFor gave from known_, by the person they hold
  CardReader readKnown_;
  std::function<bool(const contact::Contact&)> ownThere_;
  std::function<bool(const QString&, const QString&)> asLeft_;
  bool knownRead_ = false;
  bool dirty_ = false;
};

// Why a contact sent before is not sent again: the user deleted it from `where` since.
QString DeletedReason(const QString& where);

}  // namespace lumivex::destination
