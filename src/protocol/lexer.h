// The command lexer: splits session().command_buffer into tokens, driven by
// the lexer state that each command word's table row selects.
#pragma once

#include <string>

#include "protocol/command_table.h"
#include "protocol/tokens.h"

namespace protocol {

// Not a grammar terminal: the lexer refused the line. When it has already
// answered (unknown word, "not implemented", a refusing pre-script, a
// custom SITE command) the session's error_reported flag is set.
inline constexpr int kLexError = -1;

struct Lexeme {
  int token = kLexError;
  std::string text;                     // STRING
  long long number = 0;                 // NUMBER, saturated at LLONG_MAX
  const CommandEntry* entry = nullptr;  // command words
};

// Called by the lexer between the lookup of a command word and its
// dispatch: the online status and the pre-command scripts. Returns false
// when a pre-script refused the command (it has answered already).
using CommandStartHook = bool (*)();
void set_command_start_hook(CommandStartHook hook);

// Starts lexing the line now in command_buffer: state CMD, position 0.
void begin_line();

// The next token of the current line.
Lexeme next_token();

// The line as the not-understood report shows it: command_buffer cut at
// its LF.
std::string line_for_report();

}  // namespace protocol
