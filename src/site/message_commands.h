// SITE MSG: reading, keeping and purging one's own messages, and sending
// them to one user, a list of users, a group or everybody.
#pragma once

#include <string_view>

#include "core/command_args.h"

namespace site {

// "* TEXT" (rule -msg*): TEXT to every user.
int message_everybody(std::string_view text);
// "=GROUP TEXT": TEXT to every member of GROUP; without the rule -msg= only
// members of that group may.
int message_group(std::string_view argument);

}  // namespace site

namespace site::commands {

using core::CommandArgs;

// The access rule (-msg) has allowed it already; `text` is empty for the
// bare form.
int site_msg(const CommandArgs&);

}  // namespace site::commands
