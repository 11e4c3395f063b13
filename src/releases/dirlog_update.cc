// SITE UPDATE: records rebuilt from the directories on disk.
//
// The disk walk can take long, so it runs before the dirlog is locked; then
// the file is locked, read again, the walked records merged in, and the
// whole list written to "dirlog.lock" and renamed over the dirlog while the
// lock is still held. Sessions that waited for the lock find the path
// replaced and reopen, so every record added meanwhile is kept.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/file_io.h"
#include "core/match.h"
#include "core/privilege.h"
#include "releases/dirlog.h"

namespace releases {

namespace {

struct Totals {
  uint64_t files = 0;
  uint64_t bytes = 0;
};

// Beyond this depth a tree is not followed further (each level holds a
// descriptor open).
constexpr int kMaxDepth = 128;

// Adds the regular files below the directory `dir_fd` (which this takes
// over), without following symbolic links and without ".message" files.
void count_tree(int dir_fd, Totals& totals, int depth) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dir_fd), ::closedir);
  if (!dir) {
    ::close(dir_fd);
    return;
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat st{};
    if (::fstatat(::dirfd(dir.get()), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      if (std::strcmp(name, ".message") == 0) continue;
      ++totals.files;
      totals.bytes += static_cast<uint64_t>(st.st_size);
    } else if (S_ISDIR(st.st_mode) && depth < kMaxDepth) {
      const int child = ::openat(::dirfd(dir.get()), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0) count_tree(child, totals, depth + 1);
    }
  }
}

std::string join(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The records for the matching directories of `dir`, in name order.
std::vector<DirlogEntry> walk(const std::string& dir, std::string_view pattern, std::vector<UpdateLine>& lines) {
  std::vector<DirlogEntry> found;
  core::UniqueFd dir_fd = core::open_file(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (!dir_fd) return found;
  std::vector<std::string> names;
  {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(::dup(dir_fd.get())), ::closedir);
    if (!listing) return found;
    while (const dirent* entry = ::readdir(listing.get()))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.emplace_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (!core::wildcard_match(core::MatchText(pattern), core::MatchText(name), false)) {
      lines.push_back({UpdateLine::kNoMatch, name});
      continue;
    }
    const std::string path = join(dir, name);
    struct stat st{};
    if (::fstatat(dir_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        (st.st_mode & S_IRWXU) != S_IRWXU) {
      lines.push_back({UpdateLine::kSkipped, path});
      continue;
    }
    Totals totals;
    const int child = ::openat(dir_fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child >= 0) count_tree(child, totals, 1);
    DirlogEntry entry = make_entry(path);
    entry.time = static_cast<int32_t>(st.st_mtime);
    entry.uid = static_cast<uint16_t>(st.st_uid);
    entry.gid = static_cast<uint16_t>(st.st_gid);
    entry.files = static_cast<uint16_t>(std::min<uint64_t>(totals.files, kMaxDirlogFiles));
    entry.bytes = static_cast<uint32_t>(std::min<uint64_t>(totals.bytes, kMaxDirlogBytes));
    found.push_back(entry);
    lines.push_back({UpdateLine::kUpdated, path});
  }
  return found;
}

bool earlier(const DirlogEntry& a, const DirlogEntry& b) { return a.time < b.time; }

// Puts the walked records into the time-ordered list: a record whose path
// is already there replaces the fields of the newest one with that path
// (keeping its place and links), any other goes in after the records of
// the same time.
void merge(std::vector<DirlogEntry>& list, const std::vector<DirlogEntry>& walked, UpdateResult& result) {
  for (const DirlogEntry& fresh : walked) {
    const std::string_view path = entry_path(fresh);
    auto same = std::find_if(list.rbegin(), list.rend(),
                             [&](const DirlogEntry& entry) { return entry_path(entry) == path; });
    if (same != list.rend()) {
      DirlogEntry& old = *same;
      const uint32_t next = old.next_link, prev = old.prev_link;
      old = fresh;
      old.next_link = next;
      old.prev_link = prev;
      ++result.replaced;
      continue;
    }
    list.insert(std::upper_bound(list.begin(), list.end(), fresh, earlier), fresh);
    ++result.added;
  }
}

bool write_replacement(int old_fd, const std::vector<DirlogEntry>& list) {
  struct stat old{};
  if (::fstat(old_fd, &old) != 0) return false;
  const std::string path = dirlog_path();
  const std::string temp = path + ".lock";
  core::UniqueFd out = core::open_file(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!out) return false;
  const bool written =
      core::write_all(out.get(), std::string_view(reinterpret_cast<const char*>(list.data()), list.size() * sizeof(DirlogEntry))) &&
      ::fchmod(out.get(), old.st_mode & 07777) == 0 && ::fsync(out.get()) == 0;
  // Made with root rights it is root's already; the old owner is kept when
  // the site chose another.
  if (written) core::ignore_failure(::fchown(out.get(), old.st_uid, old.st_gid));
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

UpdateResult dirlog_update(const std::string& dir, std::string_view pattern) {
  UpdateResult result;
  core::PrivilegeBracket root;
  const std::vector<DirlogEntry> walked = walk(dir, pattern, result.lines);

  // Never created here: without a dirlog there is nothing to replace.
  const core::KeptFile::Change dirlog = lock_dirlog(false);
  if (!dirlog) return result;
  std::vector<DirlogEntry> list;
  if (!load_records(dirlog.fd(), list)) return result;
  std::stable_sort(list.begin(), list.end(), earlier);
  merge(list, walked, result);
  result.ok = write_replacement(dirlog.fd(), list);
  if (!result.ok) result.added = result.replaced = 0;
  return result;
}

}  // namespace releases
