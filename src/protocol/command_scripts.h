// The configured `cscript` hooks around commands: pre-command scripts may
// answer for or refuse a command, post-command scripts follow a command
// that succeeded.
#pragma once

#include <string_view>

#include "core/session.h"

namespace protocol {

// True when the script line's command word(s) start `line` (any case) and
// are followed by a blank or the end of the line.
bool script_matches(const core::CustomScript& script, std::string_view line);

// Runs the first matching pre-command script with the line, the user name
// and the primary group, relaying its output lines (a three-digit code,
// then the text from the fourth character). Returns false when the script
// refused the command (non-zero exit status); it has then sent the final
// reply and pre_script_status holds the status.
bool run_pre_command_script(std::string_view line);

// Runs the first matching post-command script for the line of the command
// that has just ended; its output and status are ignored.
void run_post_command_script(std::string_view line);

}  // namespace protocol
