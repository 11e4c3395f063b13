// Which command lines carry passwords, found the way the command reader
// finds the command: the first word, and after SITE the sub-command word
// with its alias resolved.
#include "protocol/secret_lines.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "config/config_store.h"

namespace protocol {
namespace {

constexpr std::string_view kSeparators = " \r\n";

// Sub-commands whose arguments hold a password.
constexpr std::array<std::string_view, 4> kPasswordSubCommands = {"ADDUSER", "GADDUSER", "CHPASS",
                                                                  "PASSWD"};

std::string upper(std::string_view word) {
  std::string result(word);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

// The sub-command a SITE word runs: an "is" alias runs its target.
std::string sub_command(std::string_view word) {
  const std::string typed(word);
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("site_cmd", cursor)) {
    const char* name = line->arg(1);
    if (name == nullptr || ::strcasecmp(name, typed.c_str()) != 0) continue;
    const char* type = line->arg(2);
    const char* target = line->arg(3);
    if (type != nullptr && target != nullptr && ::strcasecmp(type, "is") == 0) return upper(target);
    break;
  }
  return upper(word);
}

bool password_sub_command(std::string_view word) {
  const std::string command = sub_command(word);
  for (const std::string_view secret : kPasswordSubCommands)
    if (command == secret) return true;
  return false;
}

}  // namespace

std::size_t shown_length(std::string_view line) {
  const std::size_t word_end = std::min(line.find_first_of(kSeparators), line.size());
  const std::string first = upper(line.substr(0, word_end));
  if (first == "PASS") return word_end;
  if (first != "SITE") return std::string_view::npos;
  const std::size_t sub_start = line.find_first_not_of(' ', word_end);
  if (sub_start == std::string_view::npos) return std::string_view::npos;
  const std::size_t sub_end = std::min(line.find_first_of(kSeparators, sub_start), line.size());
  if (!password_sub_command(line.substr(sub_start, sub_end - sub_start))) return std::string_view::npos;
  return sub_end;
}

}  // namespace protocol
