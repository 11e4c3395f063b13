// Recursive-descent command grammar. Each command reads its argument form
// token by token (the lexer state follows the command word), then runs the
// row's action: login check, failure tracking, admission, handler.
#include "protocol/grammar.h"

#include <arpa/inet.h>

#include <cstring>

#include "config/access_rules.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "text/command_access.h"
#include "protocol/command_table.h"
#include "protocol/lexer.h"

namespace protocol {
namespace {

core::Session& s() { return core::session(); }

Handler handler_override = nullptr;

int call_handler(const CommandEntry& entry, const CommandArgs& args) {
  return handler_override != nullptr ? handler_override(args) : entry.handler(args);
}

class Parser {
 public:
  // Parses one command and runs it; false after a syntax error. `token`
  // receives the command word's token.
  bool parse(int& token);

 private:
  const Lexeme& peek() {
    if (!has_lookahead_) {
      lookahead_ = next_token();
      has_lookahead_ = true;
    }
    return lookahead_;
  }
  Lexeme take() {
    peek();
    has_lookahead_ = false;
    return std::move(lookahead_);
  }
  bool accept(int token) {
    if (peek().token != token) return false;
    take();
    return true;
  }

  bool bare(const CommandEntry& entry, bool needs_login);
  bool with_string(const CommandEntry& entry, bool needs_login);
  bool optional_string(const CommandEntry& entry);
  bool pass(const CommandEntry& entry);
  bool port(const CommandEntry& entry);
  bool type(const CommandEntry& entry);
  bool letter_command(const CommandEntry& entry, std::initializer_list<Token> letters);
  bool allo(const CommandEntry& entry);
  bool rest(const CommandEntry& entry);
  bool site();
  bool site_arguments(const CommandEntry& entry, CommandArgs& args, bool& bare_form);

  Lexeme lookahead_;
  bool has_lookahead_ = false;
};

char letter_of(int token) {
  static constexpr char kLetters[] = "ABCEFILNPRST";
  return token >= kA && token <= kT ? kLetters[token - kA] : 0;
}

void run_action(const CommandEntry& entry, const CommandArgs& args, bool allowed) {
  core::Session& session = s();
  if (entry.tracks_failure) session.command_failed = 1;
  if (!allowed || entry.handler == nullptr) return;
  if ((entry.token == kRETR || entry.token == kSTOR || entry.token == kAPPE) &&
      !transfer_admitted(entry.token))
    return;
  const int result = call_handler(entry, args);
  if (entry.tracks_failure) session.command_failed = result;
}

bool site_access_allowed(const CommandEntry& entry, bool bare_form) {
  const char* key = bare_form ? entry.bare_key : entry.argument_key;
  if (key == nullptr) return true;
  core::Session& session = s();
  // The status line stays allowed once the rule has allowed it.
  if (entry.token == kSTAT) {
    if (session.statline_allowed) return true;
    if (!text::command_allowed(key)) return false;
    session.statline_allowed = 1;
    return true;
  }
  return text::command_allowed(key) != 0;
}

bool Parser::bare(const CommandEntry& entry, bool needs_login) {
  const bool allowed = !needs_login || check_login();
  if (!accept(kCRLF)) return false;
  CommandArgs args;
  args.command = entry.name;
  run_action(entry, args, allowed);
  return true;
}

bool Parser::with_string(const CommandEntry& entry, bool needs_login) {
  const bool allowed = !needs_login || check_login();
  if (!accept(kSP) || peek().token != kSTRING) return false;
  CommandArgs args;
  args.command = entry.name;
  args.text = take().text;
  if (!accept(kCRLF)) return false;
  run_action(entry, args, allowed);
  return true;
}

bool Parser::optional_string(const CommandEntry& entry) {
  const bool allowed = check_login();
  CommandArgs args;
  args.command = entry.name;
  if (!accept(kCRLF)) {
    if (!accept(kSP) || peek().token != kSTRING) return false;
    args.text = take().text;
    if (!accept(kCRLF)) return false;
  }
  run_action(entry, args, allowed);
  return true;
}

bool Parser::pass(const CommandEntry& entry) {
  if (!accept(kSP)) return false;
  CommandArgs args;
  args.command = entry.name;
  args.text = peek().token == kSTRING ? take().text : std::string();
  if (!accept(kCRLF)) return false;
  run_action(entry, args, true);
  return true;
}

bool Parser::port(const CommandEntry& entry) {
  const bool allowed = check_login();
  if (!accept(kSP)) return false;
  unsigned char bytes[6];
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && !accept(kCOMMA)) return false;
    if (peek().token != kNUMBER) return false;
    bytes[i] = static_cast<unsigned char>(take().number % 256);
  }
  if (!accept(kCRLF)) return false;
  CommandArgs args;
  args.command = entry.name;
  in_addr host{};
  std::memcpy(&host, bytes, 4);
  args.host_port = core::NetAddress::from_ipv4(host, static_cast<uint16_t>(bytes[4] << 8 | bytes[5]));
  run_action(entry, args, allowed);
  return true;
}

