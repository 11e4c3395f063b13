// The dupe file: adding, finding and freeing records, and the X-DUPE report.
//
// Several sessions add names at the same moment, so the search for a free
// slot and the write form one step under an exclusive flock; otherwise two
// uploads could pick the same free slot and one name would be lost. An
// upload's lookup joins that step too (dupe_claim).
// Each record goes out in a single pwrite at its own offset, so a reader
// never sees half of one and a failed write never shifts the others.
#include "releases/dupe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/config_store.h"
#include "core/file_io.h"
#include "core/fixed_field.h"
#include "core/kept_file.h"
#include "core/match.h"
#include "core/path_text.h"
#include "core/privilege.h"
#include "core/session.h"
#include "releases/record_file.h"

namespace releases {

namespace {

constexpr std::size_t kRecordSize = sizeof(DupefileEntry);
// Records read per pread: a scan of a large file costs few system calls,
// and the block (72 KiB) stays in the cache while its names are compared
// and comes from the heap the session already has.
constexpr std::size_t kBlockRecords = 256;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view stored, std::string_view wanted, bool ignore_case) {
  stored = stored.substr(0, kDupeNameLength);
  wanted = wanted.substr(0, kDupeNameLength);
  if (stored.size() != wanted.size()) return false;
  if (!ignore_case) return stored == wanted;
  for (std::size_t i = 0; i < stored.size(); ++i)
    if (lower(stored[i]) != lower(wanted[i])) return false;
  return true;
}

// Hands each record up to `records` with its index to `visit` until it
// returns false. False on a read error.
template <typename Visit>
bool scan_records(int fd, std::size_t records, Visit visit) {
  std::unique_ptr<DupefileEntry[]> block(new DupefileEntry[kBlockRecords]);
  for (std::size_t first = 0; first < records;) {
    const std::size_t wanted = std::min(kBlockRecords, records - first);
    ssize_t got;
    do {
      got = ::pread(fd, block.get(), wanted * kRecordSize, static_cast<off_t>(first * kRecordSize));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return false;
    const std::size_t count = static_cast<std::size_t>(got) / kRecordSize;
    if (count == 0) return true;  // the file shrank under a reader
    for (std::size_t i = 0; i < count; ++i)
      if (!visit(block[i], first + i)) return true;
    first += count;
  }
  return true;
}

// Every argument of every `key` line, in file order.
std::vector<const char*> config_words(const char* key) {
  std::vector<const char*> words;
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config(key, cursor))
    for (int i = 1; i <= config::kMaxArgs && line->arg(i); ++i) words.push_back(line->arg(i));
  return words;
}

bool matches_any(std::string_view name, const std::vector<const char*>& patterns) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const char* pattern) { return core::name_match(name, pattern); });
}

}  // namespace

DupeCheck dupe_check_setting() {
  DupeCheck check;
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config("dupe_check", cursor);
  if (!line || !line->arg(1)) return check;
  const long days = std::strtol(line->arg(1), nullptr, 10);
  check.days = days > INT_MAX ? INT_MAX : days < 0 ? 0 : static_cast<int>(days);
  check.ignore_case = line->arg(2) && std::strcmp(line->arg(2), "yes") == 0;
  return check;
}

time_t dupe_cutoff(int days) { return core::now() - static_cast<time_t>(days) * 86400; }

bool ignored_type(std::string_view name) { return matches_any(name, config_words("ignore_type")); }

std::string dupe_file_path() { return std::string(core::session().data_path) + "/logs/dupefile"; }

bool record_counts(const DupefileEntry& entry, time_t cutoff) {
  return entry.time != 0 && static_cast<time_t>(entry.time) >= cutoff;
}

std::string_view record_name(const DupefileEntry& entry) {
  return std::string_view(entry.name, ::strnlen(entry.name, sizeof entry.name));
}

std::string_view record_uploader(const DupefileEntry& entry) {
  return std::string_view(entry.uploader, ::strnlen(entry.uploader, sizeof entry.uploader));
}

namespace {

// A record for `name` uploaded now by the session's user.
DupefileEntry new_entry(std::string_view name) {
  DupefileEntry entry{};
  core::copy_field(entry.name, kDupeNameLength + 1, name);
  entry.time = static_cast<int32_t>(core::now());
  const char* user = core::session().user.name;
  core::copy_field(entry.uploader, std::string_view(user, ::strnlen(user, sizeof core::session().user.name)));
  return entry;
}

// Writes `entry` at `slot` of a file of `records` records; a short append
// (full disk) must not leave a partial record behind.
bool place_entry(int fd, std::size_t slot, std::size_t records, const DupefileEntry& entry) {
  if (write_record_at(fd, slot, entry)) return true;
  if (slot == records) core::ignore_failure(::ftruncate(fd, static_cast<off_t>(slot * kRecordSize)));
  return false;
}

// The dupe file locked exclusively for a change, with its record count;
// never created here: a site without the file has chosen no dupe file.
// Every upload and every DELE changes it, so it stays open between changes.
class LockedForChange {
 public:
  LockedForChange() : change_(kept_file(), dupe_file_path(), false) {}

  explicit operator bool() const { return static_cast<bool>(change_); }
  int fd() const { return change_.fd(); }
  std::size_t records() const { return core::whole_records(change_.status(), kRecordSize); }

 private:
  static core::KeptFile& kept_file() {
    static core::KeptFile kept;
    return kept;
  }

