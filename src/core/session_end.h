// The one way to end the session from anywhere in the server. Deep code
// (a lost connection in a transfer, a fatal reply, a termination signal)
// asks here; start-up installs the function that settles the transfer in
// progress, saves the userfile, frees the online slot and exits, so no
// lower layer needs to know how a session is wound up.
#pragma once

namespace core {

// Status 0 for a normal end, 1 a refusal, 10 an idle time-out (no LOGOUT
// line), -1 a lost connection or a fatal signal. The ender never returns.
using SessionEnder = void (*)(int status);

void set_session_ender(SessionEnder ender);

// The process exit code for an end status: an idle time-out (10) and a lost
// connection (-1) both leave with 1; the super-server does not look further.
inline int session_exit_code(int status) { return status < 0 || status == 10 ? 1 : status; }

// Runs the installed ender. Without one (tools, unit tests) the process
// leaves with the exit code the ender would give.
[[noreturn]] void end_session(int status);

}  // namespace core
