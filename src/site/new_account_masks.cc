// Masks of a new account: policy, coverage and their place in the list.
#include "site/new_account_masks.h"

#include "config/ip_policy.h"
#include "core/fixed_field.h"
#include "core/logs.h"
#include "core/match.h"
#include "core/strings.h"
#include "site/ip_mask_list.h"

namespace site {
namespace {

constexpr std::size_t kMasksTaken = 5;
constexpr std::size_t kLongestMask = core::kIpMaskSize - 1;
// check_secure_ip codes 2 to 6 answer with records 394 to 398.
constexpr int kPolicyMessageBase = 392;

enum StringNumber {
  kAdded = 608,
  kUnstorable = 607,
  kCovered = 609,
  kListFull = 610,
  kSurplus = 611,
};

// A userfile line is cut at "#", and its words at blanks.
bool storable(const std::string& mask) {
  if (mask.empty() || mask.size() > kLongestMask) return false;
  for (const char c : mask)
    if (c == '#' || static_cast<unsigned char>(c) < ' ' || c == 0x7f) return false;
  return true;
}

MaskOutcome place_one(core::UserRecord& record, const std::string& mask) {
  MaskOutcome outcome;
  outcome.mask = mask;
  if (!storable(mask)) {
    outcome.kind = MaskOutcome::Kind::Unstorable;
    return outcome;
  }
  if (const int policy = config::check_secure_ip(mask.c_str()); policy != 1) {
    outcome.kind = MaskOutcome::Kind::Policy;
    outcome.policy_message = kPolicyMessageBase + policy;
    return outcome;
  }
  const MaskPlacement placed = place_mask(record.ips, mask);
  switch (placed.outcome) {
    case MaskPlacement::Outcome::Covered:
      outcome.kind = MaskOutcome::Kind::Covered;
      outcome.covering = placed.covered_by;
      break;
    case MaskPlacement::Outcome::Full:
      outcome.kind = MaskOutcome::Kind::ListFull;
      break;
    case MaskPlacement::Outcome::Added:
      outcome.replaced = placed.removed;
      compact_masks(record.ips);
      break;
  }
  return outcome;
}

}  // namespace

std::vector<MaskOutcome> place_masks(core::UserRecord& record, const std::vector<std::string>& masks) {
  std::vector<MaskOutcome> outcomes;
  for (std::size_t i = 0; i < masks.size(); ++i) {
    if (i < kMasksTaken) {
      outcomes.push_back(place_one(record, masks[i]));
    } else {
      MaskOutcome surplus;
      surplus.kind = MaskOutcome::Kind::Surplus;
      surplus.mask = masks[i];
      outcomes.push_back(surplus);
    }
  }
  return outcomes;
}

void report_masks(int code, const std::vector<MaskOutcome>& outcomes, const char* admin,
                  const char* user) {
  using Kind = MaskOutcome::Kind;
  for (const MaskOutcome& outcome : outcomes) {
    switch (outcome.kind) {
      case Kind::Added:
        for (const std::string& old : outcome.replaced)
          core::sysop_log("'%.23s' auto-removed ip '%s' from '%.23s'", admin, old, user);
        core::sysop_log("'%.23s' added ip '%s' to '%.23s'", admin, outcome.mask, user);
        core::string_reply(code, kAdded, 1, outcome.mask);
        break;
      case Kind::Unstorable:
        core::string_reply(code, kUnstorable, 1, outcome.mask, static_cast<int>(kLongestMask));
        break;
      case Kind::Policy:
        core::string_reply(code, outcome.policy_message, 1);
        break;
      case Kind::Covered:
        core::string_reply(code, kCovered, 1, outcome.mask, outcome.covering);
        break;
      case Kind::ListFull:
        core::string_reply(code, kListFull, 1, outcome.mask);
        break;
      case Kind::Surplus:
        core::string_reply(code, kSurplus, 1, outcome.mask);
        break;
    }
  }
}

}  // namespace site
