// SITE ADDUSER and GADDUSER: a new account from a template, with its
// passwd line, userfile and masks; a group administrator spends a slot.
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "config/ip_policy.h"
#include "core/fixed_field.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/account_commands.h"
#include "site/account_support.h"
#include "site/admin_scope.h"
#include "site/new_account_masks.h"
#include "site/passwd_edits.h"
#include "text/text_file.h"
#include "userdb/groups.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr std::size_t kPasswordLength = 8;

enum StringNumber {
  kCutPassword = 100,
  kPolicyHeader = 101,
  kGaddUserUsage = 192,
  kNoSuchGroup = 323,
  kExists = 368,
  kOwnFileUnloadable = 373,
  kNoSlots = 374,
  kSiteFull = 375,
  kBannedName = 376,
  kBadName = 377,
  kNoPassword = 378,
  kPasswordRefused = 379,
  kTemplateUnloadable = 380,
  kNotAdded = 381,
  kAddingMasks = 382,
  kAddedToGroup = 383,
  kAdded = 384,
  kOutsideGroup = 386,
  kDashPassword = 605,
};

// The `total_users` limit, when the site sets one.
bool user_limit(int& limit) {
  const char* value = config::config_value("total_users");
  if (!value) return false;
  char* end = nullptr;
  const long parsed = std::strtol(value, &end, 10);
  if (end == value || *end != '\0' || parsed < 0 || parsed > 1000000) return false;
  limit = static_cast<int>(parsed);
  return true;
}

bool banned_name(const std::string& name) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("banned_users", cursor))
    for (int i = 1; line->arg(i); ++i)
      if (::strcasecmp(line->arg(i), name.c_str()) == 0) return true;
  return false;
}

// The password as it will be stored, or a refusal already answered.
bool acceptable_password(std::string& password) {
  // PASS drops a leading "-" (it asks for terse replies), so such a
  // password could never be given at login.
  if (password[0] == '-') {
    core::string_reply(kCode, kDashPassword, 1);
    core::string_reply(kCode, kPasswordRefused, 0);
    return false;
  }
  if (password.size() > kPasswordLength) {
    core::string_reply(kCode, kCutPassword, 1);
    password.resize(kPasswordLength);
  }
  const std::vector<std::string> unmet = config::unmet_password_requirements(password.c_str());
  if (unmet.empty()) return true;
  core::string_reply(kCode, kPolicyHeader, 1);
  for (std::size_t i = 0; i < unmet.size(); ++i) core::lreply(kCode, i == 0 ? "%s" : "OR %s", unmet[i]);
  core::string_reply(kCode, kPasswordRefused, 0);
  return false;
}

// The template of a new account in `group`: "default.GROUP" when there is
// one, else "default.user". Loaded into `account`; its HOMEDIR waits for
// the passwd line.
bool load_template(const std::string& group, const std::string& name, core::UserRecord& account) {
  std::string template_name = "default.user";
  if (!group.empty() && userdb::user_exists(("default." + group).c_str())) template_name = "default." + group;
  userdb::pending_home_dir().clear();
  userdb::account_being_created() = name;
  const bool loaded = userdb::load_user(template_name.c_str()) == 0;
  userdb::account_being_created().clear();
  if (!loaded) {
    userdb::pending_home_dir().clear();
    core::string_reply(kCode, kTemplateUnloadable, 0, template_name);
    return false;
  }
  account = userdb::work_user();
  return true;
}

// The account's passwd gid and its userfile, after its passwd line was
// added; on failure the line goes again, so no half account stays.
bool complete_account(const core::UserRecord& account) {
  // add_passwd_user wrote the gid of accounts without a group.
  const unsigned gid = group_gid_for_passwd(account.groups[0]);
  if (gid != kGrouplessGid) {
    if (const int failed = set_passwd_gid(account.name, gid)) {
      core::string_reply(kCode, failed, 1, account.name);
      userdb::delete_passwd_user(account.name);
      return false;
    }
  }
  if (userdb::write_user(account) != 0) {
    userdb::delete_passwd_user(account.name);
    return false;
  }
  core::PrivilegeBracket privileged;
  // Other tools of the site edit userfiles as well.
  ::chmod(userdb::userfile_path(account.name).c_str(), 0666);
  return true;
}

// What add_account made, for the closing reply.
struct AddedAccount {
  std::string name;
  std::string group;
};

