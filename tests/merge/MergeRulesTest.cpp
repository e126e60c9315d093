// The values entries are compared by: telephone numbers as the numbering plans write them in
// their international and national forms.
#include "merge/MergeRules.h"

#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

using namespace lumivex;

namespace {

struct PhoneCase {
  const char* international;
  const char* national;
};

// The same number written for callers abroad and at home (country codes from ITU-T E.164; the
// trunk prefix of each country's own plan).
const PhoneCase kSameNumbers[] = {
    {"+49 30 1234567", "030 1234567"},         // Germany, trunk 0
    {"0049 (30) 123-4567", "030/1234567"},     // the 00 exit code and punctuation
    {"+44 (0)20 7946 0018", "020 7946 0018"},  // United Kingdom, trunk written in brackets
    {"+1 (555) 123-4567", "1-555-123-4567"},   // North America, trunk 1
    {"+1 555 123 4567", "555.123.4567"},       // North America without the trunk
    {"+33 1 42 68 53 00", "01 42 68 53 00"},   // France
    {"+353 1 234 5678", "01 234 5678"},        // Ireland, a three-digit country code
    {"+81 3-1234-5678", "03-1234-5678"},       // Japan
};

TEST(ComparablePhone, InternationalAndNationalFormsOfOneNumberMatch) {
  for (const PhoneCase& c : kSameNumbers) {
    EXPECT_EQ(merge::ComparablePhone(QString::fromUtf8(c.international)),
              merge::ComparablePhone(QString::fromUtf8(c.national)))
        << c.international << " / " << c.national;
  }
}

TEST(ComparablePhone, DifferentNumbersAndShortOnesDoNotMatch) {
  EXPECT_NE(merge::ComparablePhone("+49 30 1234567"), merge::ComparablePhone("+49 30 1234568"));
  EXPECT_TRUE(merge::ComparablePhone("112").isEmpty());
  EXPECT_TRUE(merge::ComparablePhone("ext. 1234").isEmpty());
}

}  // namespace
