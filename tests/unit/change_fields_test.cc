// The flags edit of SITE CHANGE: "+" and "-" switch between adding and
// removing, case does not matter, non-flag characters are skipped, and the
// result is sorted.
#include "site/change_fields.h"

#include <gtest/gtest.h>

namespace {

struct FlagsCase {
  const char* flags;
  const char* edit;
  const char* expected;
};

TEST(EditedFlags, AppliesEachCharacterInTurnAndSorts) {
  const FlagsCase cases[] = {
      {"23", "+1-2", "13"},        // siteop made, gadmin taken away
      {"3", "+ad", "3AD"},         // letters in upper case
      {"3AD", "-d+b", "3AB"},      // switching direction mid-way
      {"13", "+1+3", "13"},        // present flags are not doubled
      {"3", "+?z9 0", "39Z"},      // only letters and 1-9 count
      {"31", "+", "13"},           // nothing to apply: still sorted
      {"1A", "-x", "1A"},          // removing an absent flag
      {"", "-1+1", "1"},
  };
  for (const FlagsCase& c : cases)
    EXPECT_EQ(site::change::edited_flags(c.flags, c.edit), c.expected) << c.flags << " " << c.edit;
}

}  // namespace
