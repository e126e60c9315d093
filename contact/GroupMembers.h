// A distribution list's members named by the cards of the same book. Address-book clients show a
// group's member only when the group names the member's own card by its UID (urn:uuid:...):
// DAVx5 on Android and Apple's Contacts leave a mailto: member out. So a member whose address is
// on a card of the same book is named by that card; a member without one keeps mailto:, and so
// does one whose address is on the cards of different people (a family's or a team's address on
// each of their cards): the list would otherwise name one of them, perhaps not the member.
//
// Cards are written one at a time, and a list may come before its members: GroupsLast gives
// every other contact first, noting each one's addresses, and then the lists, when every card
// a member could be is known.
//
//   contact::GroupsLast ordered(contacts);
//   while (ordered.Next(item)) AppendVCard(out, item.contact, version, &ordered.Members());
#pragma once

#include "common/ScratchFile.h"
#include "contact/ContactStream.h"

#include <QHash>
#include <QString>
#include <QUuid>

#include <deque>
#include <utility>
#include <vector>

namespace lumivex::contact {

class MemberCards {
 public:
  // `inMemory`: the addresses kept in memory at most (28 bytes and the table's room each); past
  // it they go to a temporary file as sorted runs, so that memory stays bounded however many
  // cards there are. Where no temporary file can be written, they stay in memory.
  explicit MemberCards(size_t inMemory = size_t(1) << 18) : inMemory_(inMemory) {}
  // Notes the card of `contact` for each of its e-mail addresses (the first card an address is
  // met on keeps it, unless a card of another name has the address too).
  void Note(const Contact& contact);
  // What Note takes of `contact` (its card and addresses, as keys), appended to `out`: for a
  // contact written ahead of its turn (SourcedContact::written), noted by NoteAhead then.
  static void AheadNote(const Contact& contact, QByteArray& out);
  // Notes the card `written` begins with (AheadNote's bytes), as Note would have noted the
  // contact; gives back the bytes after them.
  QByteArrayView NoteAhead(QByteArrayView written);
  // The card `contact` was noted under is now the one of its uid (a destination gave it the uid
  // of the card the same person has there already): its addresses name that card from now on.
  // For the contact noted last.
  void Renamed(const QString& was, const Contact& contact);
  // The UUID of the card (as its UID line gives it) that has `address`; empty when none has, or
  // when cards of different names have it (then `shared`, where given, is set). Addresses are
  // compared without regard to case.
  QString CardOf(const QString& address, bool* shared = nullptr) const;

 private:
  // Each address noted, by a 64-bit hash of its compared form, and the UUID of its card. The
  // hash is kept as two halves: an address and its card then take 28 bytes in the table, not
  // 32 (no padding to eight), as much as before the cards' names were kept.
  struct Address {
    quint32 low = 0, high = 0;
    friend bool operator==(Address, Address) = default;
    friend bool operator<(Address a, Address b) {
      return a.high != b.high ? a.high < b.high : a.low < b.low;
    }
    friend size_t qHash(Address a, size_t seed) { return (size_t(a.high) << 32 | a.low) ^ seed; }
  };
  static Address AddressKey(const QString& address);
  // Who a card is, as far as telling apart two cards with one address takes: a hash of its
  // names as written (the cards of one person's entries left apart have the same), never 0.
  static quint32 NameKey(const Contact& contact);
  // The card first noted with an address, and its name; a null card (its name kept) where cards
  // of different names have the address.
  struct Card {
    QUuid card;
    quint32 name = 0;
  };
  struct Noted {
    Address address;
    Card held;
  };
  // `address` noted for `card`: the first card an address is met on keeps it, but not where a
  // card of another name has it too.
  void NoteAddress(Address address, const Card& card);
  // The addresses in memory to the file as a run in order of their hash.
  void Spill();
  // `address` in each run, the earliest run first, then in memory: the card first noted with
  // it, made null where a later one has another name. False where none has it.
  bool Find(Address address, Card& found) const;
  size_t inMemory_;
  QHash<Address, Card> byAddress_;  // noted since the last run was written
  ScratchFile file_{QStringLiteral("lumivex-members")};
  std::vector<std::pair<qint64, qint64>> runs_;  // the first record of each run, and how many
  bool memoryOnly_ = false;                      // the file could not be written
};

class GroupsLast : public ContactStream {
 public:
  explicit GroupsLast(ContactStream& inner) : inner_(inner) {}
  int Total() const override { return inner_.Total(); }
  bool Next(SourcedContact& out) override;
  const std::vector<EntryProblem>& Problems() const override { return inner_.Problems(); }
  QStringList NewUidStores() const override { return inner_.NewUidStores(); }
  bool WriteAhead(AheadWriter* writer) override { return inner_.WriteAhead(writer); }
  // The cards given so far; all of them once the first list is given. A contact given as
  // written is not among them until its consumer notes it (NoteAhead).
  const MemberCards& Members() const { return cards_; }
  // Notes the card of the contact last given as written, from the bytes its AheadWriter began
  // them with (MemberCards::AheadNote); gives back the bytes after those.
  QByteArrayView NoteAhead(QByteArrayView written) { return cards_.NoteAhead(written); }
  // The contact last given, once known under uid `was`, now carries the uid of its card: the
  // members of lists given later name that card (MemberCards::Renamed).
  void Renamed(const QString& was, const Contact& contact) { cards_.Renamed(was, contact); }

 private:
  ContactStream& inner_;
  MemberCards cards_;
  std::deque<SourcedContact> groups_;  // held back until the rest is out
  bool innerDone_ = false;
};

}  // namespace lumivex::contact
