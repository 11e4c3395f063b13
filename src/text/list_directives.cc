// The seams between text-file directives and the subsystems whose lists
// they show. Until a list exists its directive shows nothing; the lists
// that exist have files of their own (recent_directories.cc,
// recent_nukes.cc, bulletin_lists.cc, who_list.cc, top_lists.cc).
// %EXEC runs its command through the external-program runner.
#include "text/list_directives.h"

#include <cstdio>
#include <string>

#include "core/reply.h"
#include "text/external.h"

namespace text {
namespace {

// Each output line of %EXEC is sent whole up to this length.
constexpr std::size_t kCommandLineLimit = 8191;

}  // namespace

int show_command_output(int code, std::string_view command) {
  // Error output is interleaved with the normal output, so a failing
  // command shows why.
  std::FILE* output = run_command(command);
  if (!output) return 0;
  std::string line;
  while (read_output_line(output, line, kCommandLineLimit)) core::lreply(code, "%s", line);
  close_command(output);
  return 0;
}

}  // namespace text
