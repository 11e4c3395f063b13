// The passwd and group readers: a passwd file and a group file (the input
// split at a "----" line) walked by the plain look-ups and by the editing
// library, which writes each file back after one change; each line a
// reader understood must format to a line that reads back the same.
#include "fuzz_support.h"
#include "userdb/groups.h"
#include "userdb/passwd_file.h"

namespace {

template <typename Entry, typename Parse, typename Format>
void check_round_trip(const Entry& entry, Parse parse, Format format) {
  const std::string line = format(entry);
  const std::optional<Entry> again = parse(line.substr(0, line.find_last_not_of('\n') + 1));
  if (!again || format(*again) != line) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_state();
  core::Session& s = core::session();
  const std::string passwd = fuzz::scratch_path("passwd");
  const std::string group = fuzz::scratch_path("group");
  std::snprintf(s.passwd_path, sizeof s.passwd_path, "%s", passwd.c_str());
  std::snprintf(s.group_path, sizeof s.group_path, "%s", group.c_str());
  const auto parts = fuzz::split_input(std::string_view(reinterpret_cast<const char*>(data), size), 2);
  fuzz::write_file(passwd, parts[0]);
  fuzz::write_file(group, parts[1]);

  userdb::rewind_passwd_entries();
  while (const auto entry = userdb::next_passwd_entry())
    check_round_trip(*entry, userdb::parse_passwd_line, userdb::format_passwd_line);
  userdb::rewind_group_entries();
  while (const auto entry = userdb::next_group_entry())
    check_round_trip(*entry, userdb::parse_group_line, userdb::format_group_line);
  userdb::passwd_by_uid(100);
  userdb::group_name_for(100);
  std::string name = "Staff";
  userdb::find_group(name, 1, 0);
  userdb::passwd_gid_of_group("staff");
  userdb::count_passwd_entries();

  if (userdb::pw_lock()) {
    if (userdb::pw_open(userdb::OpenMode::ReadWrite)) {
      if (const core::PasswdEntry* first = userdb::pw_next()) {
        core::PasswdEntry changed = *first;
        changed.gecos = "changed";
        userdb::pw_update(changed);
      }
      userdb::pw_close();
    }
    userdb::pw_unlock();
  }
  if (userdb::gr_lock()) {
    if (userdb::gr_open(userdb::OpenMode::ReadWrite)) {
      if (const core::GroupEntry* first = userdb::gr_next()) userdb::gr_rename(first->name, "renamed");
      userdb::gr_close();
    }
    userdb::gr_unlock();
  }
  userdb::rewind_passwd_entries();
  userdb::rewind_group_entries();
  return 0;
}
