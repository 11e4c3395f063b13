// The NEWDIR and DELDIR announcements.
#include "text/bot_announce.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "core/session.h"
#include "text/external.h"

namespace text {

int announce_directory(const char* event, std::string_view path) {
  const char* program = core::session().botscript_path;
  if (program[0] == '\0') return -1;
  struct stat st {};
  if (::stat(program, &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return -1;
  std::FILE* output = run_script(program, {std::string(event), std::string(path)});
  if (output == nullptr) return -1;
  // The bot's output is not for the client; reading it to the end lets a
  // chatty bot finish instead of blocking on a full pipe.
  std::string discarded;
  while (read_output_line(output, discarded, 0)) {
  }
  return close_command(output);
}

}  // namespace text
