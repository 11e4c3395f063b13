// The last-online list (SITE LASTON and the entry each session leaves at
// logout) and SITE SEEN, the last login of one user.
#include <string>
#include <vector>

#include "core/session.h"
#include "core/strings.h"
#include "releases/bulletin_entries.h"
#include "site/account_support.h"
#include "site/bulletin_commands.h"
#include "text/cookie_values.h"
#include "text/list_directives.h"
#include "userdb/userfile.h"

namespace site {
namespace {

constexpr int kCode = 200;

enum Strings {
  kSeenUsage = 202,
  kNoSuchUser = 311,
  kCannotLoad = 370,
  kSeen = 466,
};

// A session that only looked around, when the site records only sessions
// that did something.
bool did_nothing(const core::Session& s) {
  return s.session_files_up == 0 && s.session_files_down == 0 && !s.added_user && !s.nuked;
}

}  // namespace

void record_last_online(time_t logout) {
  const std::optional<releases::BulletinFile> file = releases::bulletin_file("lastonline");
  const core::Session& s = core::session();
  if (!file || (file->third > 0 && did_nothing(s))) return;
  releases::SessionSummary summary;
  summary.user = s.user.name;
  summary.group = s.user.groups[0];
  summary.tagline = s.user.tagline;
  summary.login = s.login_time;
  summary.logout = logout;
  summary.bytes_up = s.session_bytes_up;
  summary.bytes_down = s.session_bytes_down;
  summary.files_up = s.session_files_up;
  summary.files_down = s.session_files_down;
  summary.lost = s.session_lost != 0;
  summary.timed_out = s.timed_out != 0;
  summary.added_user = s.added_user != 0;
  summary.nuked = s.nuked != 0;
  (void)releases::add_to_list(file->path, file->maximum, releases::last_online_entry(summary));
}

}  // namespace site

namespace site::commands {

int site_laston(const CommandArgs&) { return show_bulletin("laston", text::show_last_online_list); }

int site_seen(const CommandArgs& args) {
  if (bare_form(args)) {
    core::string_reply(kCode, kSeenUsage, 0);
    return 0;
  }
  const std::vector<std::string> words = argument_words(*args.text);
  const std::string name = words.empty() ? std::string() : words[0];
  if (!addressable_user(name) || !userdb::user_exists(name.c_str())) {
    core::string_reply(kCode, kNoSuchUser, 0, name);
    return 1;
  }
  const core::Session& s = core::session();
  int32_t last_login = s.user.last_login;
  if (name != s.user.name) {
    if (userdb::load_user(name.c_str()) != 0) {
      core::string_reply(kCode, kCannotLoad, 0, name);
      return 1;
    }
    last_login = userdb::work_user().last_login;
  }
  core::string_reply(kCode, kSeen, 0, name, text::ctime_text(last_login));
  return 0;
}

}  // namespace site::commands