// Everything between the session user's lock and the slot: 0 when the
// account was added, which the caller then announces; any refusal is
// answered here.
int add_account(const core::UserRecord& admin, std::string group, std::string_view text,
                AddedAccount& added) {
  const bool gadmin = core::has_flag(admin.flags, core::flag::kGadmin);
  if (gadmin && admin.slots[0] == 0) {
    core::string_reply(kCode, kNoSlots, 0);
    return 1;
  }
  if (!group.empty()) {
    if (!userdb::find_group(group, 0, 0)) {
      core::string_reply(kCode, kNoSuchGroup, 0, group);
      return 1;
    }
    if (gadmin && group != admin.groups[0]) {
      core::string_reply(kCode, kOutsideGroup, 0, admin.groups[0]);
      return 1;
    }
  }
  if (int limit = 0; user_limit(limit) && userdb::count_passwd_entries() >= limit) {
    core::string_reply(kCode, kSiteFull, 0, limit);
    return 1;
  }
  const std::vector<std::string> words = argument_words(text);
  const std::string name = words.empty() ? std::string() : words[0];
  if (!valid_new_user_name(name)) {
    core::string_reply(kCode, kBadName, 0);
    return 1;
  }
  if (banned_name(name)) {
    text::show_help(kCode, "site.adduser.banned");
    core::string_reply(kCode, kBannedName, 0);
    return 1;
  }
  if (userdb::user_exists(name.c_str())) {
    core::string_reply(kCode, kExists, 0);
    return 1;
  }
  if (words.size() < 2) {
    core::string_reply(kCode, kNoPassword, 0);
    return 1;
  }
  std::string password = words[1];
  if (!acceptable_password(password)) return 1;
  const std::vector<std::string> masks(words.begin() + 2, words.end());

  if (group.empty() && gadmin) group = admin.groups[0];
  core::UserRecord account;
  if (!load_template(group, name, account)) return 1;
  if (const int refused = userdb::add_passwd_user(name.c_str(), password.c_str())) {
    userdb::pending_home_dir().clear();
    core::string_reply(kCode, refused, 1, name);
    core::string_reply(kCode, kNotAdded, 0);
    return 1;
  }

  core::copy_field(account.name, name);
  account.last_login = static_cast<int32_t>(core::now());
  if (!group.empty()) {
    core::copy_field(account.groups[0], group);
    if (gadmin) add_flag(account, core::flag::kGlock);
  }
  core::copy_field(account.comment, std::string("Added by ") + admin.name);
  const std::vector<MaskOutcome> placed = place_masks(account, masks);
  if (!complete_account(account)) {
    core::string_reply(kCode, kNotAdded, 0);
    return 1;
  }

  if (!masks.empty()) {
    core::string_reply(kCode, kAddingMasks, 1);
    report_masks(kCode, placed, admin.name, name.c_str());
    core::lreply(kCode, "");
  }
  added = AddedAccount{name, group};
  return 0;
}

void announce(const AddedAccount& added, const char* admin) {
  if (added.group.empty()) {
    core::sysop_log("'%.23s' added user '%.23s'.", admin, added.name);
    core::string_reply(kCode, kAdded, 0, added.name);
  } else {
    core::sysop_log("'%s' added user '%s' to group '%s'.", admin, added.name, added.group);
    core::string_reply(kCode, kAddedToGroup, 0, added.name);
  }
}

// The add-user routine of both commands. The session user's userfile stays
// locked throughout, so two additions by one group administrator cannot
// spend the same slot.
int add_user(const std::string& group, std::string_view text) {
  const std::string admin_name = core::session().user.name;
  if (userdb::lock_and_load_user(admin_name.c_str()) != 0) {
    core::string_reply(kCode, kOwnFileUnloadable, 0);
    return 1;
  }
  core::UserRecord admin = userdb::work_user();
  AddedAccount added;
  if (add_account(admin, group, text, added) != 0) {
    userdb::unlock_user(admin_name.c_str());
    return 1;
  }
  // The slot is spent before the reply, so the files are final once the
  // client hears of the account.
  if (admin.slots[0] > 0) {
    --admin.slots[0];
    userdb::write_user(admin);
  } else {
    userdb::unlock_user(admin_name.c_str());
  }
  core::session().added_user = 1;
  announce(added, admin.name);
  return 0;
}

}  // namespace

int site_adduser(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.adduser");
  return add_user(std::string(), *args.text);
}

int site_gadduser(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.gadduser");
  const std::string& text = *args.text;
  const std::vector<std::string> words = argument_words(text);
  if (words.size() < 2) {
    core::string_reply(530, kGaddUserUsage, 0);
    return 1;
  }
  // The name and everything after it, as typed.
  const std::size_t group_end = text.find_first_of(" \t", text.find_first_not_of(" \t"));
  const std::size_t name_at = text.find_first_not_of(" \t", group_end);
  return add_user(words[0], std::string_view(text).substr(name_at));
}

}  // namespace site::commands
