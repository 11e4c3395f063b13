// USER and PASS: choosing an account, checking its password, counting
// failures; a correct password goes on to the admission checks.
#pragma once

namespace session {

// Failed passwords a client may send before the session ends.
inline constexpr int kLoginFailuresTolerated = 3;

// USER name ("!name" also ends the user's ghost session at login).
int user_command(const char* name);
// PASS password ("-password" switches continuation lines off).
int pass_command(const char* password);

}  // namespace session
