// One turn of the command loop: the hooks before and after reading a line,
// then the grammar.
#include "protocol/command_loop.h"

#include <syslog.h>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "core/control_reader.h"
#include "core/idle_alarm.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "protocol/command_scripts.h"
#include "protocol/grammar.h"
#include "protocol/idle_timer.h"
#include "protocol/lexer.h"
#include "protocol/secret_lines.h"

namespace protocol {
namespace {

// command_buffer holds a command that this loop has run (at start-up it
// may hold the bouncer's IDNT line instead).
bool previous_command_ran = false;

std::string_view without_line_end(const char* line) {
  return std::string_view(line, std::strcspn(line, "\r\n"));
}

// Between the command word's lookup and its dispatch: the online status
// and the pre-command script.
bool command_start() {
  core::Session& s = core::session();
  char status[256];
  std::strncpy(status, s.raw_line, sizeof status - 1);
  status[sizeof status - 1] = '\0';
  if (status_may_show(s.raw_line)) online::set_own_status(status);
  if (s.cscripts.empty()) return true;
  return run_pre_command_script(without_line_end(s.command_buffer));
}

void check_time_limit() {
  core::Session& s = core::session();
  const int limit = current_time_limit_minutes();
  if (s.login_time == 0 || limit == 0) return;
  if (core::now() - s.login_time <= static_cast<time_t>(limit) * 60) return;
  core::string_reply(421, 186, 0, limit);
  s.timed_out = 1;
  core::end_session(1);
}

}  // namespace

bool status_may_show(const char* line) {
  std::string upper(line);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("PASS") != std::string::npos || upper.find("ADDUSER") != std::string::npos) return false;
  return shown_length(line) == std::string_view::npos;
}

int current_time_limit_minutes() {
  const core::Session& s = core::session();
  return s.logged_in ? s.user.time_limit : 0;
}

void parse_one_command() {
  core::Session& s = core::session();
  set_command_start_hook(command_start);
  core::set_logged_length(shown_length);

  if (previous_command_ran && !s.cscripts.empty() && s.command_failed == 0 &&
      s.pre_script_status == 0)
    run_post_command_script(without_line_end(s.command_buffer));

  s.pre_script_status = 0;
  s.error_reported = 0;
  // A failure belongs to the command that had it, not to the next one.
  s.command_failed = 0;
  previous_command_ran = false;
  online::set_own_command_start();
  check_time_limit();

  if (core::get_line(s.command_buffer, sizeof s.command_buffer - 1) == nullptr) {
    if (s.debug) syslog(LOG_DEBUG, "getline error - lost connection?");
    core::end_session(0);
  }
  rearm_idle_alarm(without_line_end(s.command_buffer));
  previous_command_ran = true;
  run_command_line();
}

}  // namespace protocol
