// What the command reader hands to a command handler. Handlers live beside
// the subsystem they drive; the reader's tables, at the top, name them.
#pragma once

#include <optional>
#include <string>

#include "core/net_address.h"

namespace core {

// What the grammar took from a command line. Only the fields of the
// command's own form are set.
struct CommandArgs {
  const char* command = nullptr;      // the command word as the table spells it
  std::optional<std::string> text;    // the STRING argument (path, name, ...)
  std::optional<long long> number;    // the NUMBER argument
  std::optional<long long> record_size;  // ALLO n R m: m
  int mode = 0;                       // SITE CHMOD: octal_number, -1 for a bad digit
  char type_code = 0;                 // TYPE/STRU/MODE letter (upper case)
  char form_code = 0;                 // TYPE A/E: N, T or C; 0 when none
  NetAddress host_port;               // PORT
};

// Handlers return 0 on success, non-zero on failure; for the rows that
// track failures the result decides whether post-command scripts run.
using Handler = int (*)(const CommandArgs&);

}  // namespace core
