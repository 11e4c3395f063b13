// The command tables: cmdtab (base FTP commands) and sitetab (SITE
// sub-commands), one row per command word with its grammar token, lexer
// state, help text, handler and, for SITE, the access keys that guard it.
#pragma once

#include <span>
#include <string_view>

#include "core/command_args.h"
#include "core/session.h"
#include "protocol/tokens.h"

namespace protocol {

using core::CommandArgs;
using core::Handler;

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
  core::LexState state;
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
