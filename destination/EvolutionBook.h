// The GNOME / Evolution destination: an address book of the user's Evolution Data Server (the
// service behind Evolution, GNOME Contacts and GNOME Shell's search), by default the user's
// default book ("Personal" on a fresh desktop), or one chosen by its name.
//
// Contacts go in as vCard 3.0 cards (the form Evolution reads whole), in batches, each under the
// UUID the card carries as its UID, so that a second send replaces rather than duplicates. Each
// card we store carries X-LUMIVEX-SENT, a fingerprint of the card as we sent it; a later send
// compares it with the book's copy to tell "unchanged", "changed in the store since" and
// "changed by the user in the book since" (a conflict) apart. A card the user deleted takes that
// mark with it, so the uids sent to each book are also recorded under the state folder
// (SendState.h): one the record has and the book has not was deleted since, a conflict as an
// edit is. Without the record, a contact the book does not hold is added.
//
// The programs reach it through the module it is built into (EvolutionModule.h).
#pragma once

#include "destination/Destination.h"
#include "destination/EvolutionModule.h"

#include <QString>

#include <memory>
#include <vector>

namespace lumivex::destination {

// The address books of the user's Evolution Data Server, the default one first. Throws
// DestinationError when the server cannot be reached (not installed, no desktop session bus).
std::vector<EvolutionBookInfo> ListEvolutionBooks();

// Whether `to` names an Evolution book: "evolution" (the default book) or "evolution:BOOK";
// `book` gets BOOK, empty for the default book.
bool IsEvolutionTarget(const QString& to, QString* book);

// The book named `book` (its name as Evolution shows it, in any case, or its source id), or the
// default book when `book` is empty, with the record of sends kept in `stateFolder`. Nothing is
// opened until Send, which throws DestinationError when the server or the book cannot be
// reached.
std::unique_ptr<Destination> MakeEvolutionBook(const QString& book, const QString& stateFolder);

}  // namespace lumivex::destination
