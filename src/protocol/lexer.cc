// The command lexer. Each call hands out one token of the current line;
// the state after a command word comes from that word's table row.
#include "protocol/lexer.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "core/reply.h"
#include "core/strings.h"
#include "protocol/custom_site_commands.h"

namespace protocol {
namespace {

using core::LexState;

CommandStartHook command_start_hook = nullptr;

core::Session& s() { return core::session(); }
char peek() { return s().command_buffer[s().line_position]; }

Lexeme make(int token) {
  Lexeme lexeme;
  lexeme.token = token;
  return lexeme;
}

// The line ends here: nothing more is taken from it.
Lexeme refuse() {
  s().lex_state = LexState::Cmd;
  return make(kLexError);
}

// Refusal after the lexer has answered itself, so the grammar stays silent.
Lexeme refuse_answered() {
  s().error_reported = 1;
  return refuse();
}

void report_not_understood() {
  if (s().error_reported) return;
  core::string_reply(500, 5, 0, line_for_report());
  s().error_reported = 1;
}

Lexeme number_token() {
  Lexeme lexeme = make(kNUMBER);
  while (std::isdigit(static_cast<unsigned char>(peek()))) {
    const int digit = peek() - '0';
    // Saturate rather than overflow on absurdly long digit runs.
    if (lexeme.number > (LLONG_MAX - digit) / 10)
      lexeme.number = LLONG_MAX;
    else
      lexeme.number = lexeme.number * 10 + digit;
    ++s().line_position;
  }
  return lexeme;
}

int letter_token(char c) {
  switch (std::toupper(static_cast<unsigned char>(c))) {
    case 'A': return kA;
    case 'B': return kB;
    case 'C': return kC;
    case 'E': return kE;
    case 'F': return kF;
    case 'I': return kI;
    case 'L': return kL;
    case 'N': return kN;
    case 'P': return kP;
    case 'R': return kR;
    case 'S': return kS;
    case 'T': return kT;
    default: return kLexError;
  }
}

// A known word enters its row's state; unknown and unimplemented words end
// the line with their answer.
Lexeme dispatch_word(const CommandEntry* entry) {
  if (entry == nullptr) {
    report_not_understood();
    return refuse();
  }
  if (!entry->implemented) {
    core::nack(entry->name);
    return refuse_answered();
  }
  s().lex_state = entry->state;
  Lexeme lexeme = make(entry->token);
  lexeme.entry = entry;
  return lexeme;
}

Lexeme command_word() {
  core::Session& session = s();
  char* line = session.command_buffer;
  // The raw copy keeps the line as the client typed it.
  std::strncpy(session.raw_line, line, sizeof session.raw_line - 1);
  session.raw_line[sizeof session.raw_line - 1] = '\0';
  if (char* cr = std::strchr(line, '\r')) {
    cr[0] = '\n';
    cr[1] = '\0';
  }
  std::size_t length = std::strcspn(line, " \n");
  if (line[length] == '\0') length = std::min<std::size_t>(4, length);
  for (std::size_t i = 0; i < length; ++i)
    line[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
  const CommandEntry* entry = lookup(cmdtab(), std::string_view(line, length));
  session.line_position = static_cast<int>(length);

  if (command_start_hook != nullptr && !command_start_hook()) return refuse_answered();
  return dispatch_word(entry);
}

Lexeme site_word() {
  core::Session& session = s();
  char* word = session.command_buffer + session.line_position;
  const std::size_t length = std::strcspn(word, " \n");
  for (std::size_t i = 0; i < length; ++i)
    word[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[i])));
  session.line_position += static_cast<int>(length);
  std::string name(word, length);

  if (session.logged_in) {
    switch (resolve_custom_site_command(name)) {
      case CustomSiteResult::kBuiltIn: break;
      case CustomSiteResult::kAlias: break;  // name now holds the aliased word
      case CustomSiteResult::kHandled: return refuse_answered();
    }
  }
  return dispatch_word(lookup(sitetab(), name));
}

// STR2: the rest of the line, blanks included, is one string.
Lexeme string_token() {
  core::Session& session = s();
  const char* rest = session.command_buffer + session.line_position;
  const std::size_t length = std::strcspn(rest, "\n");
  if (length == 0) return refuse();
  Lexeme lexeme = make(kSTRING);
  lexeme.text.assign(rest, length);
  session.line_position += static_cast<int>(length);
  session.lex_state = LexState::Args;
  return lexeme;
}

// STR1 and ZSTR1: exactly one blank, then the string part.
Lexeme blank_then(LexState next) {
  if (peek() != ' ') return refuse();
  ++s().line_position;
  s().lex_state = next;
  return make(kSP);
}

Lexeme end_of_line() {
  ++s().line_position;
  s().lex_state = LexState::Cmd;
  return make(kCRLF);
}

Lexeme args_token() {
  const char c = peek();
  if (std::isdigit(static_cast<unsigned char>(c))) return number_token();
  if (c == '\n') return end_of_line();
  if (c == '\0') return refuse();
  ++s().line_position;
  if (c == ' ') return make(kSP);
  if (c == ',') return make(kCOMMA);
  const int letter = letter_token(c);
  return letter == kLexError ? refuse() : make(letter);
}

}  // namespace

void set_command_start_hook(CommandStartHook hook) { command_start_hook = hook; }

void begin_line() {
  s().lex_state = LexState::Cmd;
  s().line_position = 0;
}

std::string line_for_report() {
  const char* line = s().command_buffer;
  return std::string(line, std::strcspn(line, "\n"));
}

Lexeme next_token() {
  core::Session& session = s();
  if (session.line_position < 0 ||
      static_cast<std::size_t>(session.line_position) >= sizeof session.command_buffer)
    return refuse();
  switch (session.lex_state) {
    case LexState::Cmd:
      return command_word();
    case LexState::SiteCmd:
      if (peek() == ' ') {
        ++session.line_position;
        return make(kSP);
      }
      return site_word();
    case LexState::Args:
      return args_token();
    case LexState::Str1:
      return blank_then(LexState::Str2);
    case LexState::Zstr1:
      return blank_then(LexState::Zstr2);
    case LexState::Ostr:
      if (peek() == '\n') return end_of_line();
      return blank_then(LexState::Str2);
    case LexState::Zstr2:
      if (peek() == '\n') return end_of_line();
      return string_token();
    case LexState::Str2:
      return string_token();
    case LexState::Nstr:
      if (peek() == ' ') {
        ++session.line_position;
        return make(kSP);
      }
      if (std::isdigit(static_cast<unsigned char>(peek()))) {
        Lexeme number = number_token();
        session.lex_state = LexState::Str1;
        return number;
      }
      session.lex_state = LexState::Str1;
      return blank_then(LexState::Str2);
  }
  core::fatal("Unknown state.");
}

}  // namespace protocol
