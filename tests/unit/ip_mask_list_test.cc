// Placing a new mask in a user's mask list: covered masks, full lists and
// compaction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fixed_field.h"
#include "site/ip_mask_list.h"

namespace {

using Outcome = site::MaskPlacement::Outcome;
using Masks = std::vector<std::string>;

void fill(site::MaskList& list, const Masks& masks) {
  for (auto& slot : list) slot[0] = '\0';
  for (std::size_t i = 0; i < masks.size(); ++i) core::copy_field(list[i], masks[i]);
}

Masks slots(const site::MaskList& list) {
  Masks masks;
  for (const auto& slot : list) masks.emplace_back(slot);
  while (!masks.empty() && masks.back().empty()) masks.pop_back();
  return masks;
}

Masks ten(const char* prefix) {
  Masks masks;
  for (int i = 0; i < 10; ++i) masks.push_back(prefix + std::to_string(i) + "@10.0.0." + std::to_string(i));
  return masks;
}

struct Case {
  const char* what;
  Masks before;
  std::string mask;
  Outcome outcome;
  Masks after;  // slots as left (trailing empty ones dropped), before compaction
  Masks removed;
  std::string covered_by;
};

TEST(PlaceMask, FollowsCoverage) {
  Masks full = ten("u");
  Masks full_with_covered = full;
  full_with_covered[4] = "bob@10.9.9.9";
  Masks full_after = full_with_covered;
  full_after[4] = "*@10.9.9.*";
  const Case cases[] = {
      {"a wider mask replaces the one it covers", {"bob@10.0.0.5"}, "*@10.0.0.*", Outcome::Added,
       {"*@10.0.0.*"}, {"bob@10.0.0.5"}, ""},
      {"a narrower mask is refused", {"*@10.0.0.*"}, "bob@10.0.0.5", Outcome::Covered, {"*@10.0.0.*"}, {},
       "*@10.0.0.*"},
      {"the same mask again is refused", {"a@1.2.3.4"}, "a@1.2.3.4", Outcome::Covered, {"a@1.2.3.4"}, {},
       "a@1.2.3.4"},
      {"the first covered slot takes the mask, later ones are emptied",
       {"x@1.1.1.1", "bob@10.0.0.5", "y@2.2.2.2", "eve@10.0.0.6", "z@3.3.3.3"}, "*@10.0.0.*", Outcome::Added,
       {"x@1.1.1.1", "*@10.0.0.*", "y@2.2.2.2", "", "z@3.3.3.3"}, {"bob@10.0.0.5", "eve@10.0.0.6"}, ""},
      {"an unrelated mask goes to the first empty slot", {"x@1.1.1.1"}, "y@2.2.2.2", Outcome::Added,
       {"x@1.1.1.1", "y@2.2.2.2"}, {}, ""},
      {"a full list refuses", full, "z@3.3.3.3", Outcome::Full, full, {}, ""},
      {"a full list makes room by a covered mask", full_with_covered, "*@10.9.9.*", Outcome::Added,
       full_after, {"bob@10.9.9.9"}, ""},
      {"a mask file entry is never covered", {"!/ftp-data/masks", "a@1.1.1.1"}, "*@*", Outcome::Added,
       {"!/ftp-data/masks", "*@*"}, {"a@1.1.1.1"}, ""},
  };
  for (const Case& c : cases) {
    site::MaskList list;
    fill(list, c.before);
    const site::MaskPlacement placement = site::place_mask(list, c.mask);
    EXPECT_EQ(placement.outcome, c.outcome) << c.what;
    EXPECT_EQ(slots(list), c.after) << c.what;
    EXPECT_EQ(placement.removed, c.removed) << c.what;
    EXPECT_EQ(placement.covered_by, c.covered_by) << c.what;
  }
}

TEST(CompactMasks, MovesUsedSlotsToTheFrontInOrder) {
  site::MaskList list;
  fill(list, {"", "a@1.1.1.1", "", "b@2.2.2.2", "", "", "", "", "", "c@3.3.3.3"});
  site::compact_masks(list);
  EXPECT_EQ(slots(list), (Masks{"a@1.1.1.1", "b@2.2.2.2", "c@3.3.3.3"}));
}

}  // namespace
