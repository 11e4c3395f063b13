// SITE WELCOME. Login shows only the first `welcome_msg` file meant for the
// user; asked for, every one meant for him is shown, in configuration
// order.
#include "site/welcome.h"

#include <unistd.h>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/strings.h"
#include "text/text_file.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
constexpr int kCannotShow = 197;

}  // namespace

int site_welcome(const CommandArgs&) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("welcome_msg", cursor)) {
    if (line->arg(2) == nullptr || !config::acl_match("welcome_msg", 2, line)) continue;
    const char* path = line->arg(1);
    if (::access(path, R_OK) != 0 || text::show_text_file(200, path) == 0)
      core::string_reply(200, kCannotShow, 1);
  }
  core::string_reply(200, kDone, 0);
  return 0;
}

}  // namespace site::commands
