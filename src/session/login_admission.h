// What happens after a correct password: the site's admission checks in
// their fixed order, then the start of the logged-in session (home and
// start-up directory, welcome text, LOGIN line, the saved userfile).
#pragma once

#include <cstdint>
#include <string>

namespace session {

// Runs the admission of the account in the session's `account` with the
// password as given (logged for "@" and "*" accounts). True when the user
// is logged in. A refusal that ends the session does not return; the one
// that does not (too many logins of this user) returns false with the
// session back as it was before PASS.
bool admit_user(const std::string& password);

// The idle limits a user logs in with: `idle_time` -1 means the site
// default; a positive value also raises the ceiling SITE IDLE may set;
// the idler flag switches the limit off.
struct IdleLimits {
  int idle_timeout;
  int max_idle_timeout;
};
IdleLimits login_idle_limits(int32_t idle_time, bool idler, int default_idle_timeout,
                             int max_idle_timeout);

}  // namespace session
