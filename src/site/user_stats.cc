// SITE STATS: one "%suser.stats" screen per statistics section, with the
// named user standing in for the session user so that the user cookies
// show his figures section by section.
#include <strings.h>

#include <string>
#include <vector>

#include "config/config_store.h"
#include "core/session.h"
#include "core/stand_in_user.h"
#include "core/strings.h"
#include "site/admin_scope.h"
#include "site/argument_words.h"
#include "site/statistics_commands.h"
#include "site/target_names.h"
#include "text/text_file.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr int kDone = 7;
constexpr int kNoSuchUser = 251;

void show_sections() {
  core::Session& s = core::session();
  const config::ConfigEntry* cursor = nullptr;
  int number = 0;
  for (; number < core::kMaxSections; ++number) {
    const config::ConfigEntry* line = config::next_config("stat_section", cursor);
    if (!line || !line->arg(2)) break;
    s.current_section = number;
    s.shown_credit_section = line->arg(3) && strcasecmp(line->arg(3), "yes") == 0 ? number : 0;
    const std::string name = line->arg(1);
    text::show_text(kCode, "%suser.stats", name == "DEFAULT" ? std::string() : name);
  }
}

}  // namespace

int site_stats(const CommandArgs& args) {
  const std::vector<std::string> words = args.text ? argument_words(*args.text) : std::vector<std::string>();
  const std::string name = words.empty() ? std::string(acting_name()) : words[0];
  const std::optional<core::UserRecord> user = shown_user(name, kNoSuchUser);
  if (!user) return 1;
  {
    const core::StandInUser stand_in(*user);
    show_sections();
  }
  core::string_reply(kCode, kDone, 0);
  return 0;
}

}  // namespace site::commands
