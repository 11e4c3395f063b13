// hideinwho and hideuser checks on slots of the online table.
#include "online/visibility.h"

#include <string>

#include "config/access_rules.h"
#include "core/stand_in_user.h"
#include "userdb/user_directory.h"

namespace online {

bool in_hidden_directory(const OnlineEntry& entry) {
  const std::string dir(field_text(entry.currentdir));
  return config::path_allowed("hideinwho", dir.c_str(), config::kPathIsDirectory) == 1;
}

bool user_is_hidden(std::string_view username) {
  // Without a hideuser rule nobody is hidden, and no userfile is read: a
  // login counts every session online this way.
  const config::ConfigEntry* cursor = nullptr;
  if (config::next_config("hideuser", cursor) == nullptr) return false;
  core::UserRecord user;
  // Read without waiting on the user's lock: a WHO never stalls behind
  // another session's userfile edit.
  if (username.empty() || !userdb::read_user_record(username, user)) return false;
  return record_is_hidden(user);
}

bool record_is_hidden(const core::UserRecord& user) {
  // The rule only looks at the session user, so the user stands in for it
  // while the rule is evaluated.
  const core::StandInUser stand_in(user);
  return config::acl_match("hideuser", 1, nullptr) == 1;
}

}  // namespace online
