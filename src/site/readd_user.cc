// SITE READD: brings a deleted account back; a group administrator spends
// the slots its deletion gave back.
#include <unistd.h>

#include <string>
#include <vector>

#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/account_commands.h"
#include "site/account_support.h"
#include "site/admin_scope.h"
#include "site/user_list_commands.h"
#include "text/text_file.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;

enum StringNumber {
  kDone = 7,
  kUnsaved = 59,
  kNoDeletedList = 193,
  kNoName = 251,
  kUnloadable = 370,
  kOwnFileUnloadable = 373,
  kNoSlots = 374,
  kNotYourself = 389,
  kNotDeleted = 390,
  kOutsideGroup = 391,
  kNoLeechSlots = 392,
  kReadded = 393,
};

// The bare form: the deleted accounts the session user may restore,
// between the two help texts.
int show_readd_help() {
  text::show_help(kCode, "site.readd.top");
  if (list_deleted_users(kCode) < 0) core::string_reply(kCode, kNoDeletedList, 1);
  text::show_help(kCode, "site.readd.bottom");
  core::string_reply(kCode, kDone, 0);
  return 0;
}

// The slots a restored account takes again; they were refunded when it
// was deleted.
void spend_slots(core::UserRecord& admin, const core::UserRecord& target) {
  if (admin.slots[0] > 0) --admin.slots[0];
  if (admin.slots[1] > 0 && is_leech(target)) --admin.slots[1];
}

// As root: the goodbye text goes, and the userfile is root's again.
void restore_files(const std::string& name) {
  core::PrivilegeBracket privileged;
  ::unlink(bye_file_path(name).c_str());
  if (::chown(userdb::userfile_path(name).c_str(), 0, 0) != 0)
    core::error_log("Chown on userfile %s failed", userdb::userfile_path(name));
}

int readd_user(const std::string& name) {
  const std::string admin_name = core::session().user.name;
  const bool known = addressable_user(name) && userdb::user_exists(name.c_str());
  // Both userfiles stay locked from their loads to their writes, taken in
  // name order like every pair of userfile locks.
  TwoUserLocks locks(admin_name, known ? name : admin_name);
  if (!locks.held() || userdb::load_user(admin_name.c_str()) != 0) {
    core::string_reply(kCode, kOwnFileUnloadable, 0);
    return 1;
  }
  core::UserRecord admin = userdb::work_user();
  if (core::has_flag(admin.flags, core::flag::kGadmin) && admin.slots[0] == 0) {
    core::string_reply(kCode, kNoSlots, 0);
    return 1;
  }
  if (name == acting_name()) {
    core::string_reply(kCode, kNotYourself, 0);
    return 1;
  }
  if (!known || userdb::load_user(name.c_str()) != 0) {
    core::string_reply(kCode, kUnloadable, 0, name);
    return 1;
  }
  core::UserRecord target = userdb::work_user();
  if (!core::has_flag(target.flags, core::flag::kDeleted)) {
    core::string_reply(kCode, kNotDeleted, 0);
    return 1;
  }
  if (gadmin_scope(target) == GadminScope::OutOfScope) {
    core::string_reply(kCode, kOutsideGroup, 0, own_group());
    return 1;
  }
  if (is_leech(target) && admin.slots[1] == 0) {
    core::string_reply(kCode, kNoLeechSlots, 0);
    return 1;
  }

  remove_flag(target, core::flag::kDeleted);
  locks.released(name);
  if (userdb::write_user(target) != 0) {
    core::string_reply(550, kUnsaved, 0, name);
    return 1;
  }
  // An emulated session user restoring his own record has written it.
  if (name != admin_name) {
    spend_slots(admin, target);
    locks.released(admin_name);
    userdb::write_user(admin);
  }
  restore_files(name);
  core::sysop_log("'%.23s' readded '%.23s'.", admin_name, name);
  core::string_reply(kCode, kReadded, 0);
  return 0;
}

}  // namespace

int site_readd(const CommandArgs& args) {
  if (bare_form(args)) return show_readd_help();
  const std::vector<std::string> words = argument_words(*args.text);
  if (words.empty()) {
    core::string_reply(kCode, kNoName, 0, "");
    return 1;
  }
  return readd_user(words[0]);
}

}  // namespace site::commands
