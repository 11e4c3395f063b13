// Masks of a new account: policy, coverage and their place in the list.
#include "site/new_account_masks.h"

#include "config/ip_policy.h"
#include "core/fixed_field.h"
#include "core/logs.h"
#include "core/match.h"
#include "core/strings.h"

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

// Empty slots never stand before used ones.
void compact(core::UserRecord& record) {
  int next = 0;
  for (int i = 0; i < core::kMaxIps; ++i) {
    if (record.ips[i][0] == '\0') continue;
    if (i != next) {
      core::copy_field(record.ips[next], record.ips[i]);
      record.ips[i][0] = '\0';
    }
    ++next;
  }
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
  for (const auto& held : record.ips) {
    if (held[0] != '\0' && core::name_match(mask, held)) {
      outcome.kind = MaskOutcome::Kind::Covered;
      outcome.covering = held;
      return outcome;
    }
  }
  for (auto& held : record.ips) {
    if (held[0] != '\0' && core::name_match(held, mask)) {
      outcome.replaced.emplace_back(held);
      held[0] = '\0';
    }
  }
  compact(record);
  for (auto& slot : record.ips) {
    if (slot[0] == '\0') {
      core::copy_field(slot, mask);
      return outcome;
    }
  }
  outcome.kind = MaskOutcome::Kind::ListFull;
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
