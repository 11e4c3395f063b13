// The `tls_login` rule: who may not send a password in clear text.
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/reply.h"
#include "core/tls_control.h"
#include "core/user_record.h"
#include "session/tls_commands.h"
#include "userdb/userfile.h"

namespace session {

bool tls_login_allowed(const std::string& name) {
  if (core::control_protected()) return true;
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* rule = config::next_config("tls_login", cursor);
  if (rule == nullptr) return true;
  // The rule sees the named user's flags and groups when the account
  // exists; an unknown name is judged by its name alone, and gets the same
  // answer as a known one.
  core::UserRecord record{};
  if (userdb::valid_user_name(name) && userdb::user_exists(name.c_str()) &&
      userdb::read_userfile(name.c_str()) == 0)
    record = userdb::work_user();
  else
    core::copy_field(record.name, name);
  if (!config::acl_match_for(record, 1, rule)) return true;
  core::reply(530, "This site requires TLS for the login of %s: send AUTH TLS first.", name);
  return false;
}

}  // namespace session
