// CWD: the typed path first; a name that does not exist then goes through
// the aliases, the search paths (cdpath), a numbered jump to one of the
// newest releases and a forgiving name match in its parent directory.
// Wherever the change lands, the real directory must be inside home and out
// of private paths, or CWD refuses and stays where it was.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/logs.h"
#include "core/path_text.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "releases/dirlog.h"
#include "session/base_commands.h"
#include "session/session_commands.h"

namespace session::commands {
namespace {

enum class Landing { Allowed, Refused, Unknown };

// Whether the directory the process is in now may be the session's place;
// `real` receives it.
Landing check_landing(std::string& real) {
  char buffer[4096];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return Landing::Unknown;
  real = buffer;
  if (!config::privpath_allowed(real.c_str()) || !fs::inside_home(real)) return Landing::Refused;
  return Landing::Allowed;
}

void change_back() {
  if (::chdir(core::session().cwd) != 0) {
    // The old place vanished; the next CWD starts afresh from its text.
  }
}

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A jump the site configured (alias or cdpath): the change and its checks.
// Refused places are left again at once.
Landing jump_to(const std::string& target) {
  if (::chdir(target.c_str()) != 0) return Landing::Unknown;
  std::string real;
  const Landing landing = check_landing(real);
  if (landing != Landing::Allowed) change_back();
  return landing == Landing::Allowed ? Landing::Allowed : Landing::Refused;
}

std::string below_home(std::string_view directory) {
  return core::session().home_dir + "/" + std::string(directory);
}

// The first alias named `name`, case-insensitively, that leads somewhere.
// A refused alias ends the alias search.
bool try_aliases(const std::string& name) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("alias", cursor)) {
    if (!line->arg(1) || !line->arg(2) || strcasecmp(line->arg(1), name.c_str()) != 0) continue;
    const Landing landing = jump_to(below_home(line->arg(2)));
    if (landing == Landing::Allowed) return true;
    if (landing == Landing::Refused) return false;
  }
  return false;
}

// `name` below each search path in turn; a refused one ends the search.
bool try_cdpaths(const std::string& name) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("cdpath", cursor)) {
    if (!line->arg(1)) continue;
    const Landing landing = jump_to(below_home(line->arg(1)) + "/" + name);
    if (landing == Landing::Allowed) return true;
    if (landing == Landing::Refused) return false;
  }
  return false;
}

// One or two digits with a value from 1 to 99.
std::optional<int> jump_number(std::string_view name) {
  if (name.empty() || name.size() > 2) return std::nullopt;
  if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int n = std::stoi(std::string(name));
  if (n < 1) return std::nullopt;
  return n;
}

std::vector<std::string> subdirectories(const std::string& parent) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(parent.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    if (is_directory(fs::path_join(parent, entry_name))) names.emplace_back(entry_name);
  }
  ::closedir(dir);
  // Directory order depends on the file system; "first" means by name.
  std::sort(names.begin(), names.end());
  return names;
}

// The directory a mistyped or shortened name stands for: in the parent of
// `path`, the subdirectory equal to its last component ignoring case, else
// the first one that begins with the typed text (up to a '*', spelt as a
// new directory would be).
std::optional<std::string> match_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  const std::string last(core::last_component(path));
  if (last.empty() || last == "." || last == "..") return std::nullopt;
  if (!is_directory(parent)) {
    fs::rewrite_name("dir_names", parent);
    if (!is_directory(parent)) return std::nullopt;
  }
  const std::vector<std::string> names = subdirectories(parent);
  for (const std::string& candidate : names)
    if (strcasecmp(candidate.c_str(), last.c_str()) == 0) return fs::path_join(parent, candidate);
  std::string typed = last.substr(0, last.find('*'));
  if (!typed.empty()) fs::rewrite_name("dir_names", typed);
  for (const std::string& candidate : names)
    if (candidate.compare(0, typed.size(), typed) == 0) return fs::path_join(parent, candidate);
  return std::nullopt;
}

// After a change to a place the client asked for: the real directory must
// pass the checks, else CWD answers for `name` and goes back.
int settle(const std::string& name) {
  std::string real;
  switch (check_landing(real)) {
    case Landing::Unknown:
      core::perror_reply(550, name);
      change_back();
      return 1;
    case Landing::Refused:
      core::string_reply(550, 556, 0, name);
      change_back();
      return 1;
    case Landing::Allowed:
      break;
  }
  session::directory_ack("CWD");
  return 0;
}

int change_dir(const std::string& name);

// CWD n: the n-th newest release the user may see, entered by its visible
// path. Nothing (and no reply) when there are fewer.
std::optional<int> numbered_jump(int n) {
  core::Session& s = core::session();
  const releases::NewestResult newest =
      releases::cwd_to_newest(n, [](std::string_view path) { return fs::inside_home(path); });
  switch (newest.outcome) {
    case releases::NewestResult::kOpenFailed:
      core::string_reply(550, 257, 0);
      core::error_log("Error opening dirlog database for user %s.", s.user.name);
      return 1;
    case releases::NewestResult::kReadFailed:
      core::string_reply(550, 258, 0);
      return 1;
    case releases::NewestResult::kNotFound:
      return std::nullopt;
    case releases::NewestResult::kFound:
      break;
  }
  s.cwd_shortcut = 2;
  const int result = change_dir(fs::visible_path(newest.path));
  s.cwd_shortcut = 0;
  return result;
}

int change_dir(const std::string& name) {
  core::Session& s = core::session();
  const std::string path = fs::resolve_path(name, true);
  if (::chdir(path.c_str()) == 0) return settle(name);
  if (errno != ENOENT) {
    core::perror_reply(550, name);
    change_back();
    return 1;
  }

  if (try_aliases(name) || try_cdpaths(name)) {
    s.cwd_shortcut = 1;
    session::directory_ack("CWD");
    return 0;
  }

  if (const std::optional<int> n = jump_number(name))
    if (const std::optional<int> result = numbered_jump(*n)) return *result;

  const std::optional<std::string> match = match_name(path);
  if (!match || ::chdir(match->c_str()) != 0) {
    core::string_reply(550, 556, 0, name);
    return 1;
  }
  s.cwd_shortcut = 1;
  const int result = settle(name);
  s.cwd_shortcut = 0;
  return result;
}

}  // namespace

int cwd(const CommandArgs& args) {
  core::session().cwd_shortcut = 0;
  return change_dir(args.text ? *args.text : std::string("/"));
}

int cdup(const CommandArgs&) {
  core::session().cwd_shortcut = 0;
  return change_dir("..");
}

}  // namespace session::commands
