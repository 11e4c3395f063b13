// SITE NEW, SEARCH and UPDATE over the directory log.
#include "site/dirlog_commands.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config/text_template.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "releases/age_text.h"
#include "releases/dirlog.h"
#include "text/cookies.h"
#include "text/display_fields.h"
#include "text/text_file.h"
#include "userdb/passwd_file.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
constexpr int kSearchHeader = 259;
constexpr int kSearchMatch = 260;
constexpr int kSearchEnd = 261;
constexpr int kUpdateFailed = 316;
constexpr int kDefaultNewCount = 10;

bool bare(const CommandArgs& args) { return !args.text || args.text->empty(); }

int show_usage(const char* help_name) {
  text::show_help(200, help_name);
  core::string_reply(200, kDone, 0);
  return 0;
}

// The count the way atoi reads it; anything unreadable or below 1 is 0,
// which lists the default number. A huge count just lists everything.
int count_argument(std::string_view text) {
  const long value = std::strtol(std::string(text).c_str(), nullptr, 10);
  return value < 1 ? 0 : static_cast<int>(std::min<long>(value, INT_MAX));
}

struct NewRequest {
  bool from_cwd = false;  // base "." (the current directory), else the home
  int count = kDefaultNewCount;
};

// "" and "N" list below the home, "." and ". N" below the current
// directory.
NewRequest new_request(const CommandArgs& args) {
  NewRequest request;
  if (bare(args)) return request;
  const std::string& text = *args.text;
  if (text.front() == '.') {
    request.from_cwd = true;
    if (text.size() > 1) request.count = count_argument(std::string_view(text).substr(1));
  } else {
    request.count = count_argument(text);
  }
  return request;
}

// The home directory as the passwd file has it.
std::string passwd_home() {
  const core::Session& s = core::session();
  return s.account.dir.empty() ? s.home_dir : s.account.dir;
}

// One entry through the lines of "new.body": the row number is %c, the
// rest are the N listing cookies (Dpath, dname, sfiles/size, muploader,
// aage).
void send_new_row(const releases::NewEntry& row) {
  text::DisplayFields& fields = text::display_fields();
  fields.row = row.number;
  text::set_display_field(1, row.path);
  text::set_display_field(2, row.name);
  text::set_display_field(3, row.files_size);
  text::set_display_field(4, userdb::user_name_for(row.entry.uid));
  text::set_display_field(5, releases::age_since(row.entry.time));
  const config::TextLine* cursor = nullptr;
  while (const config::TextLine* line = config::next_text_line("new.body", cursor))
    core::lreply(200, "%s", text::expand_cookies(200, line->line));
}

}  // namespace

int site_new(const CommandArgs& args) {
  const NewRequest request = new_request(args);
  const std::string base = request.from_cwd ? std::string(core::session().cwd) : passwd_home();
  if (!config::text_template_loaded("new.body")) config::load_text_template("new.body");

  text::show_text(200, "new.head");
  text::clear_display_fields();
  for (const releases::NewEntry& row : releases::dirlog_newest(base, request.count)) send_new_row(row);
  text::show_text(200, "new.foot");
  core::string_reply(200, kDone, 0);
  return 0;
}

int site_search(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.search");
  const std::string& words = *args.text;
  core::string_reply(200, kSearchHeader, 1, words);
  const auto hits = releases::dirlog_search(
      words, [](std::string_view path) { return fs::inside_home(path); });
  // Without a dirlog nothing is found; the client still gets its end line.
  long long matches = 0;
  if (hits) {
    for (const releases::SearchHit& hit : *hits)
      core::string_reply(200, kSearchMatch, 1, fs::visible_path(hit.path), hit.info);
    matches = static_cast<long long>(hits->size());
  }
  core::string_reply(200, kSearchEnd, 0, matches);
  return 0;
}

int site_update(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.update");
  const releases::UpdateResult result = releases::dirlog_update(core::session().cwd, *args.text);
  for (const releases::UpdateLine& line : result.lines) {
    const int number = line.kind == releases::UpdateLine::kNoMatch  ? 313
                       : line.kind == releases::UpdateLine::kUpdated ? 314
                                                                     : 315;
    core::string_reply(200, number, 1, line.text);
  }
  if (!result.ok) {
    core::string_reply(200, kUpdateFailed, 0);
    return 1;
  }
  core::string_reply(200, kDone, 0);
  return 0;
}

}  // namespace site::commands
