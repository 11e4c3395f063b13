// marlod-site: lays out and administers a site offline. This file only picks
// the sub-command; each sub-command lives in its own file.
#include <cstdio>
#include <cstring>

#include "adduser.h"
#include "commands.h"

namespace {

struct SubCommand {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* usage;
};

constexpr SubCommand kSubCommands[] = {
    {"create", site_tool::create_command,
     "create ROOT --config CONF [--ipc-key HEX] [--share DIR] [--siteop NAME:PASSWORD]"},
    {"adduser", site_tool::adduser_command,
     "adduser CONF NAME PASSWORD [--flags F] [--group G] [--ip MASK]..."},
};

void print_usage(std::FILE* out) {
  std::fprintf(out, "usage:\n");
  for (const SubCommand& command : kSubCommands) std::fprintf(out, "  marlod-site %s\n", command.usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    print_usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const SubCommand& command : kSubCommands) {
    if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "marlod-site: unknown command '%s'\n", argv[1]);
  print_usage(stderr);
  return 2;
}
