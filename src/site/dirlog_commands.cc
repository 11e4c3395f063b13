// SITE NEW, SEARCH and UPDATE over the directory log; NUKES and UNNUKES
// over the nuke log.
#include "site/dirlog_commands.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "releases/dirlog.h"
#include "text/list_directives.h"
#include "text/text_file.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
constexpr int kSearchHeader = 259;
constexpr int kSearchMatch = 260;
constexpr int kSearchEnd = 261;
constexpr int kUpdateFailed = 316;
// NEW, NUKES and UNNUKES list this many entries unless told otherwise.
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

// NUKES and UNNUKES: "<list>.head", the newest entries, "<list>.foot".
int show_nuke_list(const CommandArgs& args, const char* list, int (*show_rows)(int code, int count)) {
  text::show_text(200, "%s.head", list);
  show_rows(200, bare(args) ? kDefaultNewCount : count_argument(*args.text));
  text::show_text(200, "%s.foot", list);
  core::string_reply(200, kDone, 0);
  return 0;
}

}  // namespace

int site_new(const CommandArgs& args) {
  const NewRequest request = new_request(args);
  text::show_text(200, "new.head");
  text::show_recent_directories(200, request.count, request.from_cwd ? "." : "");
  text::show_text(200, "new.foot");
  core::string_reply(200, kDone, 0);
  return 0;
}

int site_nukes(const CommandArgs& args) { return show_nuke_list(args, "nukes", text::show_recent_nukes); }

int site_unnukes(const CommandArgs& args) { return show_nuke_list(args, "unnukes", text::show_recent_unnukes); }

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
