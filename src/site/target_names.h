// Which names an administration command may take as its target user.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/user_record.h"

namespace site {

// A target name follows the character rules of new account names; one that
// breaks them names no user, so a command answers as for an unknown user
// before any file is looked at. Templates ("default.user", "default.GROUP")
// are valid targets only where `templates_allowed`.
bool valid_target_name(std::string_view name, bool templates_allowed);

// The record of a user a command shows, read without waiting on his lock.
// Without a userfile the final reply is strings record `unknown_user`
// with the name, when it cannot be read record 370 (both with code 200).
std::optional<core::UserRecord> shown_user(const std::string& name, int unknown_user);

}  // namespace site
