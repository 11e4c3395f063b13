// The start-up test whether any account may connect from ident@host.
#pragma once

namespace userdb {

// True when some userfile's masks allow the connection; otherwise writes
// the login-log refusal line and returns false (the caller ends the
// session without a reply).
bool admit_by_ident(const char* remote_host, const char* remote_ip, const char* ident_user);

}  // namespace userdb
