// Cards a destination holds that the record of sends does not know (the record was lost, or the
// cards came from another copy of the program), and the person each holds: so that a contact
// sent again updates the card already there for the same person instead of adding a second one.
// Also the cards the record knows, for a contact none of whose entries went into one (a store
// sent alone after others that held the same people): matched by the person they hold alone.
// A card holds the same person as a contact by the rules entries are merged by (MergeRules.h):
// their names do not conflict (nor their birthdays) and they share an e-mail address or a
// telephone number of the person's own, compared whole (country code and extension); a card or a
// contact without a personal name only through a value no other named card holds, and one whose
// name fits two people sharing a value (a surname alone beside a couple at one home number) not
// through that value. Spouses sharing a family address, or father and son sharing a home number,
// so keep cards of their own, and so does the household's own entry.
#pragma once

#include "contact/Contact.h"
#include "contact/ContactStream.h"
#include "merge/MergeRules.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

namespace lumivex::destination {

class SendState;

// A line of a vCard, unfolded: its property's name (upper case, without its group), its
// parameters (upper case, as written: ";TYPE=WORK,FAX") and its value (as written, escapes kept).
struct CardLine {
  QByteArray name;
  QByteArray params;
  QString value;
};
// The lines of a vCard of any version.
std::vector<CardLine> CardLines(const QByteArray& card);
// What a card says, however a server gives it back (its lines and parameters in another order, a
// parameter's values apart or together, quoted or not, folded otherwise, another PRODID): its
// lines but PRODID, REV and VERSION, each with its parameters' values in order, in order. Cards
// that say the same give the same.
QByteArray CardFingerprint(const QByteArray& card);
// The lines of the card of `contact` that say who it holds (N, FN, EMAIL, TEL, BDAY, KIND), all
// HeldCards reads of a card: the record of sends keeps them, so that a send that looks for a
// contact's person among the cards it made need not read those cards again.
QByteArray PersonLines(const contact::Contact& contact);
// Whether `lines` are such lines (an N or FN among them), as a record read back must hold them.
bool IsPersonLines(const QByteArray& lines);

class HeldCards {
 public:
  struct Card {
    QString uid;       // the card's UID
    QString resource;  // where it is (an href's path, a file name)
  };
  // `byOwnUid`: a contact takes the card of its own UID first (false: only the card holding its
  // person, as for the cards the record knows, whose UIDs are those of other entries).
  explicit HeldCards(bool byOwnUid = true) : byOwnUid_(byOwnUid) {}
  // Takes in the card `bytes` (a vCard of any version) found at `resource`; `named`, when given,
  // is the card's UID instead of the one it holds (the record's name of it).
  void Add(const QByteArray& bytes, const QString& resource, const QString& named = {});
  bool IsEmpty() const { return cards_.empty(); }
  // The card with `c`'s own UID, wherever it is (another client named its file or href; unless
  // not `byOwnUid`), else the card holding the same person as `c`; each card given out once; null
  // when none.
  const Card* Match(const contact::Contact& c);
  // Whether Match would give `c` a card by the person it holds alone: a card of neither `c`'s
  // UID nor one of its entries', which may be the own card of a contact still to come.
  bool ByPersonAlone(const contact::SourcedContact& c) const;
  // Whether Match would give `c` a card.
  bool Holds(const contact::Contact& c) const { return Find(c) >= 0; }
  // The card `uid` is given out (to a contact by its entries): Match no longer gives it.
  void Give(const QString& uid);

 private:
  struct Held {
    Card card;
    merge::Identity identity;
  };
  // The card Match gives `c`, not given out yet; -1 when none.
  int Find(const contact::Contact& c) const;
  // The cards whose person the value `key` makes the contact of `identity`, in order, by the
  // rules the merge groups the entries sharing a value by: each named one joins the one group
  // whose name agrees with its own, or starts one; one that agrees with two joins neither ("Berg"
  // beside Anna and Erik Berg at one home number). The cards without a name join the one named
  // group; where there is none, each other.
  std::vector<int> Through(uint64_t key, const merge::Identity& identity) const;

  std::vector<Held> cards_;
  std::unordered_multimap<uint64_t, int> byKey_;  // an e-mail or telephone key: the cards
  QHash<QString, int> byUid_;
  QSet<int> given_;
  bool byOwnUid_ = true;
};

// The contacts of `inner`, those `later` names given after the others (lists stay where they
// are): a send gives the contacts that would take a card there by its person alone (HeldCards::
// ByPersonAlone) their cards once every contact whose own card is there has it, so that a
// person's card is not taken by another contact that came first, leaving its own contact a second
// card. So are those that would take a card the record knows by its person (SendState::
// TakesKnownByPerson), after the contacts whose entries went into it. At most kAtMost are held
// back; past that, contacts pass as they come.
class ByPersonLast : public contact::ContactStream {
 public:
  static constexpr size_t kAtMost = 1000;
  // `theirs`: the destination's cards the record does not know; `state`: the record, whose
  // contacts never wait; `ownThere`: whether the destination holds a card of the contact's own
  // UID, which it then takes.
  ByPersonLast(contact::ContactStream& inner, const HeldCards& theirs, SendState& state,
               std::function<bool(const contact::Contact&)> ownThere)
      : inner_(inner), theirs_(theirs), state_(state), ownThere_(std::move(ownThere)) {}
  int Total() const override { return inner_.Total(); }
  bool Next(contact::SourcedContact& out) override;
  const std::vector<contact::EntryProblem>& Problems() const override { return inner_.Problems(); }
  QStringList NewUidStores() const override { return inner_.NewUidStores(); }

 private:
  bool Later(const contact::SourcedContact& c);
  contact::ContactStream& inner_;
  const HeldCards& theirs_;
  SendState& state_;
  std::function<bool(const contact::Contact&)> ownThere_;
  std::deque<contact::SourcedContact> held_;
  bool innerDone_ = false;
};

}  // namespace lumivex::destination
