// The idle alarm: SIGALRM while a command is awaited. The signal handler
// only sets a flag; every loop that blocks (the command reader, the
// transfers) acts on it once its blocked call returns with EINTR.
#pragma once

namespace core {

// Makes SIGALRM set the idle flag (without restarting interrupted reads).
void install_idle_timer();

// Called after an interrupted call: when the idle alarm has fired, ends
// the session as idle_timeout_handler does.
void check_idle_alarm();

// True when the idle alarm has fired and nobody has acted on it yet. Code
// that must clean up before the session ends (a running external program)
// asks first, then calls check_idle_alarm.
bool idle_alarm_pending();

// String 185/421, the debug and event-log lines, the time-out mark, then
// end_session(10).
[[noreturn]] void idle_timeout_handler();

}  // namespace core
