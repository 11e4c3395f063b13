// The idle time-out of a session waiting for its next command.
#include "core/idle_alarm.h"

#include <signal.h>
#include <syslog.h>

#include <ctime>
#include <string>

#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/strings.h"

namespace core {
namespace {

volatile sig_atomic_t idle_alarm_fired = 0;

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

bool idle_alarm_pending() { return idle_alarm_fired != 0; }

void check_idle_alarm() {
  if (idle_alarm_fired) {
    idle_alarm_fired = 0;
    idle_timeout_handler();
  }
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
