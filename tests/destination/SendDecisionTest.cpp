// The send decision for every situation a re-run send meets, each with how it is counted.
#include "destination/SendDecision.h"

#include <gtest/gtest.h>

namespace lumivex::destination {
namespace {

struct Case {
  const char* situation;
  SendFacts facts;  // repeated, recorded, present, untouched, same, sentFromNewer
  bool overwrite;
  SendDecision decision;
  SendOutcome outcome;
};

constexpr bool kOverwrite = true;

const Case kCases[] = {
    {"first send, nothing there",
     {false, false, false, false, false},
     false,
     SendDecision::kAdd,
     SendOutcome::kAdded},
    {"sent before, nothing changed",
     {false, true, true, true, true},
     false,
     SendDecision::kUnchanged,
     SendOutcome::kUnchanged},
    {"sent before, changed in the store",
     {false, true, true, true, false},
     false,
     SendDecision::kUpdate,
     SendOutcome::kUpdated},
    {"sent before, deleted by the user",
     {false, true, false, false, false},
     false,
     SendDecision::kDeletedThere,
     SendOutcome::kConflict},
    {"sent before, deleted by the user, overwriting",
     {false, true, false, false, false},
     kOverwrite,
     SendDecision::kAdd,
     SendOutcome::kAdded},
    {"sent before, changed by the user",
     {false, true, true, false, false},
     false,
     SendDecision::kChangedThere,
     SendOutcome::kConflict},
    {"sent before, changed by the user, overwriting",
     {false, true, true, false, false},
     kOverwrite,
     SendDecision::kUpdate,
     SendOutcome::kUpdated},
    {"changed by the user into what would be sent",
     {false, true, true, false, true},
     false,
     SendDecision::kUnchanged,
     SendOutcome::kUnchanged},
    {"sent before from the same entries changed later (an older copy sent now)",
     {false, true, true, true, false, true},
     false,
     SendDecision::kSentFromNewer,
     SendOutcome::kConflict},
    {"an older copy sent now, overwriting",
     {false, true, true, true, false, true},
     kOverwrite,
     SendDecision::kUpdate,
     SendOutcome::kUpdated},
    {"an older copy that says what the card says",
     {false, true, true, true, true, true},
     false,
     SendDecision::kUnchanged,
     SendOutcome::kUnchanged},
    {"an older copy, and the card changed by the user",
     {false, true, true, false, false, true},
     false,
     SendDecision::kChangedThere,
     SendOutcome::kConflict},
    {"someone else's card in its place",
     {false, false, true, false, false},
     false,
     SendDecision::kNotOurs,
     SendOutcome::kConflict},
    {"someone else's card in its place, overwriting",
     {false, false, true, false, false},
     kOverwrite,
     SendDecision::kUpdate,
     SendOutcome::kUpdated},
    {"record lost, the card there is as it would be sent",
     {false, false, true, false, true},
     false,
     SendDecision::kUnchanged,
     SendOutcome::kUnchanged},
    {"the same uid again in one send",
     {true, false, false, false, false},
     false,
     SendDecision::kRepeated,
     SendOutcome::kRepeated},
    {"the same uid again, even overwriting and unchanged",
     {true, true, true, true, true},
     kOverwrite,
     SendDecision::kRepeated,
     SendOutcome::kRepeated},
};

TEST(SendDecision, EverySituationDecidedAndCounted) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.situation);
    const SendDecision decision = DecideSend(c.facts, c.overwrite);
    EXPECT_EQ(decision, c.decision);
    EXPECT_EQ(OutcomeOf(decision), c.outcome);
  }
}

}  // namespace
}  // namespace lumivex::destination
