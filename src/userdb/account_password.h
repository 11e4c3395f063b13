// CHPASS and PASSWD: the password field of an account's passwd line.
#pragma once

#include <string>

namespace userdb {

// Stores `stored` (a crypt hash, or "*" / "@" with their login meaning) as
// the password of `user_name`. 0 when stored; otherwise the strings record
// that tells why not: 93 passwd file locked, 94 unreadable, 99 no such
// account, 96 the write failed.
int set_account_password(const char* user_name, const std::string& stored);

}  // namespace userdb