bool Parser::type(const CommandEntry& entry) {
  if (!accept(kSP)) return false;
  CommandArgs args;
  args.command = entry.name;
  const int letter = take().token;
  args.type_code = letter_of(letter);
  switch (letter) {
    case kA:
    case kE:
      if (accept(kSP)) {
        const int form = take().token;
        if (form != kN && form != kT && form != kC) return false;
        args.form_code = letter_of(form);
      }
      break;
    case kI:
      break;
    case kL:
      accept(kSP);
      if (peek().token != kNUMBER) return false;
      args.number = take().number;
      break;
    default:
      return false;
  }
  if (!accept(kCRLF)) return false;
  run_action(entry, args, true);
  return true;
}

bool Parser::letter_command(const CommandEntry& entry, std::initializer_list<Token> letters) {
  if (!accept(kSP)) return false;
  const int letter = take().token;
  bool known = false;
  for (Token candidate : letters) known = known || candidate == letter;
  if (!known || !accept(kCRLF)) return false;
  CommandArgs args;
  args.command = entry.name;
  args.type_code = letter_of(letter);
  run_action(entry, args, true);
  return true;
}

bool Parser::allo(const CommandEntry& entry) {
  if (!accept(kSP) || peek().token != kNUMBER) return false;
  CommandArgs args;
  args.command = entry.name;
  args.number = take().number;
  if (accept(kSP)) {
    if (!accept(kR) || !accept(kSP) || peek().token != kNUMBER) return false;
    args.record_size = take().number;
  }
  if (!accept(kCRLF)) return false;
  run_action(entry, args, true);
  return true;
}

bool Parser::rest(const CommandEntry& entry) {
  if (!accept(kSP) || peek().token != kNUMBER) return false;
  CommandArgs args;
  args.command = entry.name;
  args.number = take().number;
  if (!accept(kCRLF)) return false;
  run_action(entry, args, true);
  return true;
}

bool Parser::site_arguments(const CommandEntry& entry, CommandArgs& args, bool& bare_form) {
  const unsigned forms = entry.site_forms;
  bare_form = false;
  if (peek().token == kCRLF) {
    take();
    bare_form = true;
    return (forms & kBareForm) != 0;
  }
  if (!accept(kSP)) return false;
  if (forms & kModePathForm) {
    if (peek().token != kNUMBER) return false;
    args.mode = static_cast<int>(octal_number(take().number));
    if (!accept(kSP) || peek().token != kSTRING) return false;
    args.text = take().text;
  } else if (forms & kNumberForm) {
    if (peek().token != kNUMBER) return false;
    args.number = take().number;
  } else if (forms & kStringForm) {
    if (peek().token != kSTRING) return false;
    args.text = take().text;
  } else {
    return false;
  }
  return accept(kCRLF);
}

