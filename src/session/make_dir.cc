// MKD: a new directory, spelt by the `dir_names` rule, where the `makedir`
// rule and the name filter allow it, after the site's pre_dir_check script
// has had its say. In a logged area (the `dirlog` rule) the directory gets
// a dirlog record and a dupelog line, and the bot hears of it (NEWDIR).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/logs.h"
#include "core/match.h"
#include "core/path_text.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "releases/dirlog.h"
#include "releases/dupe_log.h"
#include "session/base_commands.h"
#include "session/session_commands.h"
#include "text/bot_announce.h"
#include "text/external.h"
#include "text/name_filter_reply.h"
#include "text/text_file.h"

namespace session::commands {
namespace {

constexpr int kRefused = 550;
constexpr int kCreated = 257;
// Output lines of the pre-check longer than this are cut.
constexpr std::size_t kScriptLineLimit = 8192;

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Up to the last '/': "/" for a name right below the root.
std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

// The script of the first `pre_dir_check` line that applies to `path`: one
// without a pattern, or whose pattern matches the path (case counts).
const char* pre_dir_script(const std::string& path) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("pre_dir_check", cursor)) {
    if (!line->arg(1)) continue;
    if (!line->arg(2) || core::wildcard_match(line->arg(2), path, true)) return line->arg(1);
  }
  return nullptr;
}

// Runs the pre-check on the new directory; false when it refused (the
// refusal has been sent). Its output lines are held back and go out in
// front of whichever reply ends MKD, 257 or 550, with that reply's code: a
// client reads a change of code inside one reply as a reply of its own.
bool pre_dir_check_passes(const std::string& path) {
  const char* script = pre_dir_script(path);
  struct stat st {};
  if (!script || ::stat(script, &st) != 0) return true;

  const std::string name(core::last_component(path));
  std::FILE* output = text::run_script(script, {name, parent_of(path)});
  if (!output) {
    core::string_reply(kRefused, 480, 0, std::string(core::last_component(script)));
    core::error_log("Unable to execute pre_dir_check script '%s'", script);
    return false;
  }
  core::hold_continuations(true);
  std::string line;
  std::string last_line;
  while (text::read_output_line(output, line, kScriptLineLimit)) {
    // "#0" marks a line written for a directory that passes; only the mark
    // goes, the code is the final reply's.
    const std::string_view shown =
        line.compare(0, 2, "#0") == 0 ? std::string_view(line).substr(2) : std::string_view(line);
    core::lreply(kCreated, "%s", shown);
    last_line = line;
  }
  const int status = text::close_command(output);
  core::hold_continuations(false);
  if (status == 0) return true;
  if (status == 2)
    core::string_reply(kRefused, 560, 0);
  else
    core::string_reply(kRefused, 561, 0, last_line);
  return false;
}

// A '"' inside the quoted name of a 257 reply is doubled, so that clients
// read the whole name back.
std::string quoted_name(std::string_view text) {
  std::string quoted;
  for (const char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted;
}

void log_new_directory(const std::string& path) {
  const core::Session& s = core::session();
  core::event_log("NEWDIR: \"%s\" \"%.23s\" \"%.15s\" \"%.64s\"", path, s.user.name, s.user.groups[0],
                  s.user.tagline);
}

int make_dir(std::string name) {
  core::Session& s = core::session();
  if (name.size() > fs::kPathLimit) name.resize(fs::kPathLimit);
  std::string path = fs::resolve_path(name, true);
  fs::rewrite_name("dir_names", path);

  if (!config::path_allowed("makedir", path.c_str(), config::kPathIsDirectory)) {
    core::string_reply(kRefused, 557, 0);
    return 1;
  }

  std::string parent = parent_of(path);
  if (!is_directory(parent)) {
    fs::rewrite_name("dir_names", parent);
    if (!is_directory(parent)) {
      core::string_reply(kRefused, 558, 0);
      return 1;
    }
    path = fs::path_join(parent, core::last_component(path));
  }

  if (!text::name_passes_filter(path)) return 1;

  if (!config::privpath_allowed(parent.c_str()) || !fs::inside_home(parent)) {
    core::string_reply(kRefused, 559, 0);
    return 1;
  }

  if (!pre_dir_check_passes(path)) return 1;

  const std::string visible = fs::visible_path(path);
  // The process runs as the user, so the directory carries the user's ids.
  if (::mkdir(path.c_str(), 0777) != 0) {
    core::perror_reply(kRefused, "System Error- " + visible.substr(0, 35));
    return 1;
  }

  if (config::path_allowed("dirlog", path.c_str(), config::kPathIsDirectory)) {
    const bool recorded = releases::dirlog_add(path);
    releases::dupelog_add(path);
    if (s.log_level != 0) log_new_directory(path);
    if (recorded) text::announce_directory("NEWDIR", path);
  } else if (s.log_level == 2) {
    log_new_directory(path);
  }

  // A directory name is shown as it is, never read as colour codes.
  const int saved_raw = s.raw_replies;
  s.raw_replies = 1;
  core::string_reply(kCreated, 13, 0, quoted_name(visible));
  s.raw_replies = saved_raw;
  return 0;
}

}  // namespace

int mkd(const CommandArgs& args) { return make_dir(args.text ? *args.text : std::string()); }

}  // namespace session::commands
