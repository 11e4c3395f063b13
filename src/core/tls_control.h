// TLS on the control connection: AUTH turns it on (replies and commands go
// through the session from then on), CCC turns it off again after login.
#pragma once

#include <string>

namespace core {

// Runs the handshake on the control connection. Anything the client sent
// after its AUTH line and before the handshake is dropped unread: commands
// must not be smuggled in ahead of the protection. False with `error`.
bool secure_control_connection(std::string& error);

// Sends the close_notify and returns the control connection to clear
// text; the client's own close_notify, if it sends one, is skipped.
void clear_control_connection();

// At the end of the session: the close_notify after the last reply, so the
// client can tell the end from a cut connection. Not waited for.
void close_protected_control();

// True while the control connection is protected.
bool control_protected();

// True once the control connection has been protected in this session
// (CCC does not undo it): its TLS session is the one data connections
// resume.
bool control_was_protected();

}  // namespace core
