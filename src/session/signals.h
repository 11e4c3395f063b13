// The start-up signal handlers. Handlers either set a flag that the code
// blocked in a system call acts on after EINTR, or end the session through
// dologout; every handled signal is collected in handled_signals().
#pragma once

#include <csignal>

namespace session {

// Installs the handlers of every signal the server handles (none restarts
// interrupted system calls) and records them in handled_signals(): the
// fatal signals and SIGPIPE end the session, SIGURG sets a flag, SIGCHLD
// keeps its default disposition.
void install_signal_handlers();

// Set by SIGURG: urgent data (ABOR or STAT during a transfer) is waiting.
// Transfers clear it once they have looked at the control connection.
extern volatile sig_atomic_t urgent_data_pending;

// The ending of a fatal signal: back to "/", SIGABRT and SIGILL to their
// default action, the session marked as lost, then dologout(-1).
[[noreturn]] void end_session_on_fatal_signal();

}  // namespace session
