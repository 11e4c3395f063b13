// hideinwho and hideuser checks on slots of the online table.
#include "online/visibility.h"

#include <string>
#include <utility>

#include "config/access_rules.h"
#include "core/session.h"
#include "userdb/userfile.h"

namespace online {

bool in_hidden_directory(const OnlineEntry& entry) {
  const std::string dir(field_text(entry.currentdir));
  return config::path_allowed("hideinwho", dir.c_str(), config::kPathIsDirectory) == 1;
}

bool user_is_hidden(std::string_view username) {
  const std::string name(username);
  if (name.empty() || userdb::user_exists(name.c_str()) != 1) return false;
  // Counting runs in the middle of other work (a cookie of a text file an
  // administrative command shows), so the work record is kept as it was.
  const core::UserRecord saved_work = userdb::work_user();
  bool hidden = false;
  if (userdb::load_user(name.c_str()) == 0) {
    // The rule only looks at the session user, so the loaded user stands in
    // for it while the rule is evaluated.
    core::UserRecord& current = core::session().user;
    const core::UserRecord saved = std::exchange(current, userdb::work_user());
    hidden = config::acl_match("hideuser", 1, nullptr) == 1;
    current = saved;
  }
  userdb::work_user() = saved_work;
  return hidden;
}

}  // namespace online
