// One SITE CHANGE on one user: both userfile locks, fresh records, the
// guards every field shares, the field's applier, then one save per record.
#include <cstring>

#include "core/logs.h"
#include "core/session.h"
#include "site/admin_scope.h"
#include "site/change_fields.h"
#include "userdb/userfile.h"

namespace site::change {
namespace {

// A gadmin only reaches his own group, and another siteop answers to the
// master alone, whatever the field.
bool guards_pass(const core::UserRecord& target, const Replies& replies) {
  if (gadmin_scope(target) == GadminScope::OutOfScope) return replies.refuse(308);
  const bool oneself = std::strcmp(target.name, acting_name()) == 0;
  if (core::has_flag(target.flags, core::flag::kSiteop) && !oneself && !acting_as_master_siteop())
    return replies.refuse(418);
  return true;
}

}  // namespace

bool change_one_user(const std::string& name, const Field& field, const std::string& value,
                     const Replies& replies) {
  const std::string admin_name = core::session().user.name;
  TwoUserLocks locks(admin_name, name);
  if (!locks.held()) return replies.refuse(370, name);

  // Loaded under the locks, so that a change made meanwhile by another
  // session is neither lost nor overwritten.
  if (userdb::load_user(admin_name.c_str()) != 0) return replies.refuse(373);
  core::UserRecord admin = userdb::work_user();
  core::UserRecord loaded;
  const bool oneself = admin_name == name;
  if (!oneself) {
    if (userdb::load_user(name.c_str()) != 0) return replies.refuse(370, name);
    loaded = userdb::work_user();
  }
  core::UserRecord& target = oneself ? admin : loaded;
  if (!guards_pass(target, replies)) return false;

  Change change{field, admin, target, value, replies, false, {}};
  if (!field.apply(change)) return false;

  if (field.in_userfile || change.admin_changed) {
    const int failed = userdb::write_user(target);
    locks.released(target.name);
    if (failed) return replies.refuse_with_code(550, 59, name);
  }
  if (!oneself && change.admin_changed) {
    if (userdb::write_user(admin) != 0) core::error_log("Group slots of %s not saved", admin.name);
    locks.released(admin.name);
  }
  for (const std::string& line : change.log_lines) core::sysop_log("%s", line);
  return true;
}

}  // namespace site::change
