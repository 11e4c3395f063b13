// Surveying, marking, removing and renaming nuked releases.
#include "site/nuke_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "core/logs.h"
#include "fs/tree_walk.h"
#include "releases/dirlog.h"
#include "releases/nuke_settings.h"
#include "site/nuke_arguments.h"
#include "userdb/passwd_file.h"

namespace site {
namespace {

constexpr int kLastNukedSuffix = 29999;

// User names of file owners, each uid looked up once per walk.
class OwnerNames {
 public:
  // The name of `uid`, or nothing when the passwd file does not know it.
  const std::optional<std::string>& of(uid_t uid) {
    auto found = names_.find(uid);
    if (found != names_.end()) return found->second;
    std::optional<std::string> name;
    if (const std::optional<core::PasswdEntry> entry = userdb::passwd_by_uid(uid)) name = entry->name;
    return names_.emplace(uid, std::move(name)).first->second;
  }

 private:
  std::map<uid_t, std::optional<std::string>> names_;
};

std::string candidate_name(const std::string& nuked, int n) {
  return n == 1 ? nuked : nuked + "." + std::to_string(n);
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

ReleaseSurvey survey_release(const std::string& path, bool skip_unknown) {
  ReleaseSurvey survey;
  OwnerNames owners;
  const fs::WalkResult walked = fs::walk_tree(path, [&](const fs::WalkEntry& entry) {
    if (entry.event != fs::WalkEvent::non_directory || !S_ISREG(entry.status.st_mode)) return fs::WalkAction::proceed;
    const uint64_t bytes = static_cast<uint64_t>(entry.status.st_size);
    const std::optional<std::string>& owner = owners.of(entry.status.st_uid);
    if (owner)
      survey.table.add_file(*owner, true, bytes, entry.status.st_mtime);
    else if (skip_unknown)
      survey.table.count_file(bytes);
    else
      survey.table.add_file(kUnknownNukee, false, bytes, entry.status.st_mtime);
    return fs::WalkAction::proceed;
  });
  survey.walked = walked.outcome == fs::WalkOutcome::complete;
  if (!survey.walked)
    core::error_log("nuke: cannot walk %s: %s", walked.failed_path.empty() ? path : walked.failed_path,
                    std::strerror(walked.error));
  return survey;
}

void mark_subdirectories(const std::string& path, mode_t mode, uint16_t status) {
  fs::walk_tree(path, [&](const fs::WalkEntry& entry) {
    if (entry.event != fs::WalkEvent::leave_directory || entry.depth == 0) return fs::WalkAction::proceed;
    // Its content has been visited: an empty directory goes, the others
    // stay as part of the release.
    const std::string name(entry.name);
    if (::unlinkat(entry.parent_fd, name.c_str(), AT_REMOVEDIR) == 0) return fs::WalkAction::proceed;
    (void)::fchmod(entry.fd, mode);
    releases::dirlog_change(entry.path, std::nullopt, status);
    return fs::WalkAction::proceed;
  });
}

RemovalFailure remove_release(const std::string& path, bool keep_root) {
  fs::RemoveTreeOptions options;
  options.remove_root = !keep_root;
  const fs::RemoveTreeResult removed = fs::remove_tree(path, options);
  if (removed.complete()) return RemovalFailure::None;
  core::error_log("nuke: cannot remove %s: %s", removed.walk.failed_path, std::strerror(removed.walk.error));
  const bool only_the_release = removed.failed_step == fs::RemoveStep::remove_directory && removed.walk.failed_depth == 0;
  return only_the_release ? RemovalFailure::Directory : RemovalFailure::Files;
}

std::optional<int> first_free_nuked_name(const std::string& path) {
  const std::string nuked = releases::nuked_name(path);
  for (int n = 1; n <= kLastNukedSuffix; ++n)
    if (!exists(candidate_name(nuked, n))) return n;
  return std::nullopt;
}

std::optional<std::string> rename_to_nuked_name(const std::string& path, int first) {
  const std::string nuked = releases::nuked_name(path);
  for (int n = first; n <= kLastNukedSuffix; ++n) {
    const std::string target = candidate_name(nuked, n);
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return target;
    if (errno != EEXIST && errno != ENOTEMPTY) {
      core::error_log("nuke: cannot rename %s to %s: %s", path, target, std::strerror(errno));
      return std::nullopt;
    }
  }
  return std::nullopt;
}

void mark_nuked(const std::string& nuked_path, long long multiplier, const std::string& nuker,
                const std::string& reason) {
  const std::string marker = nuked_path + "/" + marker_name(multiplier, nuker, reason);
  // The umask must not narrow the modes the marker and release show.
  if (::mkdir(marker.c_str(), 0444) != 0 || ::chmod(marker.c_str(), 0444) != 0)
    core::error_log("nuke: cannot make %s: %s", marker, std::strerror(errno));
  if (::chmod(nuked_path.c_str(), 0555) != 0)
    core::error_log("nuke: cannot set mode 0555 on %s: %s", nuked_path, std::strerror(errno));
}

bool rename_back(const std::string& nuked_path, const std::string& path) {
  return ::renameat2(AT_FDCWD, nuked_path.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
}

std::optional<long long> remove_markers(const std::string& path) {
  std::optional<long long> multiplier;
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) return multiplier;
  std::vector<std::string> markers;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::optional<long long> stated = marker_multiplier(entry->d_name);
    if (!stated) continue;
    if (!multiplier) multiplier = stated;
    markers.emplace_back(entry->d_name);
  }
  for (const std::string& name : markers) (void)::unlinkat(::dirfd(dir.get()), name.c_str(), AT_REMOVEDIR);
  return multiplier;
}

}  // namespace site
