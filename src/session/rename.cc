// RNFR and RNTO: renaming within a directory needs `rename` (or
// `renameown` for the user's own files); moving into another directory
// needs `filemove` as well. The new name is spelt by the `dir_names` or
// `file_names` rule and passes the name filter. A rename never replaces
// anything, not even a name that appeared after the check; a logged
// directory's dirlog record follows it.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "config/access_rules.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "releases/dirlog.h"
#include "session/base_commands.h"
#include "text/name_filter_reply.h"
#include "session/session_commands.h"

namespace session {

// Without kernel support for renaming without replacing, a file is linked
// to its new name and unlinked from the old one (the link fails on an
// existing name). A directory cannot be linked; it falls back to a plain
// rename after one more look, which at worst replaces an empty directory
// made in between (a file or a non-empty directory makes the rename fail).
Moved move_without_replacing(const std::string& from, const std::string& to, bool directory) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return Moved::Done;
  if (errno == EEXIST) return Moved::TargetExists;
  if (errno != EINVAL && errno != ENOSYS) return Moved::Failed;
  if (directory) {
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return Moved::TargetExists;
    return ::rename(from.c_str(), to.c_str()) == 0 ? Moved::Done : Moved::Failed;
  }
  if (::link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? Moved::TargetExists : Moved::Failed;
  if (::unlink(from.c_str()) != 0) {
    const int saved = errno;
    (void)::unlink(to.c_str());
    errno = saved;
    return Moved::Failed;
  }
  return Moved::Done;
}

}  // namespace session

namespace session::commands {
namespace {

constexpr int kRefused = 550;

// Up to the last '/' (empty for a name without one).
std::string_view directory_part(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

bool in_user_area(const std::string& path) {
  return config::privpath_allowed(path.c_str()) && fs::inside_home(path);
}

int rename_from(const std::string& name) {
  core::Session& s = core::session();
  s.rename_from.clear();
  const std::string path = fs::resolve_path(name, false);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    core::perror_reply(kRefused, name);
    return 1;
  }
  if (!in_user_area(path)) {
    core::string_reply(kRefused, 512, 0, name);
    return 1;
  }
  const bool allowed =
      (st.st_uid == core::effective_uid() && config::path_allowed("renameown", path.c_str(), config::kPathIsFile)) ||
      config::path_allowed("rename", path.c_str(), config::kPathIsFile);
  if (!allowed) {
    core::string_reply(kRefused, 562, 0, name);
    return 1;
  }
  core::string_reply(350, 563, 0, fs::visible_path(path));
  s.rename_from = name;
  return 0;
}

int rename_to(const std::string& from_name, std::string to_name) {
  const std::string from = fs::resolve_path(from_name, false);
  struct stat st {};
  const bool directory = ::lstat(from.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  fs::rewrite_name(directory ? "dir_names" : "file_names", to_name);
  const std::string to = fs::resolve_path(to_name, false);

  if (!text::name_passes_filter(to)) return 1;

  const std::string_view from_dir = directory_part(from);
  const std::string_view to_dir = directory_part(to);
  if (from_dir != to_dir && !config::path_allowed("filemove", from.c_str(), config::kPathIsFile)) {
    core::reply(kRefused, "Not allowed to move %s", from_name);
    return 1;
  }
  if (::lstat(to.c_str(), &st) == 0) {
    core::string_reply(kRefused, 564, 0, to_name);
    return 1;
  }
  if (!in_user_area(to)) {
    core::string_reply(kRefused, 512, 0, to_name);
    return 1;
  }

  switch (session::move_without_replacing(from, to, directory)) {
    case session::Moved::TargetExists:
      core::string_reply(kRefused, 564, 0, to_name);
      return 1;
    case session::Moved::Failed:
      core::perror_reply(kRefused, "rename");
      return 1;
    case session::Moved::Done:
      break;
  }
  releases::dirlog_change(from, to, 0);
  session::directory_ack("RNTO");
  return 0;
}

}  // namespace

int rnfr(const CommandArgs& args) { return rename_from(args.text ? *args.text : std::string()); }

int rnto(const CommandArgs& args) {
  const std::string from = core::session().rename_from;
  if (from.empty()) {
    core::reply(503, "Bad sequence of commands.");
    return 1;
  }
  return rename_to(from, args.text ? *args.text : std::string());
}

}  // namespace session::commands
