// A user's list of ident@host masks as ADDIP and DELIP edit it: a new mask
// that an existing one already covers is pointless, and existing masks the
// new one covers are dropped so the list stays as short as it can be.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/user_record.h"

namespace site {

using MaskList = char[core::kMaxIps][core::kIpMaskSize];

// The longest mask a list slot holds; a longer one is refused, never cut.
inline constexpr std::size_t kMaxMaskLength = core::kIpMaskSize - 1;

struct MaskPlacement {
  enum class Outcome { Added, Covered, Full };
  Outcome outcome = Outcome::Added;
  std::string covered_by;            // Covered: the existing mask that covers it
  std::vector<std::string> removed;  // Added: existing masks it covered
};

// Puts `mask` into the first free slot of `masks` after removing the masks
// it covers, unless an existing mask covers it (then nothing changes). A
// list with no free slot left refuses it; the covered masks then stay.
MaskPlacement place_mask(MaskList& masks, std::string_view mask);

// Moves the used slots to the front, keeping their order.
void compact_masks(MaskList& masks);

}  // namespace site
