// Placing a mask in a user's mask list.
#include "site/ip_mask_list.h"

#include "core/fixed_field.h"
#include "core/match.h"

namespace site {
namespace {

// A "!file" entry names a file of masks: it is no pattern, so it neither
// covers a new mask nor is covered by one.
bool is_pattern(const char* slot) { return slot[0] != '\0' && slot[0] != '!'; }

// Whether `wider`, used as a mask pattern, matches the text of `narrower`.
bool covers(std::string_view wider, std::string_view narrower) {
  return core::name_match(narrower, wider);
}

}  // namespace

MaskPlacement place_mask(MaskList& masks, std::string_view mask) {
  MaskPlacement placement;
  for (const auto& slot : masks) {
    if (is_pattern(slot) && covers(slot, mask)) {
      placement.outcome = MaskPlacement::Outcome::Covered;
      placement.covered_by = slot;
      return placement;
    }
  }

  // The first slot that is empty or about to be emptied takes the mask.
  int free_slot = -1;
  for (int i = 0; i < core::kMaxIps && free_slot < 0; ++i)
    if (masks[i][0] == '\0' || (is_pattern(masks[i]) && covers(mask, masks[i]))) free_slot = i;
  if (free_slot < 0) {
    placement.outcome = MaskPlacement::Outcome::Full;
    return placement;
  }

  for (auto& slot : masks) {
    if (is_pattern(slot) && covers(mask, slot)) {
      placement.removed.emplace_back(slot);
      slot[0] = '\0';
    }
  }
  core::copy_field(masks[free_slot], core::kIpMaskSize, mask);
  return placement;
}

void compact_masks(MaskList& masks) {
  int next = 0;
  for (int i = 0; i < core::kMaxIps; ++i) {
    if (masks[i][0] == '\0') continue;
    if (i != next) {
      core::copy_field(masks[next], core::kIpMaskSize, masks[i]);
      masks[i][0] = '\0';
    }
    ++next;
  }
}

}  // namespace site
