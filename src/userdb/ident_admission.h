// Whose ident@host masks allow a connection.
#pragma once

namespace userdb {

// Tests the work record's masks: 1 a mask matches, -1 a negative line of
// the mask file matches, 0 none.
int user_ip_match(const char* host, const char* ip, const char* ident);

// 1 when any user's masks match the connection.
int find_user_by_ip(const char* host, const char* ip, const char* ident);

// The start-up test: true when some userfile's masks allow the connection;
// otherwise writes the login-log refusal line and returns false (the
// caller ends the session without a reply).
bool admit_by_ident(const char* remote_host, const char* remote_ip, const char* ident_user);

}  // namespace userdb
