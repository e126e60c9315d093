// Cards a destination holds that the record of sends does not know (the record was lost, or the
// cards came from another copy of the program), and the person each holds: so that a contact
// sent again updates the card already there for the same person instead of adding a second one.
// A card is the same person as a contact when they have an e-mail address in common, or the same
// full name and a telephone number in common, as entries are taken to be one person.
#pragma once

#include "contact/Contact.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <vector>

namespace lumivex::destination {

class HeldCards {
 public:
  struct Card {
    QString uid;       // the card's UID
    QString resource;  // where it is (an href's path, a file name)
  };
  // Takes in the card `bytes` (a vCard of any version) found at `resource`.
  void Add(const QByteArray& bytes, const QString& resource);
  bool IsEmpty() const { return cards_.empty(); }
  // The card holding the same person as `c`, each card given out once; null when none.
  const Card* Match(const contact::Contact& c);

 private:
  std::vector<Card> cards_;
  QHash<QString, int> byKey_;  // a compared e-mail address or name-and-phone: the card
  QSet<int> given_;
};

}  // namespace lumivex::destination
