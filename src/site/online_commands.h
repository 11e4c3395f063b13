// The SITE commands on the online table: WHO and SWHO list the sessions,
// KICK ends every session of a user, KILL one session by process id.
#pragma once

#include <string_view>

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form.
int site_who(const CommandArgs&);
int site_swho(const CommandArgs&);
int site_kick(const CommandArgs&);
int site_kill(const CommandArgs&);

}  // namespace site::commands

namespace site {

// KILL's process id: a positive decimal number that fits a process id, or
// 0 for anything else ("-1", "0", "7x", an overflow), which names no
// session.
int kill_target(std::string_view word);

}  // namespace site
