#include "userdb/account_password.h"

#include "core/user_record.h"
#include "userdb/passwd_file.h"

namespace userdb {

int set_account_password(const char* user_name, const std::string& stored) {
  return edit_passwd_line(user_name ? user_name : "", [&](core::PasswdEntry& entry) {
    entry.password = stored;
    return true;
  });
}

}  // namespace userdb
