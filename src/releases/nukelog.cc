// The nuke log: the record codec, the command lock, the append and the
// in-place unnuke, and the readers.
#include "releases/nukelog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/file_io.h"
#include "core/fixed_field.h"
#include "core/privilege.h"
#include "core/session.h"
#include "releases/record_file.h"

namespace releases {
namespace {

constexpr std::size_t kRecordSize = sizeof(NukelogEntry);
constexpr int kDefaultCount = 10;

std::string data_file(const char* name) { return std::string(core::session().data_path) + "/logs/" + name; }

// A log or lock file, made root-owned 0644 (whatever the umask and the
// caller) when it is missing.
core::UniqueFd open_site_file(const std::string& path, int flags) {
  core::UniqueFd fd = core::open_file(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
  if (fd) {
    core::ignore_failure(::fchmod(fd.get(), 0644));
    core::ignore_failure(::fchown(fd.get(), 0, 0));
    return fd;
  }
  if (errno != EEXIST) return {};
  return core::open_file(path.c_str(), flags);
}

core::UniqueFd open_for_reading() {
  core::PrivilegeBracket root;
  return core::open_file(nukelog_path().c_str(), O_RDONLY);
}

bool path_is(const NukelogEntry& record, std::string_view path) { return core::full_width_text(record.path) == path; }

}  // namespace

std::string nukelog_path() { return data_file("nukelog"); }

NukelogEntry make_nuke_record(std::string_view nuker, std::string_view nukee, uint16_t multiplier, float amount_mib,
                              std::string_view path, std::string_view reason) {
  NukelogEntry record{};
  record.status = kNuked;
  record.time = static_cast<int32_t>(core::now());
  core::copy_full_width(record.nuker, nuker);
  core::copy_full_width(record.nukee, nukee);
  record.multiplier = multiplier;
  record.amount = amount_mib;
  core::copy_full_width(record.reason, reason);
  core::copy_full_width(record.path, path);
  return record;
}

core::UniqueFd lock_nukes() {
  core::PrivilegeBracket root;
  core::UniqueFd fd = open_site_file(data_file("nukelog.lock"), O_RDWR);
  if (!fd || !core::lock_file(fd.get(), LOCK_EX)) return {};
  return fd;
}

bool nukelog_add(const NukelogEntry& record) {
  core::PrivilegeBracket root;
  core::UniqueFd fd = open_site_file(nukelog_path(), O_WRONLY | O_APPEND);
  if (!fd) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return false;
  // A torn record left by a crash goes first, so the new one starts on a
  // record boundary.
  const off_t whole = static_cast<off_t>(static_cast<std::size_t>(st.st_size) / kRecordSize * kRecordSize);
  if (st.st_size != whole && ::ftruncate(fd.get(), whole) != 0) return false;
  ssize_t written;
  do {
    written = ::write(fd.get(), &record, kRecordSize);
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(kRecordSize)) return true;
  if (written > 0) core::ignore_failure(::ftruncate(fd.get(), whole));
  return false;
}

int nukelog_unnuke(std::string_view path, std::string_view unnuker, std::string_view reason) {
  core::PrivilegeBracket root;
  core::UniqueFd fd = core::open_file(nukelog_path().c_str(), O_RDWR);
  if (!fd) return 0;
  int changed = 0;
  const int32_t now = static_cast<int32_t>(core::now());
  scan_forward<NukelogEntry>(fd.get(), [&](const NukelogEntry& seen, std::size_t index) {
    if (seen.status != kNuked || !path_is(seen, path)) return true;
    NukelogEntry updated = seen;
    updated.status = kUnnuked;
    updated.time = now;
    core::copy_full_width(updated.unnuker, unnuker);
    core::copy_full_width(updated.reason, reason);
    if (write_record_at(fd.get(), index, updated)) ++changed;
    return true;
  });
  return changed;
}

std::optional<uint16_t> nuke_multiplier_of(std::string_view path) {
  std::optional<uint16_t> multiplier;
  core::UniqueFd fd = open_for_reading();
  if (!fd) return multiplier;
  scan_backward<NukelogEntry>(fd.get(), [&](const NukelogEntry& seen, std::size_t) {
    if (seen.status != kNuked || !path_is(seen, path)) return true;
    multiplier = seen.multiplier;
    return false;
  });
  return multiplier;
}

std::vector<NukelogEntry> recent_nukes(NukelogStatus status, int count) {
  std::vector<NukelogEntry> found;
  if (count < 1) count = kDefaultCount;
  core::UniqueFd fd = open_for_reading();
  if (!fd) return found;
  scan_backward<NukelogEntry>(fd.get(), [&](const NukelogEntry& seen, std::size_t) {
    if (seen.status != status) return true;
    found.push_back(seen);
    return static_cast<int>(found.size()) < count;
  });
  return found;
}

}  // namespace releases
