// CWD by path alone: the resolved directory, kept inside home and out of
// private paths. Aliases, search paths and numbered jumps come with the
// full directory commands, which replace this file.
#include <unistd.h>

#include <string>

#include "config/access_rules.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "session/base_commands.h"
#include "session/session_commands.h"

namespace session::commands {

int cwd(const CommandArgs& args) {
  core::Session& s = core::session();
  const std::string name = args.text ? *args.text : std::string("/");
  const std::string path = fs::resolve_path(name, true);
  if (::chdir(path.c_str()) != 0) {
    core::perror_reply(550, name);
    return 1;
  }
  char real[4096];
  if (::getcwd(real, sizeof real) == nullptr) {
    core::perror_reply(550, name);
    if (::chdir(s.cwd) != 0) {
      // The old directory vanished too; the next CWD starts afresh.
    }
    return 1;
  }
  if (!config::privpath_allowed(real) || !fs::inside_home(real)) {
    core::string_reply(550, 556, 0, name);
    if (::chdir(s.cwd) != 0) {
      // As above.
    }
    return 1;
  }
  if (std::string_view(real).size() < s.home_dir.size() && ::chdir(s.home_dir.c_str()) != 0) {
    core::perror_reply(550, name);
    return 1;
  }
  session::directory_ack("CWD");
  return 0;
}

}  // namespace session::commands
