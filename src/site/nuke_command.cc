// SITE NUKE: checks the request, then under the site's nuke lock surveys
// the release (nothing changes when it cannot be read whole), deletes or
// renames it by the site's style, charges its uploaders and records the
// nuke; the bot hears of it last.
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
#include "site/upload_in_progress.h"
#include "text/bot_announce.h"
#include "userdb/passwd_file.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr int kDone = 7;
constexpr int kFilesNotDeleted = 262;
constexpr int kDirectoryNotRemoved = 263;
constexpr int kEmptyNuked = 264;
constexpr int kSeparator = 265;
constexpr int kEmptyCharge = 266;
constexpr int kNoFreeName = 267;
constexpr int kNoDirectory = 271;
constexpr int kMultiplierOutOfRange = 272;
constexpr int kNoMultiplier = 273;
constexpr int kNoReason = 274;
constexpr int kReasonTooLong = 275;
constexpr int kMayNotNuke = 276;
constexpr int kNukeRefused = 277;
constexpr int kNoSuchDirectory = 278;
constexpr int kUnreadable = 279;
constexpr int kOutsideArea = 512;
constexpr int kUploadRefusal = 550;
constexpr int kUploadInProgress = 690;
constexpr mode_t kNukedDirectoryMode = 0555;

struct NukeRequest {
  std::string directory;  // as the client named it
  std::string path;       // resolved, links followed
  long long multiplier = 0;
  std::string reason;
};

int refuse(int message) {
  core::string_reply(kCode, message, 0);
  return 1;
}

std::nullopt_t refused(int message) {
  refuse(message);
  return std::nullopt;
}

bool is_home(const std::string& path) {
  std::string_view home = core::session().home_dir;
  while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
  return path == home || path == "/";
}

// The checks that need no lock; on a refusal the reply is sent and the
// result is empty.
std::optional<NukeRequest> nuke_request(const std::string& text) {
  const NukeArguments arguments = parse_nuke_arguments(text, true);
  if (arguments.directory.empty()) return refused(kNoDirectory);
  const std::optional<long long> multiplier =
      arguments.multiplier ? parse_multiplier(*arguments.multiplier) : std::nullopt;
  if (!multiplier) return refused(kNoMultiplier);
  const std::optional<long long> most = releases::nuke_settings().multiplier_max;
  if (*multiplier < 0 || *multiplier > releases::kMaxNukeMultiplier || (most && *multiplier > *most))
    return refused(kMultiplierOutOfRange);
  if (arguments.reason.empty()) return refused(kNoReason);
  if (arguments.reason.size() > releases::kMaxNukeReason) return refused(kReasonTooLong);

  NukeRequest request{arguments.directory, fs::resolve_path(arguments.directory, true), *multiplier, arguments.reason};
  if (is_home(request.path) || !config::path_allowed("nuke", request.path.c_str(), config::kPathIsDirectory))
    return refused(kMayNotNuke);
  if (!config::privpath_allowed(request.path.c_str()) || !fs::inside_home(request.path)) {
    core::string_reply(kCode, kOutsideArea, 0, request.directory);
    return std::nullopt;
  }
  return request;
}

// Tells the client what could not be removed; true when all went.
bool report_removal(RemovalFailure failure) {
  if (failure == RemovalFailure::Files) core::string_reply(kCode, kFilesNotDeleted, 1);
  if (failure == RemovalFailure::Directory) core::string_reply(kCode, kDirectoryNotRemoved, 1);
  return failure == RemovalFailure::None;
}

