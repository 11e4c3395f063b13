// Which command lines count as activity for the idle time-out.
#pragma once

#include <string_view>

namespace protocol {

// Restarts the idle time-out after a command line has been read. A line
// matching an `idle_commands` pattern does not count as activity: the
// deadline stays where it is (and a passed one ends the session at once).
void rearm_idle_alarm(std::string_view line);

// True when `line` (without its line end) matches an `idle_commands`
// pattern.
bool is_idle_command(std::string_view line);

}  // namespace protocol
