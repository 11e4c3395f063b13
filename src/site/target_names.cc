// Target names of the administration commands.
#include "site/target_names.h"

#include "site/admin_scope.h"

namespace site {

bool valid_target_name(std::string_view name, bool templates_allowed) {
  if (valid_new_user_name(name)) return true;
  constexpr std::string_view kTemplatePrefix = "default.";
  constexpr std::size_t kMaxNameLength = 23;
  // A template is "default." before a name that itself passes the rules.
  return templates_allowed && name.size() <= kMaxNameLength && name.starts_with(kTemplatePrefix) &&
         valid_new_user_name(name.substr(kTemplatePrefix.size()));
}

}  // namespace site
