#include "destination/SendDecision.h"

namespace lumivex::destination {

SendDecision DecideSend(const SendFacts& facts, bool overwrite) {
  if (facts.repeated) return SendDecision::kRepeated;
  if (!facts.present)
    return facts.recorded && !overwrite ? SendDecision::kDeletedThere : SendDecision::kAdd;
  if (facts.same) return SendDecision::kUnchanged;
  if (overwrite) return SendDecision::kUpdate;
  if (!facts.untouched)
    return facts.recorded ? SendDecision::kChangedThere : SendDecision::kNotOurs;
  return facts.sentFromNewer ? SendDecision::kSentFromNewer : SendDecision::kUpdate;
}

SendOutcome OutcomeOf(SendDecision decision) {
  switch (decision) {
    case SendDecision::kAdd:
      return SendOutcome::kAdded;
    case SendDecision::kUpdate:
      return SendOutcome::kUpdated;
    case SendDecision::kUnchanged:
      return SendOutcome::kUnchanged;
    case SendDecision::kRepeated:
      return SendOutcome::kRepeated;
    case SendDecision::kDeletedThere:
    case SendDecision::kChangedThere:
    case SendDecision::kNotOurs:
    case SendDecision::kSentFromNewer:
      return SendOutcome::kConflict;
  }
  return SendOutcome::kFailed;
}

void RefuseIfHoldsCards(const SendOptions& options, const QString& destination, qsizetype cards) {
  if (options.onlyIntoEmpty && cards > 0)
    throw DestinationHoldsCards(destination, static_cast<int>(cards));
}

}  // namespace lumivex::destination
