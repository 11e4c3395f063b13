// PWD: the current directory as the client sees it, home being its "/".
#include <string>
#include <string_view>

#include "core/path_text.h"
#include "core/session.h"
#include "core/strings.h"
#include "session/session_commands.h"

namespace session::commands {
namespace {

// The current directory below home, without the leading '/' the reply text
// puts in front; a '"' is doubled so that the quoted name reads back whole.
std::string directory_text(std::string_view cwd, std::string_view home) {
  while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
  std::string_view rest = cwd;
  if (home != "/" && core::path_within(cwd, home)) rest.remove_prefix(home.size());
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  std::string quoted;
  for (const char c : rest) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted;
}

}  // namespace

int pwd(const CommandArgs&) {
  core::Session& s = core::session();
  const std::string text = directory_text(s.cwd, s.home_dir);
  // A directory name is shown as it is, never read as colour codes.
  const int saved_raw = s.raw_replies;
  s.raw_replies = 1;
  core::string_reply(257, 14, 0, text);
  s.raw_replies = saved_raw;
  return 0;
}

}  // namespace session::commands
