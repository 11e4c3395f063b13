// The admission of a user whose password was accepted, in its fixed order,
// and the start of the logged-in session.
#include "session/login_admission.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "config/ip_policy.h"
#include "core/control_reader.h"
#include "core/fixed_field.h"
#include "core/idle_alarm.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/process_title.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/time_helpers.h"
#include "core/tls_control.h"
#include "core/tls_stream.h"
#include "fs/path.h"
#include "online/online_table.h"
#include "session/logout.h"
#include "text/external.h"
#include "text/text_file.h"
#include "transfer/status_line.h"
#include "userdb/groups.h"
#include "userdb/ident_admission.h"
#include "userdb/login_groups.h"
#include "userdb/userfile.h"

namespace session {
namespace {

// Ends a refused login: the userfile lock goes first when it is held.
[[noreturn]] void refuse(const char* name, bool lock_held) {
  if (lock_held) userdb::unlock_user(name);
  dologout(0);
}

void login_log_refusal(const core::Session& s, const char* fmt) {
  core::login_log(fmt, s.user.name, s.ident_user, s.remote_host, s.remote_ip);
}

bool has(const core::Session& s, char flag) { return core::has_flag(s.user.flags, flag); }

// A `shutdown` line whose first word is not "0" closes the site to all but
// the users its own words allow.
bool shut_out(const core::Session&) {
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config("shutdown", cursor);
  if (line == nullptr || line->arg(1) == nullptr || line->arg(1)[0] == '0') return false;
  return config::acl_match("shutdown", 1, line) == 0;
}

// The first `welcome_msg` line (file, then who) whose rule matches.
void show_welcome() {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("welcome_msg", cursor)) {
    if (line->arg(2) == nullptr) continue;
    if (config::acl_match("welcome_msg", 2, line)) {
      text::show_text_file(230, line->arg(1));
      return;
    }
  }
}

void enter_start_directory(core::Session& s) {
  core::copy_field(s.cwd, s.home_dir);
  const std::string start = fs::resolve_path(s.user.startup_dir, true);
  if (::chdir(start.c_str()) != 0)
    core::error_log("Error: can't start user %s in directory %s: %s", s.user.name,
                    s.user.startup_dir, std::strerror(errno));
  if (::getcwd(s.cwd, sizeof s.cwd) == nullptr) core::copy_field(s.cwd, s.home_dir);
  online::set_own_currentdir(s.cwd);
  std::string section_name;
  s.current_section = config::section_name_of(s.cwd, section_name);
  s.section_index = s.current_section;
  core::copy_field(s.section_env, core::format("SECTION=%s", {section_name}));
}

// Too many logins of this user: the client stays connected, not logged in,
// and may try again as anybody, so everything login changed goes back.
struct Undo {
  uid_t euid = core::effective_uid();
  gid_t egid = ::getegid();
  int color_mode = core::session().color_mode;

  void run(core::Session& s) const {
    if (!core::set_effective_uid(euid) || ::setegid(egid) != 0) {
      // Not root to begin with (a test run): nothing to give back.
    }
    online::set_own_groupid(0);
    s.color_mode = color_mode;
    s.color_allowed = 0;
    s.user = core::UserRecord{};
  }
};

}  // namespace

IdleLimits login_idle_limits(int32_t idle_time, bool idler, int default_idle_timeout,
                             int max_idle_timeout) {
  IdleLimits limits{default_idle_timeout, max_idle_timeout};
  if (idle_time >= 0) {
    limits.idle_timeout = idle_time;
    if (idle_time > 0) limits.max_idle_timeout = idle_time;
  }
  if (idler) limits.idle_timeout = 0;
  return limits;
}

