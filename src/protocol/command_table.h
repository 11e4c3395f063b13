// The command tables: cmdtab (base FTP commands) and sitetab (SITE
// sub-commands), one row per command word with its grammar token, lexer
// state, help text, handler and, for SITE, the access keys that guard it.
#pragma once

#include <netinet/in.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/tokens.h"
#include "session/session.h"

namespace protocol {

struct CommandEntry;

// What the grammar took from a command line, handed to the handler. Only
// the fields of the command's own form are set.
struct CommandArgs {
  const CommandEntry* entry = nullptr;
  std::optional<std::string> text;    // the STRING argument (path, name, ...)
  std::optional<long long> number;    // the NUMBER argument
  std::optional<long long> record_size;  // ALLO n R m: m
  int mode = 0;                       // SITE CHMOD: octal_number, -1 for a bad digit
  char type_code = 0;                 // TYPE/STRU/MODE letter (upper case)
  char form_code = 0;                 // TYPE A/E: N, T or C; 0 when none
  sockaddr_in host_port{};            // PORT
};

// Handlers return 0 on success, non-zero on failure; for the rows that
// track failures the result decides whether post-command scripts run.
using Handler = int (*)(const CommandArgs&);

// The argument forms a SITE sub-command accepts after its word.
enum SiteForm : unsigned {
  kBareForm = 1,       // SITE WORD
  kStringForm = 2,     // SITE WORD <sp> string
  kNumberForm = 4,     // SITE WORD <sp> number
  kModePathForm = 8,   // SITE WORD <sp> octal <sp> path
};

struct CommandEntry {
  const char* name;  // upper case; nullptr ends a table
  Token token;
  session::LexState state;
  bool implemented;
  const char* help;
  Handler handler;
  // Sets command_failed before its checks and lets the handler's result
  // replace it.
  bool tracks_failure = false;
  // SITE only: the access rule of the bare form and of the argument form
  // (nullptr: none), and the forms the grammar accepts.
  const char* bare_key = nullptr;
  const char* argument_key = nullptr;
  unsigned site_forms = 0;
};

// Both tables end with a row whose name is nullptr.
std::span<const CommandEntry> cmdtab();
std::span<const CommandEntry> sitetab();

// Rows without the terminating entry.
std::span<const CommandEntry> rows(std::span<const CommandEntry> table);

// Exact lookup of an upper-case word; nullptr when unknown.
const CommandEntry* lookup(std::span<const CommandEntry> table, std::string_view word);

}  // namespace protocol
