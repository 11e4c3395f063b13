// The per-user lock files "%s/users/%s.lock" that serialise the processes
// editing one userfile. A lock file holds its owner's process id as decimal
// text; other programs of the site read it the same way.
#pragma once

#include <string>

namespace userdb {

// Waits while another process holds the user's lock, waking within a
// moment of its release. A lock that keeps the same owner for four seconds
// is stale and is removed with a warning in the error log. False when a
// stale lock cannot be removed.
bool wait_for_user_lock(const char* name);
// Takes the user's lock: true when this process holds it.
bool take_user_lock(const char* name);
// Removes the user's lock file.
void release_user_lock(const char* name);

}  // namespace userdb
