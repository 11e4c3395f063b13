// The idle alarm: SIGALRM while a command is awaited. The signal handler
// only sets a flag; every loop that blocks (the command reader, the
// transfers) acts on it once its blocked call returns with EINTR.
//
// Activity only moves a deadline (a read of the monotonic clock, no system
// call). The kernel timer is set when none is set or the one set would ring
// after the new deadline; a timer that rings before the deadline is set
// again for the time left, and the interrupted call is retried.
#pragma once

#include <chrono>

namespace core {

// Makes SIGALRM set the idle flag (without restarting interrupted reads).
void install_idle_timer();

// The idle time-out starts again: the deadline moves session().idle_timeout
// seconds ahead. A time-out of 0 (or less) clears the deadline.
void restart_idle_time_out();

// True when there is a deadline and it has passed.
bool idle_deadline_passed();

// Sets the kernel's SIGALRM timer to ring `after` from now (zero stops
// it), whatever the deadline. For the ident query, which has a timer and a
// handler of its own; restart_idle_time_out puts the idle timer back.
void set_alarm_timer(std::chrono::microseconds after);

// Called after an interrupted call: when the idle time-out has run out,
// ends the session as idle_timeout_handler does.
void check_idle_alarm();

// True when the alarm has rung, the deadline has passed and nobody has
// acted on it yet. Code that must clean up before the session ends (a
// running external program) asks first, then calls check_idle_alarm. A
// ring before the deadline sets the timer for the time left and answers
// false.
bool idle_alarm_pending();

// Sleeps `seconds`, as sleep() does, except that an early ring of the idle
// timer does not cut the pause short: a signal that asks for something (a
// time-out that is due, urgent data, a termination) still does.
void pause_seconds(unsigned seconds);

// String 185/421, the debug and event-log lines, the time-out mark, then
// end_session(10).
[[noreturn]] void idle_timeout_handler();

}  // namespace core
