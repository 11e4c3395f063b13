// Saving the user's record at logout.
#include "session/login_logout.h"

#include <unistd.h>

#include <cstring>
#include <string>

#include "core/logs.h"
#include "core/session.h"
#include "core/time_helpers.h"
#include "userdb/userfile.h"

namespace session {
namespace {

// The calendar day of a site time stamp, as its ctime text shows it.
bool same_day(time_t a, time_t b) {
  char first[26] = {};
  char second[26] = {};
  if (::ctime_r(&a, first) == nullptr || ::ctime_r(&b, second) == nullptr) return false;
  return std::strncmp(first, second, 10) == 0;
}

}  // namespace

int32_t time_today_at_logout(int32_t time_today, time_t login_time, time_t now) {
  if (same_day(login_time, now)) return static_cast<int32_t>(time_today + (now - login_time));
  return static_cast<int32_t>(now - core::start_of_today(now));
}

void save_user_at_logout(time_t now) {
  core::Session& s = core::session();
  const char* name = s.user.name;
  // Loading the file refreshes the session's record with what other
  // sessions of this user saved, so their online time is not lost.
  if (userdb::lock_and_load_user(name) != 0) {
    core::error_log("Could not lock the userfile of %s at logout.", name);
    return;
  }
  s.user.time_today = time_today_at_logout(s.user.time_today, s.login_time, now);
  userdb::write_user(s.user);
}

void release_user_lock_at_logout() {
  const core::Session& s = core::session();
  // Another session of the user may hold the lock right now: only our own
  // lock is removed.
  if (s.user.name[0] != '\0') userdb::unlock_user(s.user.name);
}

}  // namespace session
