// ByPersonLast (HeldCards.h): apart from the held cards themselves, which the matching fuzzer
// builds without the record of sends.
#include "destination/HeldCards.h"
#include "destination/SendState.h"

namespace lumivex::destination {

bool ByPersonLast::Later(const contact::SourcedContact& c) {
  if (c.contact.isGroup || state_.Knows(c)) return false;
  if (!theirs_.IsEmpty() && !ownThere_(c.contact) && theirs_.ByPersonAlone(c)) return true;
  return state_.TakesKnownByPerson(c);
}

bool ByPersonLast::Next(contact::SourcedContact& out) {
  while (!innerDone_) {
    if (!inner_.Next(out)) {
      innerDone_ = true;
      break;
    }
    if (held_.size() >= kAtMost || !Later(out)) return true;
    held_.push_back(std::move(out));
    out = contact::SourcedContact();
  }
  if (held_.empty()) return false;
  out = std::move(held_.front());
  held_.pop_front();
  return true;
}

}  // namespace lumivex::destination
