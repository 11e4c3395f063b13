// SITE ADDIP and DELIP: who may edit whose masks, the IP policy a new mask
// must meet, and the sysop-log account of every mask added or removed.
#include "site/ip_commands.h"

#include <cstring>
#include <string>
#include <vector>

#include "config/ip_policy.h"
#include "core/logs.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/admin_scope.h"
#include "site/argument_words.h"
#include "site/ip_mask_list.h"
#include "site/target_names.h"
#include "text/text_file.h"
#include "userdb/userfile.h"

namespace site {
namespace {

constexpr int kDone = 7;
constexpr int kUnsaved = 59;
constexpr int kNoSuchUser = 311;
constexpr int kCannotLoad = 370;
constexpr int kOutsideGroup = 386;
// check_secure_ip's refusals 2 to 6 are messages 394 to 398.
constexpr int kPolicyMessageBase = 392;
constexpr int kMaskNotFound = 403;
constexpr int kSlotEmpty = 404;
constexpr int kMaskRemoved = 405;
constexpr int kMasksDone = 406;
constexpr int kMasterOnly = 418;
constexpr int kMaskAdded = 640;
constexpr int kMaskCovered = 641;
constexpr int kMaskListFull = 642;
constexpr int kMaskTooLong = 643;
constexpr int kNoMasks = 644;
constexpr int kTooManyMasks = 645;
constexpr int kMaskAutoRemoved = 646;

constexpr std::size_t kMaxMasksPerCommand = core::kMaxIps;

struct MaskArguments {
  std::string name;
  std::vector<std::string> masks;  // masks, or for DELIP also slot numbers
};

// Splits "NAME MASK..." and answers when there is nothing or too much to do.
bool split_arguments(std::string_view text, bool continued, MaskArguments& out) {
  std::vector<std::string> words = argument_words(text);
  if (words.size() < 2) {
    core::string_reply(200, kNoMasks, continued);
    return false;
  }
  if (words.size() - 1 > kMaxMasksPerCommand) {
    core::string_reply(200, kTooManyMasks, continued, kMaxMasksPerCommand);
    return false;
  }
  out.name = words[0];
  out.masks.assign(words.begin() + 1, words.end());
  return true;
}

// Locks and loads the user whose masks change into the work record, unless
// the session may not edit them; answers every refusal.
bool lock_target(const std::string& name, bool continued) {
  if (!valid_target_name(name, true) || !userdb::user_exists(name.c_str())) {
    core::string_reply(200, kNoSuchUser, continued, name);
    return false;
  }
  if (userdb::lock_and_load_user(name.c_str()) != 0) {
    core::string_reply(200, kCannotLoad, continued, name);
    return false;
  }
  const core::UserRecord& target = userdb::work_user();
  int refusal = 0;
  if (gadmin_scope(target) == GadminScope::OutOfScope) {
    refusal = kOutsideGroup;
  } else if (name != acting_name() &&
             (core::has_flag(target.flags, core::flag::kSiteop) || is_master(name)) &&
             !acting_as_master_siteop()) {
    refusal = kMasterOnly;
  }
  if (refusal == 0) return true;
  userdb::unlock_user(name.c_str());
  if (refusal == kOutsideGroup)
    core::string_reply(200, refusal, continued, core::session().user.groups[0]);
  else
    core::string_reply(200, refusal, continued);
  return false;
}

// Writes the edited list back, or just lets go of the lock when nothing
// changed. The session's own record follows an edit of its own masks.
bool save_masks(bool changed, bool continued) {
  core::UserRecord& target = userdb::work_user();
  if (!changed) {
    userdb::unlock_user(target.name);
    return true;
  }
  compact_masks(target.ips);
  if (userdb::write_user(target) != 0) {
    core::string_reply(200, kUnsaved, continued, target.name);
    return false;
  }
  core::UserRecord& own = core::session().user;
  if (std::strcmp(own.name, target.name) == 0) std::memcpy(own.ips, target.ips, sizeof own.ips);
  return true;
}

bool add_mask(core::UserRecord& target, const std::string& mask) {
  if (mask.size() > kMaxMaskLength) {
    core::string_reply(200, kMaskTooLong, 1, kMaxMaskLength);
    return false;
  }
  const int policy = config::check_secure_ip(mask.c_str());
  if (policy != 1) {
    core::string_reply(200, kPolicyMessageBase + policy, 1);
    return false;
  }
  const MaskPlacement placement = place_mask(target.ips, mask);
  switch (placement.outcome) {
    case MaskPlacement::Outcome::Covered:
      core::string_reply(200, kMaskCovered, 1, mask, placement.covered_by);
      return false;
    case MaskPlacement::Outcome::Full:
      core::string_reply(200, kMaskListFull, 1, mask);
      return false;
    case MaskPlacement::Outcome::Added:
      break;
  }
  for (const std::string& removed : placement.removed) {
    core::sysop_log("'%.23s' auto-removed ip '%s' from '%.23s'", acting_name(), removed, target.name);
    core::string_reply(200, kMaskAutoRemoved, 1, removed);
  }
  core::sysop_log("'%.23s' added ip '%s' to '%.23s'", acting_name(), mask, target.name);
  core::string_reply(200, kMaskAdded, 1, mask);
  return true;
}

// The slot a DELIP word names: a single digit is a slot number, anything
// else a mask spelled exactly as stored. -1 when there is none (answered).
int slot_to_empty(const core::UserRecord& target, const std::string& word) {
  if (word.size() == 1 && word[0] >= '0' && word[0] <= '9') {
    const int slot = word[0] - '0';
    if (target.ips[slot][0] != '\0') return slot;
    core::string_reply(200, kSlotEmpty, 1);
    return -1;
  }
  for (int slot = 0; slot < core::kMaxIps; ++slot)
    if (target.ips[slot][0] != '\0' && word == target.ips[slot]) return slot;
  core::string_reply(200, kMaskNotFound, 1);
  return -1;
}

bool bare(const core::CommandArgs& args) { return !args.text || args.text->empty(); }

int show_usage(const char* help_name) {
  text::show_help(200, help_name);
  core::string_reply(200, kDone, 0);
  return 0;
}

}  // namespace

int add_ips(std::string_view arguments, bool continued) {
  MaskArguments parsed;
  if (!split_arguments(arguments, continued, parsed) || !lock_target(parsed.name, continued)) return 1;
  core::UserRecord& target = userdb::work_user();
  std::size_t added = 0;
  for (const std::string& mask : parsed.masks)
    if (add_mask(target, mask)) ++added;
  if (!save_masks(added > 0, continued)) return 1;
  if (!continued) core::string_reply(200, kMasksDone, 0);
  return added == parsed.masks.size() ? 0 : 1;
}

namespace commands {

int site_addip(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.addip");
  return add_ips(*args.text, false);
}

int site_delip(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.delip");
  MaskArguments parsed;
  if (!split_arguments(*args.text, false, parsed) || !lock_target(parsed.name, false)) return 1;
  core::UserRecord& target = userdb::work_user();
  // Slot numbers keep naming the slots as listed before this command: the
  // list is compacted only at the end.
  std::size_t removed = 0;
  for (const std::string& word : parsed.masks) {
    const int slot = slot_to_empty(target, word);
    if (slot < 0) continue;
    core::sysop_log("'%.23s' removed ip '%s' from '%.23s'", acting_name(), target.ips[slot], target.name);
    core::string_reply(200, kMaskRemoved, 1);
    target.ips[slot][0] = '\0';
    ++removed;
  }
  if (!save_masks(removed > 0, false)) return 1;
  core::string_reply(200, kMasksDone, 0);
  return removed == parsed.masks.size() ? 0 : 1;
}

}  // namespace commands
}  // namespace site
