// The idle time-out of a session waiting for its next command.
#include "protocol/idle_timer.h"

#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "config/config_store.h"
#include "fs/match.h"
#include "protocol/reply.h"
#include "session/logout.h"
#include "session/privilege.h"
#include "session/session.h"
#include "text/logs.h"
#include "text/strings.h"

namespace protocol {
namespace {

volatile sig_atomic_t idle_alarm_fired = 0;

void idle_alarm_handler(int) { idle_alarm_fired = 1; }

std::string user_name_or_unknown() {
  const session::Session& s = session::session();
  return s.logged_in && s.user.name[0] != '\0' ? std::string(s.user.name) : "unknown";
}

}  // namespace

void install_idle_timer() {
  struct sigaction action {};
  action.sa_handler = idle_alarm_handler;
  action.sa_mask = session::handled_signals();
  action.sa_flags = 0;  // the blocked read must return with EINTR
  ::sigaction(SIGALRM, &action, nullptr);
}

void check_idle_alarm() {
  if (idle_alarm_fired) {
    idle_alarm_fired = 0;
    idle_timeout_handler();
  }
}

void idle_timeout_handler() {
  session::Session& s = session::session();
  text::string_reply(421, 185, 0, s.idle_timeout);
  const std::string name = user_name_or_unknown();
  if (s.debug) {
    const time_t now = session::now();
    char when[26] = {};
    ::ctime_r(&now, when);
    syslog(LOG_INFO, "User %s timed out after %d seconds at %.24s", name.c_str(), s.idle_timeout,
           when);
  }
  if (s.log_level != 0)
    text::event_log("TIMEOUT: %s (%s@%s) timed out after being idle %d seconds.", name,
                    s.ident_user, s.remote_ip, s.idle_timeout);
  s.timed_out = 1;
  session::dologout(10);
}

bool is_idle_command(std::string_view line) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* entry = config::next_config("idle_commands", cursor)) {
    for (int n = 1; entry->arg(n) != nullptr; ++n)
      if (fs::wildcard_match(entry->arg(n), line, false)) return true;
  }
  return false;
}

void rearm_idle_alarm(std::string_view line) {
  const int timeout = session::session().idle_timeout;
  const bool idle_command = is_idle_command(line);
  const unsigned left = ::alarm(timeout > 0 ? static_cast<unsigned>(timeout) : 0);
  if (!idle_command) return;
  // The alarm had already run out: the session has been idle too long.
  if (left == 0 && timeout > 0) idle_timeout_handler();
  ::alarm(left);
}

}  // namespace protocol
