// QUIT and the goodbye text.
#include "session/quit.h"

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "session/logout.h"
#include "session/session_commands.h"
#include "text/text_file.h"
#include "text/user_messages.h"

namespace session {

bool show_goodbye() {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("goodbye_msg", cursor)) {
    if (line->arg(2) == nullptr) continue;
    if (config::acl_match("goodbye_msg", 2, line)) {
      text::show_text_file(221, line->arg(1));
      return true;
    }
  }
  return false;
}

void quit_command() {
  if (core::session().logged_in && show_goodbye())
    core::reply(221, "");
  else
    core::string_reply(221, 173, 0);
  if (core::session().logged_in) text::purge_messages();
  dologout(0);
}

}  // namespace session

namespace session::commands {

int quit(const CommandArgs&) { session::quit_command(); }

}  // namespace session::commands
