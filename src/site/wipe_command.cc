// SITE WIPE: the target's checks, the removal as root through the shared
// tree walk (links are removed as links, never followed), and the books:
// removed uploads leave the dirlog totals, removed directories are marked
// deleted there, all in one pass over the dirlog.
#include "site/wipe_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "config/access_rules.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "fs/tree_walk.h"
#include "releases/dirlog.h"
#include "site/account_support.h"
#include "transfer/post_upload.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr int kNotAllowed = 102;
constexpr int kRootRefused = 468;
constexpr int kMissing = 469;
constexpr int kParentProtected = 471;
constexpr int kFileFailed = 472;
constexpr int kFileWiped = 473;
constexpr int kUnreadable = 474;
constexpr int kDirectoryWiped = 475;
constexpr int kDirectoryFailed = 476;
constexpr int kFailedInside = 477;
constexpr int kHasSubdirectories = 478;

// Only an accepted upload was counted in the dirlog when it arrived.
bool counted_in_dirlog(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_mode & 0777) == transfer::kAcceptedUploadMode;
}

std::string parent_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == 0 || slash == std::string_view::npos ? "/" : path.substr(0, slash));
}

// The strings record that answers a wipe of one file. Call as root.
int wipe_file(const std::string& path, const struct stat& st) {
  if (::unlink(path.c_str()) != 0) return kFileFailed;
  if (counted_in_dirlog(st))
    releases::dirlog_add_bytes(parent_of(path), static_cast<uint64_t>(st.st_size), true);
  return kFileWiped;
}

// Whether the directory holds a subdirectory; nothing when it cannot be
// read.
std::optional<bool> holds_subdirectory(const std::string& path) {
  bool found = false;
  const fs::WalkResult walk = fs::walk_tree(path, [&](const fs::WalkEntry& entry) {
    if (entry.depth == 0 || entry.event != fs::WalkEvent::enter_directory) return fs::WalkAction::proceed;
    found = true;
    return fs::WalkAction::stop;
  });
  if (walk.outcome == fs::WalkOutcome::failed) return std::nullopt;
  return found;
}

struct DirectoryWipe {
  int record = kDirectoryWiped;
  int error = 0;  // errno for kDirectoryFailed
};

// Removes the directory and its content, books what went and tells which
// strings record answers. Call as root.
DirectoryWipe wipe_directory(const std::string& path, bool recursive) {
  if (!recursive) {
    // Looked for first, so a refused wipe removes nothing.
    const std::optional<bool> nested = holds_subdirectory(path);
    if (!nested) return {kUnreadable};
    if (*nested) return {kHasSubdirectories};
  }

  releases::DirlogRemovals removals;
  fs::RemoveTreeOptions options;
  options.file_removed = [&](const fs::WalkEntry& entry) {
    if (counted_in_dirlog(entry.status))
      removals.files.push_back({parent_of(entry.path), static_cast<uint64_t>(entry.status.st_size)});
  };
  options.directory_removed = [&](const fs::WalkEntry& entry) {
    removals.directories.emplace_back(entry.path);
  };
  const fs::RemoveTreeResult removal = fs::remove_tree(path, options);
  // What went before a failure stays gone and is booked.
  releases::dirlog_book_removals(removals);

  if (removal.complete()) return {kDirectoryWiped};
  const std::size_t depth = removal.walk.failed_depth;
  switch (removal.failed_step) {
    case fs::RemoveStep::open_directory:
      return {depth == 0 ? kUnreadable : kFailedInside};
    case fs::RemoveStep::unlink_entry:
      return {depth == 1 ? kFileFailed : kFailedInside};
    case fs::RemoveStep::remove_directory:
      if (depth == 0) return {kDirectoryFailed, removal.walk.error};
      return {kFailedInside};
    case fs::RemoveStep::none:
      break;
  }
  return {kFailedInside};
}

void log_wipe(const std::string& path, bool recursive) {
  const core::Session& s = core::session();
  if (s.log_level == 0) return;
  core::event_log("WIPE%s: \"%s\" \"%.23s\" \"%s\" \"%s\"", recursive ? "-r" : "", path, s.user.name,
                  s.user.groups[0], s.user.tagline);
}

int wipe_path(int code, std::string_view argument) {
  bool recursive = false;
  if (argument.starts_with("-r ")) {
    recursive = true;
    argument.remove_prefix(3);
    argument.remove_prefix(std::min(argument.find_first_not_of(' '), argument.size()));
  }
  if (argument.empty()) {
    core::string_reply(code, kMissing, 0, argument);
    return 1;
  }

  const std::string path = fs::resolve_path(argument, true);
  if (path == fs::resolve_path("/", true) || path == core::session().home_dir) {
    core::string_reply(code, kRootRefused, 0);
    return 1;
  }
  // Below the home and outside the private paths, wherever links lead.
  if (!fs::inside_home(path) || !config::privpath_allowed(path.c_str())) {
    core::string_reply(code, kNotAllowed, 0, argument);
    return 1;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
    core::string_reply(code, kMissing, 0, argument);
    return 1;
  }
  const int kind = S_ISDIR(st.st_mode) ? config::kPathIsDirectory : config::kPathIsFile;
  if (!config::path_allowed("delete", path.c_str(), kind)) {
    core::string_reply(code, kNotAllowed, 0, argument);
    return 1;
  }
  struct stat parent {};
  if (::stat(parent_of(path).c_str(), &parent) != 0 || (parent.st_mode & S_IWUSR) == 0) {
    core::string_reply(code, kParentProtected, 0);
    return 1;
  }

  int record;
  int error = 0;
  {
    core::PrivilegeBracket root;
    if (S_ISDIR(st.st_mode)) {
      const DirectoryWipe wiped = wipe_directory(path, recursive);
      record = wiped.record;
      error = wiped.error;
    } else {
      record = wipe_file(path, st);
    }
  }
  const bool wiped = record == kFileWiped || record == kDirectoryWiped;
  if (wiped) log_wipe(path, recursive);
  if (record == kDirectoryFailed)
    core::string_reply(code, record, 0, std::strerror(error));
  else
    core::string_reply(code, record, 0);
  return wiped ? 0 : 1;
}

}  // namespace

int site_wipe(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.wipe");
  return wipe_path(kCode, *args.text);
}

}  // namespace site::commands
