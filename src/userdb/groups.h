// Group helpers other commands rely on: look-up of regular and private
// groups, membership of the work record and group login limits.
#pragma once

#include <string>
#include <string_view>

#include "core/user_record.h"

namespace userdb {

// Looks `name` up in the group file without regard to case and, when
// `include_private` (and, with `check_private_right`, the session user
// passes `-chgrp-priv`), among the `privgroup` lines. On success the name is
// replaced by its stored spelling: 1 found, 0 not.
int find_group(std::string& name, int include_private, int check_private_right);

// The gid a member whose first group is `name` gets in the passwd file: the
// regular group's gid (name compared without regard to case), or 100 when
// there is no such group, none is given, or its gid does not fit the
// passwd file's 16 bits (a larger one would wrap onto another group).
int passwd_gid_of_group(std::string_view name);

// 1 when the work record's groups or private groups hold `name` exactly.
int in_group(const char* name);
// The same test on any record.
bool record_in_group(const core::UserRecord& user, std::string_view name);

// The group's login limit when it has one and the online sessions with that
// gid (`sessions_with_gid`, this one counted) have reached it; otherwise 0.
int group_login_limit(int gid, int sessions_with_gid);


}  // namespace userdb
