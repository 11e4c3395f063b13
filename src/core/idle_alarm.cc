// The idle time-out of a session waiting for its next command.
#include "core/idle_alarm.h"

#include <signal.h>
#include <sys/time.h>
#include <syslog.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>

#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/strings.h"

namespace core {
namespace {

// CLOCK_MONOTONIC, read through the vDSO.
using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();

volatile sig_atomic_t idle_alarm_fired = 0;

// When the session times out; kNever without a time-out.
Clock::time_point deadline = kNever;
// When the kernel timer rings, never earlier than it really does; kNever
// when it is not set or has rung.
Clock::time_point timer_rings = kNever;

void idle_alarm_handler(int) { idle_alarm_fired = 1; }

std::string user_name_or_unknown() {
  const Session& s = session();
  return s.logged_in && s.user.name[0] != '\0' ? std::string(s.user.name) : "unknown";
}

}  // namespace

void install_idle_timer() {
  struct sigaction action {};
  action.sa_handler = idle_alarm_handler;
  action.sa_mask = handled_signals();
  action.sa_flags = 0;  // the blocked read must return with EINTR
  ::sigaction(SIGALRM, &action, nullptr);
}

void restart_idle_time_out() {
  const int seconds = session().idle_timeout;
  if (seconds <= 0) {
    // A timer still set rings harmlessly.
    deadline = kNever;
    return;
  }
  deadline = Clock::now() + std::chrono::seconds(seconds);
  // A timer that rings first finds the deadline ahead and is set again.
  if (timer_rings > deadline) set_alarm_timer(std::chrono::seconds(seconds));
}

bool idle_deadline_passed() { return deadline != kNever && Clock::now() >= deadline; }

void set_alarm_timer(std::chrono::microseconds after) {
  itimerval value{};
  value.it_value.tv_sec = static_cast<time_t>(after.count() / 1000000);
  value.it_value.tv_usec = static_cast<suseconds_t>(after.count() % 1000000);
  ::setitimer(ITIMER_REAL, &value, nullptr);
  // Read after the call, so a deadline is never believed covered by a
  // timer that rings later than it.
  timer_rings = after.count() > 0 ? Clock::now() + after : kNever;
}

bool idle_alarm_pending() {
  if (!idle_alarm_fired) return false;
  timer_rings = kNever;
  const Clock::time_point now = Clock::now();
  if (deadline != kNever && now >= deadline) return true;
  // Rang early: the deadline moved after the timer was set (or went away).
  idle_alarm_fired = 0;
  if (deadline != kNever) set_alarm_timer(std::chrono::ceil<std::chrono::microseconds>(deadline - now));
  return false;
}

void pause_seconds(unsigned seconds) {
  timespec left{static_cast<time_t>(seconds), 0};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    if (!idle_alarm_fired || idle_alarm_pending()) return;
  }
}

void check_idle_alarm() {
  if (!idle_alarm_pending()) return;
  idle_alarm_fired = 0;
  idle_timeout_handler();
}

void idle_timeout_handler() {
  Session& s = session();
  string_reply(421, 185, 0, s.idle_timeout);
  const std::string name = user_name_or_unknown();
  if (s.debug) {
    const time_t at = now();
    char when[26] = {};
    ::ctime_r(&at, when);
    syslog(LOG_INFO, "User %s timed out after %d seconds at %.24s", name.c_str(), s.idle_timeout,
           when);
  }
  if (s.log_level != 0)
    event_log("TIMEOUT: %s (%s@%s) timed out after being idle %d seconds.", name,
              s.ident_user, s.remote_ip, s.idle_timeout);
  s.timed_out = 1;
  end_session(10);
}

}  // namespace core
