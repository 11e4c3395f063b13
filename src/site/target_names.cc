// Target names of the administration commands.
#include "site/target_names.h"

#include "core/strings.h"
#include "site/admin_scope.h"
#include "userdb/user_directory.h"
#include "userdb/userfile.h"

namespace site {

bool valid_target_name(std::string_view name, bool templates_allowed) {
  if (valid_new_user_name(name)) return true;
  constexpr std::string_view kTemplatePrefix = "default.";
  constexpr std::size_t kMaxNameLength = 23;
  // A template is "default." before a name that itself passes the rules.
  return templates_allowed && name.size() <= kMaxNameLength && name.starts_with(kTemplatePrefix) &&
         valid_new_user_name(name.substr(kTemplatePrefix.size()));
}

std::optional<core::UserRecord> shown_user(const std::string& name, int unknown_user) {
  constexpr int kUnreadable = 370;
  if (!userdb::user_exists(name.c_str())) {
    core::string_reply(200, unknown_user, 0, name);
    return std::nullopt;
  }
  core::UserRecord user;
  if (!userdb::read_user_record(name, user)) {
    core::string_reply(200, kUnreadable, 0, name);
    return std::nullopt;
  }
  return user;
}

}  // namespace site