bool admit_user(const std::string& password) {
  core::Session& s = core::session();
  const std::string name = s.account.name;
  const Undo undo;
  s.uid = s.account.uid;
  s.gid = s.account.gid;

  if (::setegid(s.gid) != 0) {
    core::string_reply(550, 503, 0);
    refuse(name.c_str(), false);
  }
  online::set_own_groupid(s.gid);
  userdb::join_groups(name.c_str(), s.gid);
  if (!core::set_effective_uid(s.uid)) {
    core::string_reply(550, 507, 0);
    refuse(name.c_str(), false);
  }

  if (userdb::lock_and_load_user(name.c_str()) != 0) {
    core::string_reply(550, 370, 0, name);
    refuse(name.c_str(), false);
  }
  s.user = userdb::work_user();

  const int masks = userdb::user_ip_match(s.remote_host, s.remote_ip, s.ident_user);
  if (masks < 1) {
    core::string_reply(530, 506, 0, s.ident_user, s.remote_ip);
    login_log_refusal(s, masks < 0 ? "%.23s: %s@%s (%s): Banned user@host."
                                   : "%.23s: %s@%s (%s): Bad user@host.");
    refuse(name.c_str(), true);
  }

  if (has(s, core::flag::kColor)) s.color_mode = 1;

  // The ghost-kill notices go out as continuation lines of whatever reply
  // ends this login: the 230 of success or the refusal that follows.
  if (s.kill_ghosts && !has(s, core::flag::kAnonymous)) {
    core::hold_continuations(true);
    if (const std::optional<long> age = online::kill_ghost(s.user.name))
      core::string_reply(230, 297, 1, *age);
    else
      core::string_reply(230, 298, 1);
    core::hold_continuations(false);
  }
  const bool exempt = has(s, core::flag::kExempt);
  if (!exempt && online::online_count(true) > online::max_users()) {
    text::show_text(530, "sitefull");
    core::reply(530, "");
    refuse(name.c_str(), true);
  }

  const char* colour_setting = config::config_value("color_mode");
  s.color_allowed = colour_setting != nullptr && std::strcmp(colour_setting, "0") == 0 ? 0 : 1;

  if (s.user.max_logins_per_ip >= 1 &&
      online::online_user_host_full(s.user.name, s.user.max_logins_per_ip)) {
    core::string_reply(530, 508, 0);
    refuse(name.c_str(), true);
  }
  if (s.user.max_logins != 0 && online::online_count_user(s.user.name) >= s.user.max_logins) {
    core::string_reply(530, 509, 0);
    userdb::unlock_user(name.c_str());
    undo.run(s);
    return false;
  }
  if (!exempt && userdb::group_login_limit(static_cast<int>(s.gid), online::online_count_group(s.gid)) != 0) {
    core::string_reply(530, 510, 0);
    refuse(name.c_str(), true);
  }
  if (shut_out(s)) {
    text::show_text(530, "shutdown");
    core::reply(530, "");
    refuse(name.c_str(), true);
  }
  if (!core::in_timeframe(s.user.timeframe_from, s.user.timeframe_to)) {
    core::string_reply(530, 511, 0, s.user.timeframe_from, s.user.timeframe_to);
    refuse(name.c_str(), true);
  }
  if (has(s, core::flag::kDeleted)) {
    const std::string bye = std::string(s.data_path) + "/byefiles/" + s.user.name + ".bye";
    text::show_text_file(530, bye.c_str());
    core::string_reply(530, 160, 0);
    core::error_log("'%.23s' tried to login but has been deleted.", s.user.name);
    login_log_refusal(s, "%.23s: %s@%s (%s): Deleted.");
    refuse(name.c_str(), true);
  }
  if (::chdir(s.account.dir.c_str()) != 0) {
    core::string_reply(530, 161, 0, name, s.account.dir);
    refuse(name.c_str(), true);
  }

  online::set_own_identity(s.user.name, s.user.tagline);
  s.home_dir = s.account.dir;
  enter_start_directory(s);
  text::set_script_environment();
  compute_free_space(".");
  show_welcome();
  core::set_process_title("%s: %s", s.remote_host, s.user.name);
  if (s.log_level != 0)
    core::event_log("LOGIN: %s@%s (%s) \"%.23s\" \"%.15s\" \"%.64s\"",
                    s.ident_known ? s.ident_user : "<UNKNOWN>", s.remote_host, s.remote_ip,
                    s.user.name, s.user.groups[0], s.user.tagline);
  // A line of its own, so readers of the LOGIN lines see them unchanged.
  if (s.log_level != 0 && core::control_protected())
    core::event_log("TLS: %s@%s (%s) \"%.23s\" \"%s\"", s.ident_known ? s.ident_user : "<UNKNOWN>",
                    s.remote_host, s.remote_ip, s.user.name, core::tls_description(core::control_fd()));
  s.logged_in = 1;
  if (s.log_password)
    core::login_log("User '%s' logged in with password '%s'", name, password);
  ::umask(0);

  s.user.logins_total += 1;
  s.user.last_login = static_cast<int32_t>(s.login_time);
  if (userdb::write_user(s.user) != 0) {
    core::string_reply(550, 59, 0, name);
    refuse(name.c_str(), false);
  }

  core::string_reply(230, 11, 0);
  const IdleLimits limits = login_idle_limits(s.user.idle_time, has(s, core::flag::kIdler),
                                              s.default_idle_timeout, s.max_idle_timeout);
  s.idle_timeout = limits.idle_timeout;
  s.max_idle_timeout = limits.max_idle_timeout;
  core::restart_idle_time_out();
  return true;
}

}  // namespace session
