// `site_cmd` commands of type TEXT and EXEC.
#include "site/custom_commands.h"

#include <strings.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/argument_words.h"
#include "text/command_access.h"
#include "text/external.h"
#include "text/show_file.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
constexpr int kNeedsLogin = 8;
constexpr int kDenied = 22;
constexpr int kCommandFailed = 467;
constexpr int kStartFailed = 550;
constexpr int kNothingSent = 530;
constexpr long kDefaultLineLimit = 9999;
// The longest command line, program and both argument parts together.
constexpr std::size_t kCommandLineLimit = 8191;
constexpr std::size_t kOutputLineLimit = 8191;
// What close_command reports for a program SIGPIPE ended.
constexpr int kEndedBySigpipe = 128 + SIGPIPE;

std::string lower_case(const char* text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

long line_limit() {
  const char* value = config::config_value("max_sitecmd_lines");
  const long limit = value ? std::strtol(value, nullptr, 10) : 0;
  return limit < 1 ? kDefaultLineLimit : limit;
}

// The typed words that fit the command line after `configured` and a blank;
// a word that does not fit whole is cut, as the line would be.
std::vector<std::string> typed_words(const std::string& configured, const char* arguments) {
  std::vector<std::string> words;
  if (arguments == nullptr) return words;
  std::size_t length = configured.size();
  for (std::string& word : argument_words(arguments)) {
    if (length + 1 >= kCommandLineLimit) break;
    length += 1;
    if (length + word.size() > kCommandLineLimit) word.resize(kCommandLineLimit - length);
    length += word.size();
    words.push_back(std::move(word));
  }
  return words;
}

int run_program(int code, const char* program, const char* fixed, const char* arguments) {
  const std::string configured = std::string(program) + " " + (fixed ? fixed : "");
  const std::vector<std::string> typed = typed_words(configured, arguments);
  std::FILE* output = text::run_command(configured, typed);
  if (output == nullptr) {
    core::perror_reply(kStartFailed, program);
    return 1;
  }

  const long limit = line_limit();
  long sent = 0;
  bool truncated = false;
  std::string line;
  while (text::read_output_line(output, line, kOutputLineLimit)) {
    core::lreply(code, "%s", line);
    if (++sent >= limit) {
      core::lreply(code, "*** Truncated ***");
      truncated = true;
      break;
    }
  }
  int status = text::close_command(output);
  // Cut off, a program still writing dies of SIGPIPE; whether it was still
  // writing is a matter of timing, not of its success.
  if (truncated && status == kEndedBySigpipe) status = 0;

  if (status == 0)
    core::string_reply(code, kDone, 0);
  else
    core::string_reply(sent > 0 ? code : kNothingSent, kCommandFailed, 0);

  // The program may have changed the user's own userfile (a tagline, a
  // flag); the session goes on with what it wrote.
  userdb::load_user(core::session().user.name);
  return status == 0 ? 0 : 1;
}

}  // namespace

int run_site_command(int code, const config::ConfigEntry& line, const char* arguments) {
  const char* word = line.arg(1);
  const char* type = line.arg(2);
  const char* target = line.arg(3);
  if (word == nullptr) return 1;
  const std::string key = "custom-" + lower_case(word);
  if (!text::command_allowed(key.c_str())) return 1;

  if (type == nullptr || target == nullptr) type = "";
  if (::strcasecmp(type, "TEXT") == 0) {
    text::show_file(code, target);
    core::string_reply(code, kDone, 0);
    return 0;
  }
  if (::strcasecmp(type, "EXEC") == 0) return run_program(code, target, line.arg(4), arguments);

  if (core::session().logged_in)
    core::string_reply(code, kDenied, 0);
  else
    core::string_reply(kNothingSent, kNeedsLogin, 0);
  return 1;
}

}  // namespace site::commands
