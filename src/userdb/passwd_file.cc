// The two instances of the editing library (passwd and group file), the
// plain look-ups, and the account and group operations built on them.
#include "userdb/passwd_file.h"

#include <cerrno>
#include <ctime>

#include "core/file_io.h"
#include "core/format.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/strings.h"
#include "userdb/editable_file.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

const char* passwd_path() { return core::session().passwd_path; }
const char* group_path() { return core::session().group_path; }

EditableFile<core::PasswdEntry>& passwd_file() {
  static EditableFile<core::PasswdEntry> file(passwd_path, {parse_passwd_line, format_passwd_line, false});
  return file;
}

EditableFile<core::GroupEntry>& group_file() {
  static EditableFile<core::GroupEntry> file(group_path, {parse_group_line, format_group_line, true});
  return file;
}

// The look-up stream: the file's entries read afresh on each rewind.
template <typename Entry>
struct LookupStream {
  std::vector<Entry> entries;
  std::size_t position = 0;
  bool loaded = false;
};

template <typename Entry>
void load_stream(LookupStream<Entry>& stream, const char* path, const LineFormat<Entry>& format) {
  stream.entries.clear();
  stream.position = 0;
  stream.loaded = true;
  std::string bytes;
  {
    core::PrivilegeBracket privileged;
    if (!core::read_file(path, bytes)) return;
  }
  for (auto& node : split_into_nodes(bytes, format))
    if (node.entry) stream.entries.push_back(std::move(*node.entry));
}

LookupStream<core::PasswdEntry>& passwd_stream() {
  static LookupStream<core::PasswdEntry> stream;
  return stream;
}

LookupStream<core::GroupEntry>& group_stream() {
  static LookupStream<core::GroupEntry> stream;
  return stream;
}

const LineFormat<core::PasswdEntry> kPasswdFormat{parse_passwd_line, format_passwd_line, false};
const LineFormat<core::GroupEntry> kGroupFormat{parse_group_line, format_group_line, true};

std::string today_gecos() {
  time_t now = time(nullptr);
  struct tm local{};
  char buffer[16] = {};
  if (localtime_r(&now, &local)) strftime(buffer, sizeof buffer, "%m-%d-%y", &local);
  return buffer;
}

// Uids from here up belong to nobody-style accounts; a new account never
// gets one, nor wraps past 65535 into the root account's uid.
constexpr unsigned kHighestNewUid = 65533;

}  // namespace

int pw_lock() { return passwd_file().lock(); }
int pw_unlock() { return passwd_file().unlock(); }
int pw_open(OpenMode mode) { return passwd_file().open(mode); }
const core::PasswdEntry* pw_locate(std::string_view name) { return passwd_file().locate(name); }
void pw_rewind() { passwd_file().rewind(); }
const core::PasswdEntry* pw_next() { return passwd_file().next(); }
int pw_update(const core::PasswdEntry& entry) { return passwd_file().update(entry); }
int pw_remove(std::string_view name) { return passwd_file().remove(name); }
int pw_close() { return passwd_file().close(); }

int edit_passwd_line(std::string_view name, const std::function<bool(core::PasswdEntry&)>& change) {
  core::PrivilegeBracket privileged;
  if (!pw_lock()) return 93;
  if (!pw_open(OpenMode::ReadWrite)) {
    pw_unlock();
    return 94;
  }
  const core::PasswdEntry* found = pw_locate(name);
  if (!found) {
    pw_abandon();
    pw_unlock();
    return 99;
  }
  core::PasswdEntry changed = *found;
  int result = 0;
  if (!change(changed)) {
    pw_abandon();
  } else if (!pw_update(changed) || !pw_close()) {
    pw_abandon();
    result = 96;
  }
  pw_unlock();
  return result;
}
void pw_abandon() { passwd_file().discard(); }

int gr_lock() { return group_file().lock(); }
int gr_unlock() { return group_file().unlock(); }
int gr_open(OpenMode mode) { return group_file().open(mode); }
const core::GroupEntry* gr_locate(std::string_view name) { return group_file().locate(name); }
void gr_rewind() { group_file().rewind(); }
const core::GroupEntry* gr_next() { return group_file().next(); }
int gr_update(const core::GroupEntry& entry) { return group_file().update(entry); }
int gr_remove(std::string_view name) { return group_file().remove(name); }
int gr_rename(std::string_view old_name, std::string_view new_name) {
  return group_file().rename(old_name, new_name);
}
int gr_close() { return group_file().close(); }
void gr_abandon() { group_file().discard(); }

void rewind_passwd_entries() { load_stream(passwd_stream(), passwd_path(), kPasswdFormat); }

std::optional<core::PasswdEntry> next_passwd_entry() {
  LookupStream<core::PasswdEntry>& stream = passwd_stream();
  if (!stream.loaded) rewind_passwd_entries();
  if (stream.position >= stream.entries.size()) return std::nullopt;
  return stream.entries[stream.position++];
}

std::optional<core::PasswdEntry> passwd_by_name(std::string_view name) {
  rewind_passwd_entries();
  for (const core::PasswdEntry& entry : passwd_stream().entries)
    if (entry.name == name) return entry;
  return std::nullopt;
}

std::optional<core::PasswdEntry> passwd_by_uid(unsigned uid) {
  rewind_passwd_entries();
  for (const core::PasswdEntry& entry : passwd_stream().entries)
    if (entry.uid == uid) return entry;
  return std::nullopt;
}

void rewind_group_entries() { load_stream(group_stream(), group_path(), kGroupFormat); }

