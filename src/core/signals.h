// The start-up signal handlers. Handlers only set a flag that the code
// blocked in a system call acts on after EINTR, or (for faults) leave the
// process at once; every handled signal is collected in handled_signals().
#pragma once

#include <csignal>

namespace core {

// Installs the handlers of every signal the server handles (none restarts
// interrupted system calls) and records them in handled_signals(): the
// termination signals and SIGPIPE ask the session to end, faults leave at
// once, SIGURG sets a flag, SIGCHLD keeps its default disposition.
void install_signal_handlers();

// Set by SIGURG: urgent data (ABOR or STAT during a transfer) is waiting.
// Transfers clear it once they have looked at the control connection.
extern volatile sig_atomic_t urgent_data_pending;

// Set by the termination signals (SIGTERM from KICK and KILL, SIGHUP,
// SIGPIPE, ...): the session is to end at the next check.
extern volatile sig_atomic_t termination_requested;

// When a termination signal arrived: back to "/", SIGABRT and SIGILL to
// their default action, the session marked as lost, then end_session(-1).
// Called by every loop that blocks: the command reader and the transfers.
void end_session_if_requested();

}  // namespace core
