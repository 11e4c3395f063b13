// SITE PURGE: removes deleted accounts (flag 6) for good: the passwd
// line, the userfile, the goodbye text and the messages.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "site/account_commands.h"
#include "site/account_support.h"
#include "site/admin_scope.h"
#include "userdb/mailbox.h"
#include "userdb/passwd_file.h"
#include "userdb/user_directory.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;

enum StringNumber {
  kNoSuchUser = 311,
  kUnloadable = 370,
  kOutsideGroup = 386,
  kNotDeleted = 390,
  kOnline = 600,
  kPurged = 601,
  kSkippedOnline = 602,
  kPurgedCount = 603,
  kPasswdKept = 604,
};

bool online(const std::string& name) { return online::online_count_user(name.c_str()) > 0; }

// The account of a deleted user whose lock this process holds. The passwd
// line goes first: when it cannot, every file stays and the account can be
// purged again later. A line already gone does not hold the files back.
bool remove_account(const std::string& name) {
  if (userdb::passwd_by_name(name) && userdb::delete_passwd_user(name.c_str()) != 0) {
    userdb::unlock_user(name.c_str());
    return false;
  }
  {
    core::PrivilegeBracket privileged;
    ::unlink(userdb::userfile_path(name).c_str());
    ::unlink(bye_file_path(name).c_str());
    ::unlink(message_file_path(name).c_str());
    ::unlink(userdb::mailbox_path(name, userdb::Mailbox::Kept).c_str());
  }
  userdb::unlock_user(name.c_str());
  core::sysop_log("'%.23s' purged '%.23s'", core::session().user.name, name);
  return true;
}

int purge_one(const std::string& name) {
  if (!addressable_user(name) || !userdb::user_exists(name.c_str())) {
    core::string_reply(kCode, kNoSuchUser, 0, name);
    return 1;
  }
  if (online(name)) {
    core::string_reply(kCode, kOnline, 0, name);
    return 1;
  }
  if (userdb::lock_and_load_user(name.c_str()) != 0) {
    core::string_reply(kCode, kUnloadable, 0, name);
    return 1;
  }
  const core::UserRecord& target = userdb::work_user();
  if (gadmin_scope(target) == GadminScope::OutOfScope) {
    userdb::unlock_user(name.c_str());
    core::string_reply(kCode, kOutsideGroup, 0, own_group());
    return 1;
  }
  if (!core::has_flag(target.flags, core::flag::kDeleted)) {
    userdb::unlock_user(name.c_str());
    core::string_reply(kCode, kNotDeleted, 0);
    return 1;
  }
  if (!remove_account(name)) {
    core::string_reply(kCode, kPasswdKept, 0, name);
    return 1;
  }
  core::string_reply(kCode, kPurged, 0, name);
  return 0;
}

// Regular files of the users directory that can be accounts, sorted.
std::vector<std::string> account_names() {
  std::vector<std::string> names;
  core::PrivilegeBracket privileged;
  userdb::walk_users(userdb::Templates::kSkip, userdb::Contents::kNone, [&names](const userdb::UserfileEntry& file) {
    if (addressable_user(file.name)) names.emplace_back(file.name);
    return true;
  });
  std::sort(names.begin(), names.end());
  return names;
}

bool deleted_in_scope(const core::UserRecord& user) {
  return core::has_flag(user.flags, core::flag::kDeleted) && gadmin_scope(user) != GadminScope::OutOfScope;
}

int purge_all() {
  int purged = 0;
  for (const std::string& name : account_names()) {
    if (userdb::load_user(name.c_str()) != 0 || !deleted_in_scope(userdb::work_user())) continue;
    if (online(name)) {
      core::string_reply(kCode, kSkippedOnline, 1, name);
      continue;
    }
    // Another session may have restored the account since the look.
    if (userdb::lock_and_load_user(name.c_str()) != 0) continue;
    if (!deleted_in_scope(userdb::work_user())) {
      userdb::unlock_user(name.c_str());
      continue;
    }
    if (remove_account(name)) {
      core::string_reply(kCode, kPurged, 1, name);
      ++purged;
    } else {
      core::string_reply(kCode, kPasswdKept, 1, name);
    }
  }
  core::string_reply(kCode, kPurgedCount, 0, purged);
  return 0;
}

}  // namespace

int site_purge(const CommandArgs& args) {
  const std::vector<std::string> words =
      bare_form(args) ? std::vector<std::string>() : argument_words(*args.text);
  if (words.empty() || ::strcasecmp(words[0].c_str(), "ALL") == 0) return purge_all();
  return purge_one(words[0]);
}

}  // namespace site::commands
