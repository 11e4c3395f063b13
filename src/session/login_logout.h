// The logged-in user's share of logout: the online time of today brought up
// to date and the userfile saved, with its lock held in between.
#pragma once

#include <cstdint>
#include <ctime>

namespace session {

// Seconds online today after a session from `login_time` to `now` (both
// site time): added to `time_today` when both fall on the same day,
// otherwise only the seconds since midnight count.
int32_t time_today_at_logout(int32_t time_today, time_t login_time, time_t now);

// Locks and reloads the user's userfile (so that what other sessions of the
// user saved meanwhile is kept), brings time_today up to date and saves
// it. A userfile that cannot be locked is left alone (logged).
void save_user_at_logout(time_t now);

// Drops the userfile lock if this process still holds it.
void release_user_lock_at_logout();

}  // namespace session
