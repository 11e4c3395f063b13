// The optional in-memory copy of every userfile, keyed by the inode the
// file had when it was read: every write replaces a userfile by rename, so
// a changed inode means a changed file.
#pragma once

#include <sys/types.h>

#include <vector>

#include "core/user_record.h"

namespace userdb {

struct CachedUser {
  ino_t inode = 0;
  core::UserRecord record;
};

// load_user with the cache on: fills the work record from the cache or,
// when the file changed, from the file. 0 success, 1 failure.
int load_user_cached(const char* name);

// The cached records, reloaded first when the users directory changed since
// they were read. Empty when the cache is off.
const std::vector<CachedUser>& cached_users();

}  // namespace userdb