  const core::KeptFile::Change change_;
};

}  // namespace

bool dupe_add(std::string_view path) {
  const std::string_view name = core::last_component(path);
  if (name.empty() || ignored_type(name)) return false;
  const DupeCheck check = dupe_check_setting();
  if (!check.on()) return false;
  const time_t cutoff = dupe_cutoff(check.days);

  const LockedForChange file;
  if (!file) return false;
  std::size_t slot = file.records();
  const bool scanned = scan_records(file.fd(), file.records(), [&](const DupefileEntry& seen, std::size_t index) {
    if (record_counts(seen, cutoff)) return true;
    slot = index;
    return false;
  });
  return scanned && place_entry(file.fd(), slot, file.records(), new_entry(name));
}

std::optional<DupeHit> dupe_find(std::string_view name, time_t cutoff, bool ignore_case) {
  core::UniqueFd fd;
  {
    core::PrivilegeBracket root;
    fd = core::open_file(dupe_file_path().c_str(), O_RDONLY);
  }
  struct stat st {};
  if (!fd || !core::lock_file(fd.get(), LOCK_SH) || ::fstat(fd.get(), &st) != 0) return std::nullopt;
  std::optional<DupeHit> hit;
  scan_records(fd.get(), core::whole_records(st, kRecordSize), [&](const DupefileEntry& entry, std::size_t) {
    if (!record_counts(entry, cutoff) || !same_name(record_name(entry), name, ignore_case)) return true;
    hit = DupeHit{std::string(record_name(entry)), std::string(record_uploader(entry)), entry.time};
    return false;
  });
  return hit;
}

DupeClaim dupe_claim(std::string_view path, time_t cutoff, bool ignore_case) {
  DupeClaim claim;
  const std::string_view name = core::last_component(path);
  const LockedForChange file;
  if (!file) return claim;
  std::size_t slot = file.records();
  const bool scanned = scan_records(file.fd(), file.records(), [&](const DupefileEntry& entry, std::size_t index) {
    if (!record_counts(entry, cutoff)) {
      slot = std::min(slot, index);
      return true;
    }
    if (!same_name(record_name(entry), name, ignore_case)) return true;
    claim.hit = DupeHit{std::string(record_name(entry)), std::string(record_uploader(entry)), entry.time};
    return false;
  });
  if (scanned && !claim.hit && !name.empty())
    claim.recorded = place_entry(file.fd(), slot, file.records(), new_entry(name));
  return claim;
}

std::vector<std::string> dupe_expire(std::string_view pattern, time_t cutoff, bool literal) {
  std::vector<std::string> freed;
  const std::string pattern_text(pattern);
  const LockedForChange file;
  if (!file) return freed;
  scan_records(file.fd(), file.records(), [&](const DupefileEntry& entry, std::size_t index) {
    if (!record_counts(entry, cutoff)) return true;
    const std::string_view name = record_name(entry);
    if (literal ? !same_name(name, pattern, false) : !core::name_match(name, pattern_text)) return true;
    DupefileEntry freed_entry = entry;
    freed_entry.time = 0;
    if (write_record_at(file.fd(), index, freed_entry)) freed.emplace_back(name);
    return true;
  });
  return freed;
}

std::vector<std::string> dupe_remove(std::string_view path, bool literal) {
  const DupeCheck check = dupe_check_setting();
  if (!check.on()) return {};
  const std::string_view name = core::last_component(path);
  if (name.empty() || ignored_type(name)) return {};
  return dupe_expire(name, dupe_cutoff(check.days), literal);
}

std::optional<std::vector<std::string>> xdupe_names(const std::string& directory) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
  if (!dir) return std::nullopt;
  const std::vector<const char*> patterns = config_words("xdupe");
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || !matches_any(name, patterns)) continue;
    struct stat st{};
    // A symbolic link is not a file of this directory.
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode) && st.st_size > 0) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> xdupe_lines(const std::vector<std::string>& names, int level) {
  static constexpr std::string_view kTag = "X-DUPE:";
  std::vector<std::string> lines;
  switch (level) {
    case 1: {
      // Clients read these lines in 80 columns: a name that does not fit
      // starts the next line.
      constexpr std::size_t kWidth = 75;
      std::string line(kTag);
      for (const std::string& name : names) {
        if (line.size() + 1 + name.size() <= kWidth) {
          line.append(" ").append(name);
          continue;
        }
        if (line.size() > kTag.size()) lines.push_back(line);
        line = std::string(kTag).append(" ").append(name).substr(0, kWidth);
      }
      if (line.size() > kTag.size()) lines.push_back(line);
      break;
    }
    case 2:
      for (const std::string& name : names) lines.push_back(std::string(kTag).append(" ").append(name).substr(0, 74));
      break;
    case 3:
      for (const std::string& name : names) lines.push_back(std::string(kTag).append(" ").append(name));
      break;
    case 4: {
      // One line that still fits a 1024-byte reply with its code: names
      // that do not fit any more are left out.
      constexpr std::size_t kWidth = 1019;
      std::string line(kTag);
      for (const std::string& name : names)
        if (line.size() + 1 + name.size() <= kWidth) line.append(" ").append(name);
      if (line.size() > kTag.size()) lines.push_back(line);
      break;
    }
    default:
      break;
  }
  return lines;
}

}  // namespace releases
