// The one walk of the users directory "%s/users": the userfiles in the
// order the directory returns them, never a lock file, a writer's temporary
// file or anything but a regular file, and the templates only when asked.
// Records are read without waiting on or breaking userfile locks: every
// writer replaces a userfile whole by rename, so a reader meets either the
// old record or the new one.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

#include "core/user_record.h"

namespace userdb {

enum class Templates { kSkip, kInclude };
enum class Contents { kNone, kText, kRecord };

struct UserfileEntry {
  std::string_view name;
  uid_t owner = 0;
  gid_t group = 0;
  ino_t inode = 0;
  std::string_view text;                     // Contents::kText and kRecord
  const core::UserRecord* record = nullptr;  // Contents::kRecord
};

// Returns false to end the walk early.
using UserfileVisitor = std::function<bool(const UserfileEntry&)>;

// "%s/users" under the data path.
std::string users_directory();

// Visits every userfile; with contents asked for, a file that cannot be
// read is passed over. False when the directory cannot be opened.
bool walk_users(Templates templates, Contents contents, const UserfileVisitor& visit);

// Reads the userfile of `name` into `record` without waiting on its lock
// and without touching the work or session records; false when there is
// no such readable regular file.
bool read_user_record(std::string_view name, core::UserRecord& record);

// "default." and a name: the templates new accounts are made from.
bool is_template_name(std::string_view name);
// "%s.lock": the per-user lock files.
bool is_lock_file_name(std::string_view name);
// "%s.%u": a userfile being rewritten by process %u. No account name ends
// in a dot and digits, so such a name is never a user.
bool is_writer_temporary_name(std::string_view name);

}  // namespace userdb
