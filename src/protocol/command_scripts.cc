// cscript pre and post hooks.
#include "protocol/command_scripts.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/reply.h"
#include "core/strings.h"
#include "text/external.h"

namespace protocol {
namespace {

const core::CustomScript* find_script(int when, std::string_view line) {
  for (const core::CustomScript& script : core::session().cscripts)
    if (script.when == when && script_matches(script, line)) return &script;
  return nullptr;
}

// The password of a line as the debug log shows it: the word "password"
// in its place. PASS takes it as its argument; the SITE commands that set
// one take it as the word after their other arguments.
std::string without_password(std::string_view line) {
  std::vector<std::string> words;
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    if (end > at) words.emplace_back(line.substr(at, end - at));
    at = end + 1;
  }
  const auto is = [&](std::size_t index, const char* word) {
    return words.size() > index && ::strcasecmp(words[index].c_str(), word) == 0;
  };
  std::size_t password = 0;
  if (is(0, "PASS")) return "PASS password";
  if (is(0, "SITE")) {
    if (is(1, "PASSWD")) password = 2;
    if (is(1, "ADDUSER") || is(1, "CHPASS")) password = 3;
    if (is(1, "GADDUSER")) password = 4;
  }
  if (password == 0 || words.size() <= password) return std::string(line);
  words[password] = "password";
  std::string masked = words[0];
  for (std::size_t i = 1; i < words.size(); ++i) masked += " " + words[i];
  return masked;
}

std::FILE* start_script(const core::CustomScript& script, std::string_view line) {
  const core::Session& s = core::session();
  return text::run_script(script.script, {without_password(line), s.user.name, s.user.groups[0]});
}

// One output line of a pre-command script: its reply code and the text
// from the fourth character on.
struct HeldLine {
  int code = 0;
  std::string text;
};

HeldLine split_output_line(const std::string& line) {
  HeldLine held;
  for (std::size_t i = 0; i < 3 && i < line.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) break;
    held.code = held.code * 10 + (line[i] - '0');
  }
  if (line.size() > 3) held.text = line.substr(3);
  return held;
}

}  // namespace

bool script_matches(const core::CustomScript& script, std::string_view line) {
  const std::size_t length = std::strlen(script.command);
  if (length == 0 || line.size() < length) return false;
  if (::strncasecmp(script.command, line.data(), length) != 0) return false;
  return line.size() == length || line[length] == ' ' || line[length] == '\r' ||
         line[length] == '\n';
}

bool run_pre_command_script(std::string_view line) {
  const core::CustomScript* script = find_script(1, line);
  if (script == nullptr) return true;
  // A missing script is ignored; one that exists but cannot run refuses.
  struct stat st {};
  if (::stat(script->script, &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return true;
  std::FILE* output = start_script(*script, line);
  if (output == nullptr) return true;  // a script that cannot start is ignored

  // The script's lines go out with the code of the reply that ends the
  // command, whatever code the script gave them: clients take a change of
  // code within one reply for a reply of its own.
  core::hold_continuations(true);
  std::optional<HeldLine> held;
  std::string text_line;
  while (text::read_output_line(output, text_line, 8191)) {
    if (held) core::lreply(held->code, "%s", held->text);
    held = split_output_line(text_line);
  }
  const int status = text::close_command(output);
  if (status == 0 && held && !held->text.empty()) core::lreply(held->code, "%s", held->text);
  core::hold_continuations(false);
  if (status == 0) return true;

  core::session().pre_script_status = status;
  if (held && held->code != 0)
    core::reply(held->code, "%s", held->text);
  else
    core::string_reply(500, 227, 0);
  return false;
}

void run_post_command_script(std::string_view line) {
  const core::CustomScript* script = find_script(2, line);
  if (script == nullptr) return;
  if (std::FILE* output = start_script(*script, line)) {
    std::string ignored;
    while (text::read_output_line(output, ignored, 8191)) {
    }
    text::close_command(output);
  }
}

}  // namespace protocol