std::optional<core::GroupEntry> next_group_entry() {
  LookupStream<core::GroupEntry>& stream = group_stream();
  if (!stream.loaded) rewind_group_entries();
  if (stream.position >= stream.entries.size()) return std::nullopt;
  return stream.entries[stream.position++];
}

std::optional<core::GroupEntry> group_by_gid(unsigned gid) {
  rewind_group_entries();
  for (const core::GroupEntry& entry : group_stream().entries)
    if (entry.gid >= 0 && static_cast<unsigned>(entry.gid) == gid) return entry;
  return std::nullopt;
}

std::optional<core::GroupEntry> group_by_name(std::string_view name) {
  rewind_group_entries();
  for (const core::GroupEntry& entry : group_stream().entries)
    if (entry.name == name) return entry;
  return std::nullopt;
}

std::string user_name_for(unsigned uid) {
  if (auto entry = passwd_by_uid(uid)) return entry->name;
  return core::format("%-8u", {uid});
}

std::string group_name_for(unsigned gid) {
  if (auto entry = group_by_gid(gid)) return entry->name;
  return core::format("%-8u", {gid});
}

int count_passwd_entries() {
  rewind_passwd_entries();
  return static_cast<int>(passwd_stream().entries.size());
}

int add_passwd_user(const char* name, const char* clear_password) {
  if (!name || std::string_view(name).size() > 23) {
    return 52;
  }
  if (!pw_lock()) {
    return 93;
  }
  if (!pw_open(OpenMode::ReadWrite)) {
    pw_unlock();
    return 94;
  }
  // The next uid carries over between additions in one process.
  static unsigned next_uid = 100;
  std::vector<bool> uid_taken(65536, false);
  pw_rewind();
  while (const core::PasswdEntry* entry = pw_next()) {
    if (entry->name == name) {
      pw_close();
      pw_unlock();
      return 95;
    }
    uid_taken[entry->uid] = true;
    if (entry->uid <= kHighestNewUid && entry->uid >= next_uid) next_uid = entry->uid + 1u;
  }
  if (next_uid > kHighestNewUid || uid_taken[next_uid]) {
    next_uid = 100;
    while (next_uid <= kHighestNewUid && uid_taken[next_uid]) ++next_uid;
  }
  if (next_uid > kHighestNewUid) {
    pw_close();
    pw_unlock();
    return 96;
  }

  core::Session& s = core::session();
  core::PasswdEntry entry;
  entry.name = name;
  entry.password = crypt_password(clear_password ? clear_password : "", nullptr);
  entry.uid = static_cast<uint16_t>(next_uid);
  entry.gid = 100;
  entry.gecos = today_gecos();
  if (core::has_flag(s.user.flags, core::flag::kGadmin) && !s.account.dir.empty())
    entry.dir = s.account.dir;
  else
    entry.dir = pending_home_dir().empty() ? "/" : pending_home_dir();
  entry.shell = "/bin/false";
  pending_home_dir().clear();

  if (entry.password.empty() || !pw_update(entry)) {
    pw_close();
    pw_unlock();
    return 96;
  }
  if (!pw_close()) {
    passwd_file().discard();
    pw_unlock();
    return 96;
  }
  pw_unlock();
  return 0;
}

int delete_passwd_user(const char* name) {
  if (!name || !passwd_by_name(name)) {
    core::error_log("Could not delete %s from passwd: can't find user", name ? name : "");
    return 1;
  }
  if (!pw_lock()) {
    core::error_log("Could not delete %s from passwd: can't lock passwd", name);
    return 1;
  }
  if (!pw_open(OpenMode::ReadWrite)) {
    core::error_log("Could not delete %s from passwd: can't open passwd", name);
    pw_unlock();
    return 1;
  }
  if (!pw_remove(name)) {
    core::error_log("Could not delete %s from passwd: remove failed", name);
    pw_close();
    pw_unlock();
    return 1;
  }
  int result = 0;
  if (!pw_close()) {
    passwd_file().discard();
    result = 1;
  }
  pw_unlock();
  return result;
}

int allocate_group_id(std::string_view name) {
  // 100 is the gid of every passwd entry without a group, so a new group
  // never gets it: its members would share the gid with the groupless.
  constexpr int kFirst = 200, kLast = 60000, kStep = 100;
  auto taken = [](int gid) {
    gr_rewind();
    while (const core::GroupEntry* entry = gr_next())
      if (entry->gid == gid) return true;
    return false;
  };
  int candidate = kFirst;
  gr_rewind();
  while (const core::GroupEntry* entry = gr_next()) {
    if (entry->name == name) return -1;
    if (entry->gid >= candidate && entry->gid <= kLast) candidate = entry->gid + kStep;
  }
  // Past the top (where an odd entry above 60000 may hold the candidate):
  // the lowest free step instead.
  if (candidate <= kLast) return candidate;
  for (candidate = kFirst; candidate <= kLast; candidate += kStep)
    if (!taken(candidate)) return candidate;
  return -2;
}

int open_group_file() {
  if (group_file().is_open() && !gr_close()) {
    core::error_log("Unable to close group file");
    group_file().discard();
  }
  gr_unlock();
  if (!gr_lock()) {
    core::error_log("Unable to lock group file");
    return 0;
  }
  if (!gr_open(OpenMode::ReadWrite)) {
    core::error_log("Unable to open group file");
    gr_unlock();
    return 0;
  }
  return 1;
}

int close_group_file() {
  int result = 1;
  if (!gr_close()) {
    core::error_log("Unable to close group file");
    group_file().discard();
    result = 0;
  }
  gr_unlock();
  return result;
}

}  // namespace userdb
