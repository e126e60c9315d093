// What becomes of one contact in a send, decided once for every destination from what the
// destination found out about it: whether it sent the contact there before, whether the
// destination holds a card in the contact's place, whether that card is still as it was left
// and whether it already says what would be sent now. The destinations find these out (a file's
// size and time, a server's ETag, a mark in the book's card) and carry out the decision; the
// decision itself looks at nothing else.
#pragma once

#include "destination/Destination.h"

namespace lumivex::destination {

struct SendFacts {
  bool repeated = false;   // the contact's uid came earlier in this send
  bool recorded = false;   // sent to this destination before
  bool present = false;    // the destination holds a card in the contact's place
  bool untouched = false;  // that card is as the last send left it
  bool same = false;       // that card already says what would be sent now
  // That card holds what sending the contact would take from it (SendState::NotSentOver): it
  // was sent from entries changed later than the contact's now (an older copy of a store), or
  // other stores' entries made it and the contact took it by the person alone.
  bool sentFromNewer = false;
};

enum class SendDecision {
  kAdd,            // nothing there: put the contact there
  kUpdate,         // there as it was left (or overwriting) and changed in the store: replace it
  kUnchanged,      // there as it would be sent: nothing to write
  kRepeated,       // sent once already in this send: not sent again
  kDeletedThere,   // sent before and deleted by the user since: left deleted
  kChangedThere,   // sent before and changed by the user there since: left as the user made it
  kNotOurs,        // there, differing, and not known to come from here: left as it is
  kSentFromNewer,  // as it was left, holding what the contact would take away: left as it is
};

// The decision for one contact; `overwrite` sends over what the user changed or deleted.
SendDecision DecideSend(const SendFacts& facts, bool overwrite);

// How the decision is counted in a send's result.
SendOutcome OutcomeOf(SendDecision decision);

// Whether a send may go into a destination that holds `cards` cards already: not when its
// contacts' UIDs are new (SendOptions::onlyIntoEmpty), as the cards there may be the same people
// under their old UIDs. Throws DestinationHoldsCards naming `destination` then; every destination
// asks before it sends anything.
void RefuseIfHoldsCards(const SendOptions& options, const QString& destination, qsizetype cards);

}  // namespace lumivex::destination
