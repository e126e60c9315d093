// The UUID a card carries: the same person's card keeps it from one export or send to the next,
// whichever writer or destination writes the card.
#pragma once

#include <QString>

namespace lumivex::contact {

// Whether `uid` is a UUID already written as QUuid writes one (lower-case, without braces) and
// not the null one: the uid of every contact read from a store is.
bool IsCanonicalUuid(const QString& uid);

// The UUID that stands for `uid` in a card: `uid` itself when it is one, else a UUID made from it
// (the same text always gives the same UUID).
QString CardUuid(const QString& uid);

}  // namespace lumivex::contact
