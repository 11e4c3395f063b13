// Group look-up, membership of the work record and group login limits.
#include "userdb/groups.h"

#include <strings.h>

#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace userdb {

int find_group(std::string& name, int include_private, int check_private_right) {
  rewind_group_entries();
  while (auto entry = next_group_entry()) {
    if (strcasecmp(entry->name.c_str(), name.c_str()) == 0) {
      name = entry->name;
      return 1;
    }
  }
  if (!include_private) return 0;
  if (check_private_right && !config::acl_match("-chgrp-priv", 1, nullptr)) return 0;
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("privgroup", cursor)) {
    const char* private_name = line->arg(1);
    if (private_name && strcasecmp(private_name, name.c_str()) == 0) {
      name = private_name;
      return 1;
    }
  }
  return 0;
}

int passwd_gid_of_group(std::string_view name) {
  constexpr int kGroupless = 100;
  if (name.empty()) return kGroupless;
  const std::string wanted(name);
  rewind_group_entries();
  while (auto entry = next_group_entry()) {
    if (strcasecmp(entry->name.c_str(), wanted.c_str()) != 0) continue;
    return entry->gid >= 0 && entry->gid <= 65535 ? entry->gid : kGroupless;
  }
  return kGroupless;
}

int in_group(const char* name) { return name && record_in_group(work_user(), name) ? 1 : 0; }

bool record_in_group(const core::UserRecord& user, std::string_view name) {
  if (name.empty()) return false;
  for (int i = 0; i < core::kMaxGroups; ++i)
    if (name == user.groups[i] || name == user.private_groups[i]) return true;
  return false;
}

int group_login_limit(int gid, int sessions_with_gid) {
  if (gid < 0) return 0;
  auto group = group_by_gid(static_cast<unsigned>(gid));
  if (!group || group->logins == 0) return 0;
  return sessions_with_gid - 1 >= group->logins ? group->logins : 0;
}

}  // namespace userdb
