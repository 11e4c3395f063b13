// The idle timer: SIGALRM while a command is awaited. The signal handler
// only sets a flag; the reader acts on it once its blocked read returns.
#pragma once

#include <string_view>

namespace protocol {

// Makes SIGALRM set the idle flag (without restarting interrupted reads).
void install_idle_timer();

// Called after an interrupted read: when the idle alarm has fired, ends
// the session as idle_timeout_handler does.
void check_idle_alarm();

// String 185/421, the debug and event-log lines, the time-out mark, then
// dologout(10).
[[noreturn]] void idle_timeout_handler();

// Re-arms the alarm after a command line has been read. A line matching
// an `idle_commands` pattern does not count as activity: the alarm keeps
// the time that was left (and an expired one ends the session at once).
void rearm_idle_alarm(std::string_view line);

// True when `line` (without its line end) matches an `idle_commands`
// pattern.
bool is_idle_command(std::string_view line);

}  // namespace protocol
