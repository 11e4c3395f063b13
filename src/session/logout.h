// The single exit path of a session.
#pragma once

namespace session {

// Ends the session: settles an interrupted transfer, writes the LOGOUT
// line, saves the userfile, frees the online slot and exits. Status 10
// marks an idle time-out (no LOGOUT line), -1 a lost connection or a fatal
// signal. Never returns.
[[noreturn]] void dologout(int status);

}  // namespace session
