// SITE UNNUKE: a release nuked by renaming gets its name back, its
// uploaders get back what the nuke took, and its nuke-log records become
// unnuked. The multiplier comes from the nuke log, else from the marker.
#include <sys/stat.h>

#include <optional>
#include <string>

#include "config/access_rules.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "releases/dirlog.h"
#include "releases/nuke_settings.h"
#include "releases/nukelog.h"
#include "site/account_support.h"
#include "site/nuke_accounting.h"
#include "site/nuke_arguments.h"
#include "site/nuke_commands.h"
#include "site/nuke_report.h"
#include "site/nuke_tree.h"
#include "text/bot_announce.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr int kDone = 7;
constexpr int kBadArguments = 275;
constexpr int kNukeRefused = 277;
constexpr int kUnreadable = 279;
constexpr int kNotUndoable = 280;
constexpr int kRenameFailed = 281;
constexpr int kOutsideArea = 512;
constexpr mode_t kUnnukedDirectoryMode = 0777;

struct UnnukeRequest {
  std::string directory;  // as the client named it
  std::string path;       // the release's name before the nuke
  std::string reason;
};

int refuse(int message) {
  core::string_reply(kCode, message, 0);
  return 1;
}

std::optional<UnnukeRequest> unnuke_request(const std::string& text) {
  const NukeArguments arguments = parse_nuke_arguments(text, false);
  if (arguments.directory.empty() || arguments.reason.size() > releases::kMaxNukeReason) {
    refuse(kBadArguments);
    return std::nullopt;
  }
  UnnukeRequest request{arguments.directory, fs::resolve_path(arguments.directory, true),
                        arguments.reason.empty() ? "None" : arguments.reason};
  if (releases::nuke_settings().style != releases::NukeStyle::RenameKeep) {
    refuse(kNotUndoable);
    return std::nullopt;
  }
  if (!config::privpath_allowed(request.path.c_str()) || !fs::inside_home(request.path)) {
    core::string_reply(kCode, kOutsideArea, 0, request.directory);
    return std::nullopt;
  }
  return request;
}

// Gives every uploader back what the nuke took and marks the records.
void refund_uploaders(const UnnukeRequest& request, ReleaseSurvey& survey, long long multiplier) {
  const std::string unnuker = core::session().user.name;
  const ReleaseBooks books = release_books(request.path, multiplier);
  for (Nukee& nukee : survey.table.nukees())
    if (!book_unnuke(nukee, books)) core::error_log("unnuke of %s: userfile of %s not refunded", request.path, nukee.name);
  releases::nukelog_unnuke(request.path, unnuker, request.reason);
  for (const Nukee& nukee : survey.table.nukees())
    log_nuke_event(true, request.path, unnuker, nukee.name, multiplier, nukee.bytes, request.reason);
  send_summary(kCode, SummaryMessages{282, 283, 284}, survey.table, multiplier);
}

int unnuke_locked(const UnnukeRequest& request) {
  core::PrivilegeBracket root;
  const core::UniqueFd lock = releases::lock_nukes();
  if (!lock) {
    core::error_log("unnuke: cannot lock %s.lock: %m", releases::nukelog_path());
    return refuse(kNukeRefused);
  }
  const std::string nuked = releases::nuked_name(request.path);
  struct stat release {};
  if (::lstat(nuked.c_str(), &release) != 0 || !S_ISDIR(release.st_mode)) return refuse(kRenameFailed);
  // Read whole before anything changes, so a release that cannot be
  // walked keeps its nuke.
  ReleaseSurvey survey = survey_release(nuked, true);
  if (!survey.walked) {
    core::string_reply(kCode, kUnreadable, 0, request.directory);
    return 1;
  }
  if (!rename_back(nuked, request.path)) return refuse(kRenameFailed);
  if (::chmod(request.path.c_str(), kUnnukedDirectoryMode) != 0)
    core::error_log("unnuke: cannot set mode 0777 on %s: %m", request.path);
  releases::dirlog_change(request.path, std::nullopt, releases::kDirUnnuked);

  const std::optional<uint16_t> logged = releases::nuke_multiplier_of(request.path);
  const std::optional<long long> marked = remove_markers(request.path);
  const long long multiplier = logged ? *logged : marked.value_or(0);
  mark_subdirectories(request.path, kUnnukedDirectoryMode, releases::kDirUnnuked);
  refund_uploaders(request, survey, multiplier);
  return 0;
}

}  // namespace

int site_unnuke(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.unnuke");
  const std::optional<UnnukeRequest> request = unnuke_request(*args.text);
  if (!request) return 1;
  if (unnuke_locked(*request) != 0) return 1;
  text::announce_directory("UNNUKE", request->path);
  core::string_reply(kCode, kDone, 0);
  return 0;
}

}  // namespace site::commands
