// SITE DELUSER: marks an account deleted (flag 6) and gives it the site's
// goodbye text; the group administrator who deletes gets his slots back.
#include <fcntl.h>

#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/strings.h"
#include "site/account_commands.h"
#include "site/account_support.h"
#include "site/admin_scope.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;

enum StringNumber {
  kUnsaved = 59,
  kNoName = 251,
  kNoSuchUser = 311,
  kAlreadyDeleted = 312,
  kUnloadable = 370,
  kOwnFileUnloadable = 373,
  kMasterOnly = 385,
  kOutsideGroup = 386,
  kDeletedYourself = 387,
  kDeleted = 388,
};

enum class Outcome { Refused, Deleted, DeletedYourself };

// The deleted user's goodbye text: the site's default one, included.
void write_bye_file(const std::string& name) {
  const std::string path = bye_file_path(name);
  const std::string text = std::string("%!") + core::session().data_path + "/byefiles/default.bye\n";
  core::PrivilegeBracket privileged;
  core::UniqueFd fd = core::open_file(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!fd || !core::write_all(fd.get(), text) || !fd.close())
    core::error_log("Unable to create bye file %s", path);
}

// Slots come back to the administrator: a leech slot for a leech, and a
// user slot, each unless unlimited. True when the record changed.
bool refund_slots(core::UserRecord& admin, const core::UserRecord& target) {
  bool changed = false;
  if (admin.slots[1] != -1 && is_leech(target)) {
    ++admin.slots[1];
    changed = true;
  }
  if (admin.slots[0] != -1) {
    ++admin.slots[0];
    changed = true;
  }
  return changed;
}

// Both userfiles stay locked from the loads to their writes; the locks are
// taken in name order, so a crossing command of another session cannot
// hold one and wait for the other.
Outcome delete_user(const std::string& name) {
  const std::string admin_name = core::session().user.name;
  TwoUserLocks locks(admin_name, name);
  if (!locks.held() || userdb::load_user(admin_name.c_str()) != 0) {
    core::string_reply(kCode, kOwnFileUnloadable, 0);
    return Outcome::Refused;
  }
  core::UserRecord admin = userdb::work_user();
  if (userdb::load_user(name.c_str()) != 0) {
    core::string_reply(kCode, kUnloadable, 0, name);
    return Outcome::Refused;
  }
  core::UserRecord target = userdb::work_user();
  if (core::has_flag(target.flags, core::flag::kDeleted)) {
    core::string_reply(kCode, kAlreadyDeleted, 0);
    return Outcome::Refused;
  }
  const bool oneself = name == acting_name();
  if (core::has_flag(target.flags, core::flag::kSiteop) && !oneself && !acting_as_master_siteop()) {
    core::string_reply(kCode, kMasterOnly, 0);
    return Outcome::Refused;
  }
  if (gadmin_scope(target) == GadminScope::OutOfScope) {
    core::string_reply(kCode, kOutsideGroup, 0, own_group());
    return Outcome::Refused;
  }

  add_flag(target, core::flag::kDeleted);
  locks.released(name);
  if (userdb::write_user(target) != 0) {
    core::string_reply(550, kUnsaved, 0, name);
    return Outcome::Refused;
  }
  write_bye_file(name);
  core::sysop_log("'%.23s' deleted user '%.23s'.", admin_name, name);
  if (oneself) {
    core::string_reply(kCode, kDeletedYourself, 0);
    return Outcome::DeletedYourself;
  }
  // The session user deleting his own record has written it once already.
  if (name != admin_name && refund_slots(admin, target)) {
    locks.released(admin_name);
    userdb::write_user(admin);
  }
  core::string_reply(kCode, kDeleted, 0, name);
  return Outcome::Deleted;
}

}  // namespace

int site_deluser(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.deluser");
  const std::vector<std::string> words = argument_words(*args.text);
  if (words.empty()) {
    core::string_reply(kCode, kNoName, 0, "");
    return 1;
  }
  const std::string& name = words[0];
  if (!addressable_user(name) || !userdb::user_exists(name.c_str())) {
    core::string_reply(kCode, kNoSuchUser, 0, name);
    return 1;
  }
  const Outcome outcome = delete_user(name);
  // Only now, with every lock given back: the session ends here.
  if (outcome == Outcome::DeletedYourself) core::end_session(0);
  return outcome == Outcome::Refused ? 1 : 0;
}

}  // namespace site::commands
