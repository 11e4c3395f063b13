// RMD: removes a directory the user may delete (`delete`, or `deleteown`
// for one the user made), inside home and out of private paths. A logged
// directory's dirlog record becomes "deleted" and the bot hears DELDIR.
// DELE shares the path resolution, the rights and the removal.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "config/access_rules.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "releases/dirlog.h"
#include "session/base_commands.h"
#include "session/session_commands.h"
#include "text/bot_announce.h"

namespace session {
namespace {

constexpr int kRefused = 550;

}  // namespace

std::string path_to_delete(const std::string& name) {
  // A link is removed as the link (RMD then fails, it not being a
  // directory); anything else by where its parents' links lead.
  std::string path = fs::resolve_path(name, false);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) path = fs::resolve_path(name, true);
  return path;
}

bool may_delete(const std::string& path, const struct stat& st, int kind) {
  if (!config::privpath_allowed(path.c_str()) || !fs::inside_home(path)) return false;
  if (st.st_uid == core::effective_uid() && config::path_allowed("deleteown", path.c_str(), kind)) return true;
  return config::path_allowed("delete", path.c_str(), kind) != 0;
}

bool remove_directory(const std::string& path, const std::string& name, int busy_code) {
  const core::Session& s = core::session();
  if (::rmdir(path.c_str()) != 0) {
    core::perror_reply(errno == EBUSY ? busy_code : kRefused, name);
    return false;
  }
  const bool logged = config::path_allowed("dirlog", path.c_str(), config::kPathIsDirectory) != 0;
  if (s.log_level == 2 || (s.log_level == 1 && logged))
    core::event_log("DELDIR: \"%s\" \"%.23s\" \"%s\" \"%s\"", path, s.user.name, s.user.groups[0],
                    s.user.tagline);
  if (logged) {
    const std::optional<releases::DirlogChanged> changed =
        releases::dirlog_change(path, std::nullopt, releases::kDirDeleted);
    if (changed && changed->deldir_due) text::announce_directory("DELDIR", path);
  }
  return true;
}

}  // namespace session

namespace session::commands {
namespace {

constexpr int kRefused = 550;

int remove_dir(const std::string& name) {
  const std::string path = path_to_delete(name);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    core::perror_reply(kRefused, name);
    return 1;
  }
  if (!may_delete(path, st, config::kPathIsDirectory)) {
    core::string_reply(kRefused, 57, 0, name);
    return 1;
  }
  if (!remove_directory(path, name, 450)) return 1;
  session::directory_ack("RMD");
  return 0;
}

}  // namespace

int rmd(const CommandArgs& args) { return remove_dir(args.text ? *args.text : std::string()); }

}  // namespace session::commands
