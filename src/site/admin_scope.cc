// The administration scope tests.
#include "site/admin_scope.h"

#include <cctype>
#include <cstring>

#include "config/config_store.h"
#include "core/session.h"
#include "userdb/user_directory.h"
#include "userdb/user_lock.h"
#include "userdb/userfile.h"

namespace site {

const char* acting_name() { return core::session().account.name.c_str(); }

bool is_master(std::string_view name) {
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config("master", cursor);
  return line != nullptr && line->arg(1) != nullptr && name == line->arg(1);
}

bool acting_as_master_siteop() {
  return is_master(acting_name()) && core::has_flag(core::session().user.flags, core::flag::kSiteop);
}

GadminScope gadmin_scope(const core::UserRecord& target) {
  const core::UserRecord& admin = core::session().user;
  if (!core::has_flag(admin.flags, core::flag::kGadmin)) return GadminScope::NotGadmin;
  const char* own_group = admin.groups[0];
  if (own_group[0] == '\0') return GadminScope::OutOfScope;
  for (const auto& group : target.groups)
    if (std::strncmp(group, own_group, sizeof group) == 0) return GadminScope::InScope;
  return GadminScope::OutOfScope;
}

bool valid_new_user_name(std::string_view name) {
  if (name.empty() || name.size() > 23 || name == "." || name == "..") return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isprint(u) || c == ' ' || c == '/' || c == ':') return false;
  }
  if (userdb::is_lock_file_name(name)) return false;
  return !userdb::is_template_name(name) && !userdb::is_writer_temporary_name(name);
}

TwoUserLocks::TwoUserLocks(const std::string& first, const std::string& second)
    : low_(first < second ? first : second), high_(first < second ? second : first) {
  if (userdb::user_cache_enabled()) {
    held_ = true;  // the cache serialises nothing on disk
    return;
  }
  low_held_ = userdb::take_user_lock(low_.c_str());
  if (!low_held_) return;
  if (high_ == low_) {
    held_ = true;
    return;
  }
  high_held_ = userdb::take_user_lock(high_.c_str());
  held_ = high_held_;
}

TwoUserLocks::~TwoUserLocks() {
  if (high_held_ && high_ != low_) userdb::release_user_lock(high_.c_str());
  if (low_held_) userdb::release_user_lock(low_.c_str());
}

void TwoUserLocks::released(const std::string& name) {
  if (name == low_) low_held_ = false;
  if (name == high_) high_held_ = false;
}

}  // namespace site
