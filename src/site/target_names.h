// Which names an administration command may take as its target user.
#pragma once

#include <string_view>

namespace site {

// A target name follows the character rules of new account names; one that
// breaks them names no user, so a command answers as for an unknown user
// before any file is looked at. Templates ("default.user", "default.GROUP")
// are valid targets only where `templates_allowed`.
bool valid_target_name(std::string_view name, bool templates_allowed);

}  // namespace site
