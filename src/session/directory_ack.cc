// The final reply of a directory change (CWD, RMD, RNTO): for CWD the new
// place and its texts, for every command the allowed-hours check again.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/format.h"
#include "core/match.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/time_helpers.h"
#include "fs/path.h"
#include "online/online_table.h"
#include "session/base_commands.h"
#include "session/logout.h"
#include "text/directory_totals.h"
#include "text/text_file.h"
#include "text/user_messages.h"
#include "userdb/userfile.h"

namespace session {
namespace {

constexpr int kCode = 250;

void show_news_once(core::Session& s) {
  if (s.news_shown) return;
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("newsfile", cursor)) {
    if (!line->arg(1) || !config::acl_match("newsfile", 2, line)) continue;
    text::show_text_file(kCode, line->arg(1));
    s.news_shown = 1;
  }
}

void show_directory_messages(const char* directory) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("msgpath", cursor)) {
    if (!line->arg(1) || !line->arg(2) || !line->arg(3)) continue;
    if (core::dir_match(line->arg(1), directory, true) && config::acl_match("msgpath", 3, line))
      text::show_text_file(kCode, line->arg(2));
  }
}

void show_directory_descriptions(const char* directory) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("show_diz", cursor)) {
    for (int n = 1; n <= config::kMaxArgs && line->arg(n); ++n) {
      const std::string path = fs::path_join(directory, line->arg(n));
      if (::access(path.c_str(), F_OK) == 0) text::show_text_file(kCode, path.c_str());
    }
  }
}

// The first `show_totals` line with a path matching the directory shows
// its totals; one line at most.
void show_directory_totals(const char* directory) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("show_totals", cursor)) {
    if (!line->arg(1)) continue;
    for (int n = 2; n <= config::kMaxArgs && line->arg(n); ++n) {
      if (!core::dir_match(line->arg(n), directory, true)) continue;
      text::show_directory_totals(kCode, std::atoi(line->arg(1)));
      return;
    }
  }
}

// The new working directory becomes the session's place.
void enter_new_directory(core::Session& s) {
  char directory[4096];
  if (::getcwd(directory, sizeof directory) == nullptr) return;
  std::string section_name;
  s.current_section = config::section_name_of(directory, section_name);
  s.section_index = s.current_section;
  online::set_own_currentdir(directory);
  core::copy_field(s.cwd, directory);
  core::copy_field(s.section_env, core::format("SECTION=%s", {section_name}));

  show_news_once(s);
  show_directory_messages(s.cwd);
  show_directory_descriptions(s.cwd);
  show_directory_totals(s.cwd);

  if (s.cwd_shortcut == 1) {
    const std::string_view cwd = s.cwd;
    const std::size_t slash = cwd.rfind('/');
    core::string_reply(kCode, 23, 1, slash == std::string_view::npos ? cwd : cwd.substr(slash + 1));
  } else if (s.cwd_shortcut == 2) {
    // The text puts the client's "/" in front itself.
    const std::string shown = fs::visible_path(s.cwd);
    core::string_reply(kCode, 24, 1, std::string_view(shown).substr(shown.starts_with('/') ? 1 : 0));
  }
  s.cwd_shortcut = 0;
}

}  // namespace

void directory_ack(const char* command) {
  core::Session& s = core::session();
  if (std::string_view(command) == "CWD") enter_new_directory(s);
  if (!core::in_timeframe(s.user.timeframe_from, s.user.timeframe_to)) {
    core::string_reply(550, 554, 0, s.user.timeframe_from, s.user.timeframe_to);
    dologout(0);
  }
  if (text::has_messages(userdb::Mailbox::Unread)) core::string_reply(kCode, 17, 1);
  core::string_reply(kCode, 9, 0, command);
}

}  // namespace session
