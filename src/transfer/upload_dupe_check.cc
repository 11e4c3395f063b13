// The pre-check script and the dupe lookup of an upload.
//
// The script's lines are held back rather than sent as they come: whether
// the reply they belong to is a 553 refusal or the 150 that opens the
// transfer is known only once the script has ended, and a multi-line reply
// must carry one code throughout.
#include "transfer/upload_dupe_check.h"

#include <sys/stat.h>

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "config/config_store.h"
#include "core/logs.h"
#include "core/match.h"
#include "core/path_text.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "releases/age_text.h"
#include "releases/dupe_file.h"
#include "text/external.h"

namespace transfer {
namespace {

constexpr int kRefused = 553;

// What became of the pre-check.
enum class PreCheck { Passed, Refused, Unstartable };

// The script of the first `pre_check` line that applies to `path`: one
// without a pattern, or whose pattern matches the path (case counts).
const char* pre_check_script(const std::string& path) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("pre_check", cursor)) {
    if (!line->arg(1)) continue;
    if (!line->arg(2) || core::wildcard_match(line->arg(2), path, true)) return line->arg(1);
  }
  return nullptr;
}

// The directory part of an upload path: up to its last "/", "/" for a
// file in the root.
std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

PreCheck run_pre_check(const std::string& path, const std::string& name) {
  const char* script = pre_check_script(path);
  struct stat st{};
  if (!script || ::stat(script, &st) != 0) return PreCheck::Passed;

  std::FILE* output = text::run_script(script, {name, directory_of(path)});
  if (!output) {
    core::error_log("Unable to execute pre_check script '%s'", script);
    return PreCheck::Unstartable;
  }
  core::hold_continuations(true);
  std::string line;
  while (text::read_output_line(output, line)) {
    // "#0" marks a line meant for a passing upload; held lines all take
    // the code of the reply that follows, so only the mark goes.
    const std::string_view shown = line.compare(0, 2, "#0") == 0 ? std::string_view(line).substr(2)
                                                                 : std::string_view(line);
    core::lreply(kRefused, "%s", shown);
  }
  const int status = text::close_command(output);
  core::hold_continuations(false);
  if (status == 1) {
    core::string_reply(kRefused, 56, 0, name);
    return PreCheck::Refused;
  }
  if (status >= 2) {
    core::string_reply(kRefused, 55, 0, name);
    return PreCheck::Refused;
  }
  return PreCheck::Passed;
}

// The X-DUPE lines for the upload's directory, as continuation lines.
void report_existing_files(const std::string& path, int level) {
  const std::optional<std::vector<std::string>> names = releases::xdupe_names(directory_of(path));
  if (!names) {
    core::lreply(kRefused, "local system error: opendir()");
    return;
  }
  for (const std::string& line : releases::xdupe_lines(*names, level)) core::lreply(kRefused, "%s", line);
}

}  // namespace

bool upload_dupe_check(const std::string& path, bool claim, bool& recorded) {
  recorded = false;
  const std::string name(core::last_component(path));
  switch (run_pre_check(path, name)) {
    case PreCheck::Refused:
      return true;
    case PreCheck::Unstartable:
      // A script that cannot be started refuses nothing.
      return false;
    case PreCheck::Passed:
      break;
  }

  const releases::DupeCheck check = releases::dupe_check_setting();
  if (!check.on() || releases::ignored_type(name)) return false;
  const time_t cutoff = releases::dupe_cutoff(check.days);
  std::optional<releases::DupeHit> hit;
  if (claim) {
    releases::DupeClaim claimed = releases::dupe_claim(path, cutoff, check.ignore_case);
    recorded = claimed.recorded;
    hit = std::move(claimed.hit);
  } else {
    hit = releases::dupe_find(name, cutoff, check.ignore_case);
  }
  if (!hit) return false;

  const int level = core::session().xdupe_level;
  if (level != 0) report_existing_files(path, level);
  core::string_reply(kRefused, 20, 1, name);
  core::string_reply(kRefused, 21, 0, hit->uploader, releases::age_since(hit->time));
  return true;
}

}  // namespace transfer
