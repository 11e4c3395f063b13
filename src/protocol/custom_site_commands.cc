// site_cmd lookup for the SITE word the lexer has just read.
#include "protocol/custom_site_commands.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/session.h"
#include "site/custom_commands.h"
#include "text/command_access.h"

namespace protocol {
namespace {

std::string changed_case(const char* text, int (*convert)(int)) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
  return result;
}

// The rest of the line after the word, as typed, without leading blanks
// and line end; nullptr when nothing follows.
std::string arguments_after_word() {
  const core::Session& s = core::session();
  const char* rest = s.command_buffer + s.line_position;
  rest += std::strspn(rest, " ");
  return std::string(rest, std::strcspn(rest, "\r\n"));
}

}  // namespace

CustomSiteResult resolve_custom_site_command(std::string& word) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("site_cmd", cursor)) {
    const char* name = line->arg(1);
    if (name == nullptr || ::strcasecmp(name, word.c_str()) != 0) continue;
    const char* type = line->arg(2);
    const char* target = line->arg(3);
    if (type == nullptr || target == nullptr) return CustomSiteResult::kBuiltIn;
    if (::strcasecmp(type, "is") != 0) {
      const std::string arguments = arguments_after_word();
      site::commands::run_site_command(200, *line, arguments.empty() ? nullptr : arguments.c_str());
      return CustomSiteResult::kHandled;
    }
    const std::string key = "custom-" + changed_case(name, ::tolower);
    if (!text::command_allowed(key.c_str())) return CustomSiteResult::kHandled;
    word = changed_case(target, ::toupper);
    return CustomSiteResult::kAlias;
  }
  return CustomSiteResult::kBuiltIn;
}

}  // namespace protocol