// A release at or below the threshold is deleted and its owner pays the
// site's fixed amount.
void empty_nuke(const NukeRequest& request, const struct stat& release, const releases::NukeSettings& settings) {
  const std::optional<core::PasswdEntry> owner = userdb::passwd_by_uid(release.st_uid);
  Nukee nukee;
  nukee.name = owner ? owner->name : std::string(kUnknownNukee);
  nukee.known = owner.has_value();
  nukee.bytes = static_cast<uint64_t>(clamped_product(settings.empty_nuke_kib, 1024));

  report_removal(remove_release(request.path, false));
  releases::dirlog_change(request.path, std::nullopt, releases::kDirNuked);
  const ReleaseBooks books = release_books(request.path, request.multiplier);
  if (nukee.known && !book_empty_nuke(nukee, books, settings.empty_nuke_kib))
    core::error_log("nuke of %s: userfile of %s not charged", request.path, nukee.name);
  record_nukee(request.path, nukee.name, request.multiplier, nukee.bytes, request.reason);

  core::string_reply(kCode, kEmptyNuked, 1);
  core::string_reply(kCode, kSeparator, 1);
  if (settings.empty_nuke_kib > 0) {
    const double mib = static_cast<double>(settings.empty_nuke_kib) / 1024.0;
    core::string_reply(kCode, kEmptyCharge, 1, nukee.name, mib, mib * static_cast<double>(request.multiplier));
    core::string_reply(kCode, kSeparator, 1);
  }
}

// Moves the release out of the way by the site's style: false when no
// nuked name was free (nothing has changed then).
bool nuke_by_style(const NukeRequest& request, ReleaseSurvey& survey, const releases::NukeSettings& settings) {
  std::optional<int> first_name;
  if (settings.style != releases::NukeStyle::Delete) {
    first_name = first_free_nuked_name(request.path);
    if (!first_name) {
      core::string_reply(kCode, kNoFreeName, 0);
      return false;
    }
  }
  mark_subdirectories(request.path, kNukedDirectoryMode, releases::kDirNuked);

  std::optional<std::string> renamed;
  if (settings.style == releases::NukeStyle::Delete) {
    report_removal(remove_release(request.path, false));
  } else {
    if (settings.style == releases::NukeStyle::DeleteFiles) report_removal(remove_release(request.path, true));
    renamed = rename_to_nuked_name(request.path, *first_name);
    // A release that cannot be renamed must not stay where it was.
    if (!renamed) report_removal(remove_release(request.path, false));
  }
  if (renamed) mark_nuked(*renamed, request.multiplier, core::session().user.name, request.reason);
  releases::dirlog_change(request.path, std::nullopt, releases::kDirNuked);

  const ReleaseBooks books = release_books(request.path, request.multiplier);
  for (Nukee& nukee : survey.table.nukees()) {
    if (nukee.known && !book_nuke(nukee, books))
      core::error_log("nuke of %s: userfile of %s not charged", request.path, nukee.name);
    record_nukee(request.path, nukee.name, request.multiplier, nukee.bytes, request.reason);
  }
  send_summary(kCode, SummaryMessages{268, 269, 270}, survey.table, request.multiplier);
  return true;
}

// Everything done under the nuke lock; 0 when the release was nuked.
int nuke_locked(const NukeRequest& request) {
  core::PrivilegeBracket root;
  const core::UniqueFd lock = releases::lock_nukes();
  if (!lock) {
    core::error_log("nuke: cannot lock %s.lock: %m", releases::nukelog_path());
    return refuse(kNukeRefused);
  }
  // Checked under the lock: a release another session has just nuked is
  // gone by now.
  struct stat release {};
  if (::lstat(request.path.c_str(), &release) != 0) return refuse(kNoSuchDirectory);
  ReleaseSurvey survey;
  if (S_ISDIR(release.st_mode)) survey = survey_release(request.path, false);
  if (!survey.walked) {
    core::string_reply(kCode, kUnreadable, 0, request.directory);
    return 1;
  }
  if (upload_in_progress_below(request.path)) {
    core::string_reply(kUploadRefusal, kUploadInProgress, 0, request.directory);
    return 1;
  }
  const releases::NukeSettings settings = releases::nuke_settings();
  if (survey.table.bytes() <= settings.threshold) {
    empty_nuke(request, release, settings);
    return 0;
  }
  return nuke_by_style(request, survey, settings) ? 0 : 1;
}

}  // namespace

int site_nuke(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.nuke");
  const std::optional<NukeRequest> request = nuke_request(*args.text);
  if (!request) return 1;
  if (nuke_locked(*request) != 0) return 1;
  core::session().nuked = 1;  // the N of the last-online entry
  text::announce_directory("NUKE", request->path);
  core::string_reply(kCode, kDone, 0);
  return 0;
}

}  // namespace site::commands
