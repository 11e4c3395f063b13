// Userfiles "%s/users/%s": reading into the work record, writing back
// through a temporary file and rename, the per-user lock files and the
// flag letters.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

#include "core/user_record.h"

namespace userdb {

// The record every load fills and every administrative command edits.
core::UserRecord& work_user();

// The home directory a template's HOMEDIR line asked for while an account
// is being created; empty when none. add_passwd_user consumes it.
std::string& pending_home_dir();
// The name of the account being created from a template, which replaces
// "$mruser" in HOMEDIR; empty otherwise.
std::string& account_being_created();

// Names that can be a userfile: not empty, at most 23 characters, no "/",
// not "." or "..".
bool valid_user_name(std::string_view name);

// "%s/users/%s" under the data path.
std::string userfile_path(std::string_view name);

// Fills the work record from the userfile, without locking: 0 or 1.
int read_userfile(const char* name);
// Waits for another process's lock, then fills the work record from the
// cache or the file: 0 success, 1 failure.
int load_user(const char* name);
// Takes the user's lock, then as load_user. On success the caller ends with
// write_user or unlock_user.
int lock_and_load_user(const char* name);
// Writes `record` to its userfile and releases its lock: 1 only when the
// temporary file could not be made or the target is not a regular file.
int write_user(const core::UserRecord& record);
// Writes two records that change together (credits moved from one user to
// another): both new files are written in full before either replaces its
// userfile, so a failure changes neither, and a process killed between the
// two renames leaves the second file whole for the next taker of its stale
// lock to put in place. Releases both locks; 0 when both were written.
int write_users_together(const core::UserRecord& first, const core::UserRecord& second);
void unlock_user(const char* name);
// 1 when "%s/users/%s" is a regular file and the name is not a lock file.
int user_exists(const char* name);

// Number of statistics sections the userfile lines carry (1 to 10 when
// `stat_section` lines exist, else 0).
int userfile_section_count();

// Pure text conversions, used by the file functions above.
// `today` is the current local time (with the timezone offset) that decides
// whether time_today is still valid; `home_dir` receives a HOMEDIR value.
void parse_userfile(std::string_view text, std::string_view name, int section_count,
                    time_t today, core::UserRecord& record, std::string* home_dir);
std::string format_userfile(const core::UserRecord& record, int section_count);


// The cache of every userfile, on when `user_cache` is set.
void load_all_users();
void free_user_cache();
bool user_cache_enabled();

}  // namespace userdb