bool Parser::site() {
  if (!accept(kSP)) return false;
  const Lexeme word = take();
  if (word.entry == nullptr) return false;
  const CommandEntry& entry = *word.entry;
  const bool logged_in = check_login();
  CommandArgs args;
  args.command = entry.name;
  bool bare_form = false;
  if (!site_arguments(entry, args, bare_form)) return false;

  core::Session& session = s();
  if (entry.tracks_failure) session.command_failed = 1;
  if (!logged_in || !site_access_allowed(entry, bare_form)) return true;
  const int result = call_handler(entry, args);
  if (entry.tracks_failure) session.command_failed = result;
  return true;
}

bool Parser::parse(int& token) {
  const Lexeme word = take();
  if (word.entry == nullptr) return false;
  const CommandEntry& entry = *word.entry;
  token = entry.token;
  switch (entry.token) {
    case kUSER:
    case kIDNT:
      return with_string(entry, false);
    case kPASS:
      return pass(entry);
    case kQUIT:
    case kABOR:
    case kSYST:
    case kNOOP:
    case kFEAT:
      return bare(entry, false);
    case kOPTS:
      return with_string(entry, false);
    case kPASV:
    case kPWD:
    case kCDUP:
      return bare(entry, true);
    case kPORT:
      return port(entry);
    case kTYPE:
      return type(entry);
    case kSTRU:
      return letter_command(entry, {kF, kR, kP});
    case kMODE:
      return letter_command(entry, {kS, kB, kC});
    case kALLO:
      return allo(entry);
    case kREST:
      return rest(entry);
    case kRETR:
    case kSTOR:
    case kAPPE:
    case kRNFR:
    case kRNTO:
    case kDELE:
    case kMKD:
    case kRMD:
    case kSTOU:
    case kSIZE:
    case kMDTM:
    case kEPRT:
    case kPRET:
      return with_string(entry, true);
    case kCWD:
    case kLIST:
    case kNLST:
    case kSTAT:
    case kHELP:
    case kEPSV:
    case kMLSD:
    case kMLST:
      return optional_string(entry);
    case kSITE:
      return site();
    default:
      return false;
  }
}

}  // namespace

bool transfer_admitted(int token) {
  const core::Session& session = s();
  const bool download = token == kRETR;
  const auto direction = download ? online::Direction::Download : online::Direction::Upload;
  const int own_limit = download ? session.user.max_sim_down : session.user.max_sim_up;
  if (own_limit >= 0 && online::online_transfers_full(session.user.name, own_limit, direction)) {
    core::string_reply(553, download ? 172 : 171, 0);
    return false;
  }
  const int site_limit = download ? session.sim_downloads : session.sim_uploads;
  const bool exempt = std::strchr(session.user.flags, '4') != nullptr;
  if (site_limit >= 0 && !exempt && online::online_transfers_full(nullptr, site_limit, direction)) {
    core::string_reply(553, download ? 170 : 169, 0);
    return false;
  }
  return true;
}

int check_login() {
  core::Session& session = s();
  if (session.logged_in) return 1;
  core::string_reply(530, 8, 0);
  session.error_reported = 1;
  // Post-command scripts follow only commands that ran.
  session.command_failed = 1;
  return 0;
}

long long octal_number(long long decimal) {
  long long result = 0;
  long long place = 1;
  if (decimal < 0) return -1;
  do {
    const long long digit = decimal % 10;
    if (digit > 7) return -1;
    result += digit * place;
    place *= 8;
    decimal /= 10;
  } while (decimal > 0);
  return result;
}

void set_handler_override(Handler handler) { handler_override = handler; }

void run_command_line() {
  core::Session& session = s();
  begin_line();
  Parser parser;
  int token = kEndOfInput;
  if (!parser.parse(token)) {
    if (!session.error_reported) core::string_reply(500, 5, 0, line_for_report());
    session.error_reported = 1;
    session.command_failed = 1;
    session.lex_state = core::LexState::Cmd;
    return;
  }
  // REST and RNFR only reach the one command that follows them.
  if (token != kREST && token != kRNFR) {
    session.restart_point = 0;
    session.rename_from.clear();
  }
}

}  // namespace protocol
