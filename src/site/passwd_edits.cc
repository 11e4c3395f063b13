// One-line passwd edits under the passwd lock.
#include "site/passwd_edits.h"

#include "core/user_record.h"
#include "userdb/groups.h"
#include "userdb/passwd_file.h"

namespace site {
namespace {

constexpr int kLocked = 93, kUnreadable = 94, kNameTaken = 95, kUnwritten = 96, kNoSuchLine = 99;

// Opens the passwd file for one edit; 0 or the record telling why not.
int open_for_edit() {
  if (!userdb::pw_lock()) return kLocked;
  if (!userdb::pw_open(userdb::OpenMode::ReadWrite)) {
    userdb::pw_unlock();
    return kUnreadable;
  }
  return 0;
}

// Ends an edit: writes the file when `keep`, otherwise drops the changes.
int finish_edit(bool keep) {
  int result = 0;
  if (!keep || !userdb::pw_close()) {
    userdb::pw_abandon();
    result = kUnwritten;
  }
  userdb::pw_unlock();
  return result;
}

int abandon_edit(int reason) {
  userdb::pw_abandon();
  userdb::pw_unlock();
  return reason;
}

}  // namespace

unsigned group_gid_for_passwd(const char* group) {
  return static_cast<unsigned>(userdb::passwd_gid_of_group(group ? group : ""));
}

int set_passwd_gid(const std::string& name, unsigned gid) {
  return userdb::edit_passwd_line(name, [&](core::PasswdEntry& entry) {
    entry.gid = static_cast<uint16_t>(gid);
    return true;
  });
}

int rename_passwd_user(const std::string& old_name, const std::string& new_name) {
  if (const int refused = open_for_edit()) return refused;
  if (userdb::pw_locate(new_name)) return abandon_edit(kNameTaken);
  const core::PasswdEntry* found = userdb::pw_locate(old_name);
  if (!found) return abandon_edit(kNoSuchLine);
  core::PasswdEntry renamed = *found;
  renamed.name = new_name;
  // The line moves to the end of the file; its uid keeps the files the
  // account owns.
  const bool changed = userdb::pw_remove(old_name) != 0 && userdb::pw_update(renamed) != 0;
  return finish_edit(changed);
}

}  // namespace site
