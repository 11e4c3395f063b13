// The directory log: the record codec, the size texts, the writers (add,
// totals, change) and the readers (NEW, SEARCH, numbered CWD).
#include "releases/dirlog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "config/access_rules.h"
#include "core/file_io.h"
#include "core/path_text.h"
#include "core/privilege.h"
#include "core/session.h"
#include "releases/age_text.h"
#include "releases/record_file.h"

namespace releases {

namespace {

constexpr std::size_t kRecordSize = sizeof(DirlogEntry);

core::UniqueFd open_for_reading() {
  core::PrivilegeBracket root;
  return core::open_file(dirlog_path().c_str(), O_RDONLY);
}

bool shown_in_listings(const DirlogEntry& entry) {
  return entry.status != kDirNuked && entry.status != kDirDeleted;
}

bool private_path_allows(std::string_view path) { return config::privpath_allowed(std::string(path).c_str()) != 0; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string without_leading_blanks(std::string text) {
  text.erase(0, text.find_first_not_of(' '));
  return text;
}

}  // namespace

std::string dirlog_path() { return std::string(core::session().data_path) + "/logs/dirlog"; }

std::string_view entry_path(const DirlogEntry& entry) {
  return std::string_view(entry.path, ::strnlen(entry.path, sizeof entry.path));
}

DirlogEntry make_entry(std::string_view path) {
  DirlogEntry entry{};
  entry.status = kDirNew;
  entry.time = static_cast<int32_t>(core::now());
  entry.uid = core::session().account.uid;
  entry.gid = core::session().account.gid;
  std::size_t n = std::min(path.size(), sizeof entry.path);
  if (const void* nul = std::memchr(path.data(), '\0', n)) n = static_cast<std::size_t>(static_cast<const char*>(nul) - path.data());
  std::memcpy(entry.path, path.data(), n);
  return entry;
}

void apply_file(DirlogEntry& entry, uint64_t bytes, bool subtract, bool count_file) {
  if (subtract) {
    if (count_file && entry.files > 0) --entry.files;
    entry.bytes = bytes >= entry.bytes ? 0 : static_cast<uint32_t>(entry.bytes - bytes);
    return;
  }
  if (count_file && entry.files < kMaxDirlogFiles) ++entry.files;
  const uint64_t total = static_cast<uint64_t>(entry.bytes) + std::min<uint64_t>(bytes, kMaxDirlogBytes);
  entry.bytes = total > kMaxDirlogBytes ? kMaxDirlogBytes : static_cast<uint32_t>(total);
}

std::string size_text(uint64_t bytes) {
  char text[64];
  if (bytes <= 1073741824ull)
    std::snprintf(text, sizeof text, "%3.1fM", static_cast<double>(bytes) / 1024000.0);
  else
    std::snprintf(text, sizeof text, "%3.3fG", static_cast<double>(bytes) / 1073741824.0);
  return without_leading_blanks(text);
}

std::string files_size_text(unsigned files, uint64_t bytes) {
  if (files == 0) return "   =Empty= ";
  char text[64];
  std::snprintf(text, sizeof text, "%3uF%7.7s", files, size_text(bytes).c_str());
  return text;
}

core::KeptFile::Change lock_dirlog(bool create) {
  static core::KeptFile kept;
  return core::KeptFile::Change(kept, dirlog_path(), create);
}

bool load_records(int fd, std::vector<DirlogEntry>& out) {
  const std::size_t records = core::whole_records(fd, kRecordSize);
  out.resize(records);
  if (records == 0) return true;
  const long got = read_records(fd, 0, records, out.data());
  if (got < 0) return false;
  out.resize(static_cast<std::size_t>(got));
  return true;
}

bool dirlog_add(std::string_view path) {
  const DirlogEntry entry = make_entry(path);
  const core::KeptFile::Change dirlog = lock_dirlog(true);
  if (!dirlog) return false;
  const std::size_t records = core::whole_records(dirlog.status(), kRecordSize);
  const off_t whole = static_cast<off_t>(records * kRecordSize);
  // A torn record at the end goes first, so the new one starts on a record
  // boundary and readers see every record whole.
  if (dirlog.status().st_size != whole && ::ftruncate(dirlog.fd(), whole) != 0) return false;
  if (write_record_at(dirlog.fd(), records, entry)) return true;
  core::ignore_failure(::ftruncate(dirlog.fd(), whole));
  return false;
}

int dirlog_add_bytes(std::string_view dir, uint64_t bytes, bool subtract, bool count_file) {
  int changed = 0;
  const core::KeptFile::Change dirlog = lock_dirlog(false);
  if (!dirlog) return 0;
  const int fd = dirlog.fd();
  scan_forward<DirlogEntry>(fd, core::whole_records(dirlog.status(), kRecordSize), [&](const DirlogEntry& seen, std::size_t index) {
    const std::string_view path = entry_path(seen);
    if (seen.status == kDirDeleted || path.empty() || !core::path_within(dir, path)) return true;
    DirlogEntry updated = seen;
    apply_file(updated, bytes, subtract, count_file);
    if (write_record_at(fd, index, updated)) ++changed;
    return true;
  });
  return changed;
}

std::optional<DirlogChanged> dirlog_change(std::string_view path, std::optional<std::string_view> new_path,
                                           uint16_t new_status) {
  std::optional<DirlogChanged> result;
  const core::KeptFile::Change dirlog = lock_dirlog(false);
  if (!dirlog) return result;
  const int fd = dirlog.fd();
  scan_backward<DirlogEntry>(fd, [&](const DirlogEntry& seen, std::size_t index) {
    if (entry_path(seen) != path) return true;
    DirlogEntry updated = seen;
    if (new_path) {
      const DirlogEntry renamed = make_entry(*new_path);
      std::memcpy(updated.path, renamed.path, sizeof updated.path);
    }
    if (new_status != 0) {
      updated.status = new_status;
      updated.time = static_cast<int32_t>(core::now());
    }
    if (write_record_at(fd, index, updated)) result = DirlogChanged{updated, new_status == kDirDeleted};
    return false;
  });
  return result;
}

int dirlog_book_removals(const DirlogRemovals& removals) {
  if (removals.files.empty() && removals.directories.empty()) return 0;
  // Files by directory, so each record adds up the directories within it
  // from one contiguous run of keys.
  struct Taken {
    uint64_t files = 0;
    uint64_t bytes = 0;
  };
  std::map<std::string, Taken, std::less<>> taken;
  for (const DirlogRemovals::File& file : removals.files) {
    Taken& sum = taken[file.directory];
    ++sum.files;
    sum.bytes += file.bytes;
  }

  const core::KeptFile::Change dirlog = lock_dirlog(false);
  std::vector<DirlogEntry> records;
  if (!dirlog || !load_records(dirlog.fd(), records)) return 0;

  std::vector<bool> changed(records.size(), false);
  for (std::size_t i = 0; i < records.size(); ++i) {
    DirlogEntry& entry = records[i];
    std::string_view path = entry_path(entry);
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (entry.status == kDirDeleted || path.empty()) continue;
    Taken sum;
    for (auto at = taken.lower_bound(path == "/" ? std::string_view() : path);
         at != taken.end() && (path == "/" || at->first.starts_with(path)); ++at) {
      if (!core::path_within(at->first, path)) continue;
      sum.files += at->second.files;
      sum.bytes += at->second.bytes;
    }
    if (sum.files == 0) continue;
    apply_file(entry, sum.bytes, true, false);
    entry.files = static_cast<uint16_t>(sum.files >= entry.files ? 0 : entry.files - sum.files);
    changed[i] = true;
  }

  std::map<std::string_view, std::size_t, std::less<>> newest;
  for (std::size_t i = 0; i < records.size(); ++i) newest[entry_path(records[i])] = i;
  const int32_t now = static_cast<int32_t>(core::now());
  for (const std::string& directory : removals.directories) {
    const auto found = newest.find(directory);
    if (found == newest.end()) continue;
    records[found->second].status = kDirDeleted;
    records[found->second].time = now;
    changed[found->second] = true;
  }

  int written = 0;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (changed[i] && write_record_at(dirlog.fd(), i, records[i])) ++written;
  return written;
}

std::vector<NewEntry> dirlog_newest(std::string_view base, int count) {
  std::vector<NewEntry> shown;
  if (count < 1) count = 10;
  core::UniqueFd fd = open_for_reading();
  if (!fd) return shown;
  scan_backward<DirlogEntry>(fd.get(), [&](const DirlogEntry& seen, std::size_t) {
    const std::string_view path = entry_path(seen);
    if (!shown_in_listings(seen) || !core::path_within(path, base) || !private_path_allows(path)) return true;
    NewEntry line;
    line.number = static_cast<int>(shown.size()) + 1;
    line.entry = seen;
    line.path = std::string(path);
    line.name = std::string(core::last_component(path));
    line.files_size = files_size_text(seen.files, seen.bytes);
    shown.push_back(std::move(line));
    return static_cast<int>(shown.size()) < count;
  });
  return shown;
}

std::string search_info(const DirlogEntry& entry) {
  if (entry.status == kDirNuked) return "!f*NUKED*";
  if (entry.files == 0) return "!b=Empty=";
  char text[160];
  std::snprintf(text, sizeof text, "!C(!E%dF!C/!E%.1fM!C/!E%s!C)", entry.files,
                static_cast<double>(entry.bytes) / 1024000.0, without_leading_blanks(age_since(entry.time)).c_str());
  return text;
}

std::optional<std::vector<SearchHit>> dirlog_search(std::string_view words, const PathFilter& visible) {
  std::vector<std::string> wanted;
  for (std::size_t at = 0; at < words.size();) {
    const std::size_t start = words.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    std::size_t end = words.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = words.size();
    std::string word(words.substr(start, end - start));
    std::transform(word.begin(), word.end(), word.begin(), lower);
    wanted.push_back(std::move(word));
    at = end;
  }
  core::UniqueFd fd = open_for_reading();
  if (!fd) return std::nullopt;
  std::vector<SearchHit> hits;
  std::string lowered;
  scan_forward<DirlogEntry>(fd.get(), [&](const DirlogEntry& seen, std::size_t) {
    const std::string_view path = entry_path(seen);
    lowered.assign(path);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), lower);
    for (const std::string& word : wanted)
      if (lowered.find(word) == std::string::npos) return true;
    if (!private_path_allows(path) || (visible && !visible(path))) return true;
    hits.push_back(SearchHit{std::string(path), search_info(seen)});
    return true;
  });
  return hits;
}

NewestResult cwd_to_newest(int n, const PathFilter& visible) {
  NewestResult result;
  core::UniqueFd fd = open_for_reading();
  if (!fd) {
    result.outcome = NewestResult::kOpenFailed;
    return result;
  }
  if (n < 1) return result;
  int counted = 0;
  const bool read = scan_backward<DirlogEntry>(fd.get(), [&](const DirlogEntry& seen, std::size_t) {
    const std::string_view path = entry_path(seen);
    if (!shown_in_listings(seen) || !private_path_allows(path) || (visible && !visible(path))) return true;
    if (++counted < n) return true;
    result.outcome = NewestResult::kFound;
    result.path = std::string(path);
    return false;
  });
  if (!read) result.outcome = NewestResult::kReadFailed;
  return result;
}

}  // namespace releases
