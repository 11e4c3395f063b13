// CHANGE homedir: the home directory in the passwd file, kept below the
// `min_homedir` prefix.
#pragma once

namespace userdb {

// Sets the passwd home directory of `user_name` to `new_dir` (a trailing
// "/" dropped). 0 when changed; otherwise the strings record that tells
// why not: 97 no `min_homedir`, 98 outside it (or climbing out with "..",
// or holding a colon or a control character), 93 passwd file
// locked, 94 unreadable, 99 no such user, 53 no directory given, 96 the
// write failed.
int set_home_dir(const char* user_name, const char* new_dir);

}  // namespace userdb
