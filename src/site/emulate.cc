// SITE EMULATE. From then on the session acts with the rights, flags,
// limits and statistics of the emulated user's record; the process keeps
// its uid and gid, its online entry and its login account, which the
// master and "oneself" tests go on using.
#include "site/emulate.h"

#include <string>

#include "config/access_rules.h"
#include "core/logs.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/admin_scope.h"
#include "site/target_names.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kDenied = 22;
constexpr int kCannotLoad = 370;

}  // namespace

int site_emulate(const CommandArgs& args) {
  core::Session& s = core::session();
  // Once emulating, the emulated user's rights must not lock the session
  // out of emulating back.
  if (!s.emulating && !config::acl_match("-emulate", 1, nullptr)) {
    core::string_reply(200, kDenied, 0);
    return 1;
  }
  const std::string name = args.text.value_or("");
  if (!valid_target_name(name, false) || userdb::load_user(name.c_str()) != 0) {
    core::string_reply(200, kCannotLoad, 0, name);
    return 1;
  }
  core::sysop_log("User '%s' is now emulating '%s'", acting_name(), name);
  s.emulating = 1;
  s.user = userdb::work_user();
  core::reply(200, "You are now %s.", s.user.name);
  return 0;
}

}  // namespace site::commands
