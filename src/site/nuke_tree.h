// The file-system side of NUKE and UNNUKE: surveying a release, marking its
// subdirectories, removing it, renaming it to and from its nuked name and
// its marker directory. Every walk stays inside the release: symbolic links
// are met as links (removed as links), never followed. Call with root
// rights.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "site/nuke_accounting.h"

namespace site {

// What a read-only walk found below a release.
struct ReleaseSurvey {
  bool walked = false;  // false: some directory could not be read
  NukeeTable table;     // every regular file by its owner's user name
};

// Walks the release at `path` without changing anything. Owners the passwd
// file does not know are collected as kUnknownNukee; with `skip_unknown`
// their files count in the totals only.
ReleaseSurvey survey_release(const std::string& path, bool skip_unknown);

// After the walk: every subdirectory below `path` that is empty is removed,
// every other one gets `mode` and the directory-log `status`.
void mark_subdirectories(const std::string& path, mode_t mode, uint16_t status);

enum class RemovalFailure { None, Files, Directory };

// Removes everything below `path`, and `path` itself unless `keep_root`:
// Files when something below could not go, Directory when only the
// release directory itself stayed.
RemovalFailure remove_release(const std::string& path, bool keep_root);

// The nuked name a release may take: the site's nuked name, else it with
// ".2" to ".29999". The first one free now, nothing when all are taken.
std::optional<int> first_free_nuked_name(const std::string& path);

// Renames the release to its nuked name, starting at candidate `first`; a
// name another session took meanwhile moves on to the next. Gives the new
// path, or nothing when the rename failed.
std::optional<std::string> rename_to_nuked_name(const std::string& path, int first);

// Makes the marker directory "NUKED <multiplier>x by <nuker> - <reason>"
// (mode 0444) in the renamed release and sets the release to 0555.
void mark_nuked(const std::string& nuked_path, long long multiplier, const std::string& nuker,
                const std::string& reason);

// Renames the nuked release back to `path`, never over an existing one.
bool rename_back(const std::string& nuked_path, const std::string& path);

// Removes the marker directories of a release that is being unnuked,
// giving the multiplier the first one names.
std::optional<long long> remove_markers(const std::string& path);

}  // namespace site
