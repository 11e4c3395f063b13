// The supplementary groups a session takes at login: what initgroups(3)
// finds in the classic group file inside the root, without the C library's
// name-service machinery, whose set-up (a look for nscd, nsswitch.conf,
// the group file) cost every login about half a millisecond.
#pragma once

#include <sys/types.h>

#include <string_view>
#include <vector>

namespace userdb {

// From the text of a classic group file ("name:password:gid:members"):
// `gid` first, then the gid of every line whose member list (the fourth
// field, comma-separated) names `user`, each gid once. Lines without a
// numeric gid, empty lines and comments count for nothing.
std::vector<gid_t> member_groups(std::string_view group_file, std::string_view user, gid_t gid);

// Sets the process's supplementary groups (root only) from "/etc/group"
// inside the root; false when the kernel refuses them.
bool join_groups(const char* user, gid_t gid);

}  // namespace userdb
