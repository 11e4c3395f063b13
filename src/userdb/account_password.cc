#include "userdb/account_password.h"

#include "core/privilege.h"
#include "core/user_record.h"
#include "userdb/passwd_file.h"

namespace userdb {

int set_account_password(const char* user_name, const std::string& stored) {
  core::PrivilegeBracket privileged;
  if (!pw_lock()) return 93;
  if (!pw_open(OpenMode::ReadWrite)) {
    pw_unlock();
    return 94;
  }
  const core::PasswdEntry* found = pw_locate(user_name ? user_name : "");
  if (!found) {
    pw_abandon();
    pw_unlock();
    return 99;
  }
  core::PasswdEntry changed = *found;
  changed.password = stored;
  int result = 0;
  if (!pw_update(changed) || !pw_close()) {
    pw_abandon();
    result = 96;
  }
  pw_unlock();
  return result;
}

}  // namespace userdb
