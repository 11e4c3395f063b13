// SITE DUPE, UNDUPE, PREDUPE and XDUPE over the dupe stores.
#include "site/dupe_commands.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/path_text.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "releases/dupe_file.h"
#include "releases/dupe_log.h"
#include "text/text_file.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
constexpr int kMaxXdupeLevel = 4;
// What a level above the known ones (or a negative one) becomes.
constexpr int kFallbackXdupeLevel = 3;

// A bare form: the help text, then the usual closing line.
int show_usage(const char* help_name) {
  text::show_help(200, help_name);
  core::string_reply(200, kDone, 0);
  return 0;
}

bool bare(const CommandArgs& args) { return !args.text || args.text->empty(); }

// The SITE XDUPE argument as a number the way atoi reads it: leading blanks
// and a sign, then digits; anything else reads as 0 (off).
long long xdupe_argument(const std::string& text) {
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return value < 0 ? LLONG_MIN : LLONG_MAX;
  return value;
}

}  // namespace

int site_dupe(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.dupe");
  const releases::DupeLogSearch found = releases::search_dupelog(*args.text);
  switch (found.error) {
    case 0:
      break;
    case 359:
    case 360:
      core::string_reply(501, found.error, 0, found.option);
      return 1;
    case 364:
      core::string_reply(550, found.error, 0);
      return 1;
    default:
      core::string_reply(501, found.error, 0);
      return 1;
  }
  for (const std::string& line : found.lines) core::lreply(200, "%s", line);
  core::string_reply(200, 365, 1, static_cast<long long>(found.lines.size()), found.matches,
                     found.lines_read);
  core::string_reply(200, kDone, 0);
  return 0;
}

int site_undupe(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.undupe");
  // Wildcards stay patterns here: "SITE UNDUPE *.zip" frees every zip.
  const std::vector<std::string> freed = releases::dupe_remove(*args.text, false);
  for (const std::string& name : freed) core::string_reply(200, 245, 1, name);
  // The count is reported only when the name was looked for at all: not
  // with checking off, nor for a name of an ignored type.
  const std::string_view name = core::last_component(*args.text);
  if (releases::dupe_check_setting().on() && !name.empty() && !releases::ignored_type(name))
    core::string_reply(200, 246, 1, static_cast<long long>(freed.size()));
  core::string_reply(200, kDone, 0);
  return 0;
}

int site_predupe(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.predupe");
  if (releases::dupe_add(*args.text)) {
    core::string_reply(200, kDone, 0);
    return 0;
  }
  core::string_reply(200, 243, 0, *args.text);
  return 1;
}

int site_xdupe(const CommandArgs& args) {
  core::Session& s = core::session();
  if (bare(args)) {
    if (s.xdupe_level != 0)
      core::string_reply(200, 247, 0, s.xdupe_level);
    else
      core::string_reply(200, 248, 0);
    return 0;
  }
  const long long wanted = xdupe_argument(*args.text);
  if (wanted == 0) {
    s.xdupe_level = 0;
    core::string_reply(200, 250, 0);
    return 0;
  }
  s.xdupe_level = wanted > 0 && wanted <= kMaxXdupeLevel ? static_cast<int>(wanted) : kFallbackXdupeLevel;
  core::string_reply(200, 249, 0, s.xdupe_level);
  return 0;
}

}  // namespace site::commands
