// The personal SITE commands: IDLE, TIME, VERS, COLOR, TAGLINE, ALIAS,
// CDPATH and CHMOD.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/idle_alarm.h"
#include "core/format.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/time_helpers.h"
#include "fs/path.h"
#include "online/online_table.h"
#include "session/base_commands.h"
#include "session/session_commands.h"
#include "userdb/userfile.h"

namespace session {
namespace {

constexpr std::size_t kTaglineLength = 63;

// ctime text of a site time stamp (the offset is already in it).
std::string site_ctime(time_t when) {
  struct tm parts {};
  char text[64] = {};
  if (!gmtime_r(&when, &parts) || !asctime_r(&parts, text)) return "?";
  std::string result(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == ' ')) result.pop_back();
  return result;
}

bool exempt_from_idle_limit(const core::UserRecord& user) {
  return core::has_flag(user.flags, core::flag::kExempt) || core::has_flag(user.flags, core::flag::kIdler) ||
         user.idle_time == 0;
}

// Adds or removes a flag letter of a record's flag text.
void edit_flag(core::UserRecord& user, char flag, bool on) {
  std::string flags = user.flags;
  const std::size_t at = flags.find(flag);
  if (on && at == std::string::npos) flags += flag;
  if (!on && at != std::string::npos) flags.erase(at, 1);
  core::copy_field(user.flags, flags);
}

// Writes a line to the control connection without a reply code.
void raw_line(const std::string& line) {
  std::FILE* out = core::reply_stream();
  std::fwrite(line.data(), 1, line.size(), out);
}

}  // namespace

Duration split_duration(long long seconds) {
  if (seconds < 0) seconds = 0;
  return {seconds / 86400, seconds % 86400 / 3600, seconds % 3600 / 60};
}

long long seconds_to_week_end(time_t now, bool monday_first) {
  const time_t week_start = core::start_of_week(now, monday_first);
  return static_cast<long long>(week_start + 7 * 86400 - now);
}

void show_time() {
  const core::Session& s = core::session();
  const time_t now = core::now();
  core::string_reply(200, 289, 1);
  core::string_reply(200, 290, 1, site_ctime(now));
  core::string_reply(200, 291, 1, site_ctime(s.login_time));
  const Duration online = split_duration(static_cast<long long>(now - s.login_time));
  core::string_reply(200, 292, 1, online.days, online.hours, online.minutes);
  const Duration left = split_duration(seconds_to_week_end(now, s.week_starts_monday != 0));
  core::string_reply(200, 293, 1, left.days, left.hours, left.minutes);
  core::string_reply(200, 289, 1);
  core::string_reply(200, 7, 0);
}

int set_tagline(const char* tagline) {
  core::Session& s = core::session();
  const std::string name = s.user.name;
  if (userdb::lock_and_load_user(name.c_str()) != 0) {
    core::string_reply(200, 234, 0);
    return 1;
  }
  bool acceptable = true;
  for (const char* c = tagline; *c; ++c) {
    const unsigned char u = static_cast<unsigned char>(*c);
    if (!std::isprint(u) || *c == '!' || *c == '"' || *c == '%') acceptable = false;
  }
  if (!acceptable) {
    userdb::unlock_user(name.c_str());
    core::string_reply(200, 234, 0);
    return 1;
  }
  const std::string cut = std::string(tagline).substr(0, kTaglineLength);
  core::copy_field(userdb::work_user().tagline, cut);
  core::copy_field(s.user.tagline, cut);
  if (online::OnlineEntry* own = online::own_entry()) online::copy_field(own->tagline, cut);
  userdb::write_user(userdb::work_user());
  core::string_reply(200, 235, 0, cut);
  return 0;
}

int set_colour(std::string_view argument) {
  core::Session& s = core::session();
  bool on = s.color_mode != 0;
  if (argument.empty())
    on = !on;
  else if (argument == "off")
    on = false;
  else if (argument == "on")
    on = true;
  else {
    core::string_reply(200, on ? 206 : 205, 0);
    return 0;
  }
  const std::string name = s.user.name;
  if (userdb::lock_and_load_user(name.c_str()) == 0) {
    edit_flag(userdb::work_user(), core::flag::kColor, on);
    userdb::write_user(userdb::work_user());
  }
  edit_flag(s.user, core::flag::kColor, on);
  s.color_mode = on ? 1 : 0;
  core::string_reply(200, on ? 206 : 205, 0);
  return 0;
}

}  // namespace session

namespace session::commands {

int site_idle(const CommandArgs& args) {
  core::Session& s = core::session();
  if (!args.number) {
    core::string_reply(200, 210, 0, s.idle_timeout, s.max_idle_timeout);
    return 0;
  }
  const long long wanted = *args.number;
  if (!session::exempt_from_idle_limit(s.user) && (wanted < 1 || wanted > s.max_idle_timeout)) {
    core::string_reply(501, 211, 0, s.max_idle_timeout);
    return 1;
  }
  s.idle_timeout = static_cast<int>(std::min<long long>(wanted, 1 << 30));
  core::restart_idle_time_out();
  core::string_reply(200, 212, 0, s.idle_timeout);
  return 0;
}

int site_time(const CommandArgs&) {
  session::show_time();
  return 0;
}

int site_vers(const CommandArgs&) {
  core::string_reply(200, 194, 0, core::kVersion);
  return 0;
}

int site_color(const CommandArgs& args) { return session::set_colour(args.text ? *args.text : std::string()); }

int site_tagline(const CommandArgs& args) {
  if (!args.text) {
    core::string_reply(200, 195, 0, core::session().user.tagline);
    return 0;
  }
  return session::set_tagline(args.text->c_str());
}

int site_alias(const CommandArgs& args) {
  const config::ConfigEntry* cursor = nullptr;
  if (!args.text) {
    core::string_reply(214, 239, 1);
    while (const config::ConfigEntry* line = config::next_config("alias", cursor))
      if (line->arg(1) && line->arg(2)) session::raw_line(core::format("   %-8s %s\r\n", {line->arg(1), line->arg(2)}));
    std::fflush(core::reply_stream());
    core::reply(214, "");
    return 0;
  }
  while (const config::ConfigEntry* line = config::next_config("alias", cursor)) {
    if (line->arg(1) && line->arg(2) && *args.text == line->arg(1)) {
      core::string_reply(214, 237, 0, line->arg(1), line->arg(2));
      return 0;
    }
  }
  core::string_reply(502, 238, 0, *args.text);
  return 1;
}

int site_cdpath(const CommandArgs&) {
  core::string_reply(214, 236, 1);
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("cdpath", cursor))
    if (line->arg(1)) session::raw_line(core::format("  %s\r\n", {line->arg(1)}));
  std::fflush(core::reply_stream());
  core::reply(214, "");
  return 0;
}

int site_chmod(const CommandArgs& args) {
  const std::string path = args.text ? *args.text : std::string();
  core::PrivilegeBracket privileged;
  if (args.mode < 0 || args.mode > 0777) {
    core::string_reply(501, 208, 0);
    return 1;
  }
  // The change runs as root: the path must stay below home and out of
  // private areas, whatever ".." or a link in it says.
  const std::string resolved = session::client_file_path(path);
  int result = -1;
  if (fs::inside_home(resolved) && config::privpath_allowed(resolved.c_str()))
    result = ::chmod(resolved.c_str(), static_cast<mode_t>(args.mode));
  else
    errno = ENOENT;
  if (result != 0) {
    core::perror_reply(550, path);
    return 1;
  }
  core::string_reply(200, 9, 0, "CHMOD");
  return 0;
}

}  // namespace session::commands
