// Edits of one existing passwd line that the account commands make: the
// gid of a new account and the name of a renamed one. Each runs inside the
// passwd file's lock and returns 0, or the strings record that tells why
// nothing changed.
#pragma once

#include <string>

namespace site {

// The gid of every passwd line whose account has no group.
inline constexpr unsigned kGrouplessGid = 100;

// The gid a new account's passwd line gets from its first group: the
// group's gid in the group file, or 100 when the group is not there or its
// gid is no 16-bit number.
unsigned group_gid_for_passwd(const char* group);

// 93 not locked, 94 not opened, 99 no such line, 96 not written.
int set_passwd_gid(const std::string& name, unsigned gid);

// Renames the line of `old_name`, keeping password, ids, date, home and
// shell. 95 when `new_name` has a line already; otherwise as above.
int rename_passwd_user(const std::string& old_name, const std::string& new_name);

}  // namespace site
