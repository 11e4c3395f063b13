// The passwd and group files inside the root: the line formats, the editing
// library (lock, open, locate, update, remove, close) kept once per file,
// and plain look-ups that do not open the editing list.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/user_record.h"

namespace userdb {

// Line formats. A line that does not parse stays text and is written back
// unchanged.
std::optional<core::PasswdEntry> parse_passwd_line(std::string_view line);
std::string format_passwd_line(const core::PasswdEntry& entry);
std::optional<core::GroupEntry> parse_group_line(std::string_view line);
// The logical line; a backslash and newline are inserted after every 8188
// characters.
std::string format_group_line(const core::GroupEntry& entry);

enum class OpenMode { Read, ReadWrite };

// Editing library of the passwd file (`pwd_path`). Results 1 success,
// 0 failure with errno set.
int pw_lock();
int pw_unlock();
int pw_open(OpenMode mode);
const core::PasswdEntry* pw_locate(std::string_view name);
void pw_rewind();
const core::PasswdEntry* pw_next();
int pw_update(const core::PasswdEntry& entry);
int pw_remove(std::string_view name);
int pw_close();
// One account's line changed under the passwd lock, as root: `change` edits
// a copy and returns false to leave the file as it was. 0 when written or
// left alone; otherwise the strings record that says why not: 93 locked,
// 94 unreadable, 99 no such line, 96 not written.
int edit_passwd_line(std::string_view name, const std::function<bool(core::PasswdEntry&)>& change);
// Forgets the list without writing (after a failed close or an aborted edit).
void pw_abandon();

// The same for the group file (`grp_path`).
int gr_lock();
int gr_unlock();
int gr_open(OpenMode mode);
const core::GroupEntry* gr_locate(std::string_view name);
void gr_rewind();
const core::GroupEntry* gr_next();
int gr_update(const core::GroupEntry& entry);
int gr_remove(std::string_view name);
// Renames an entry where it stands, so the file keeps its order.
int gr_rename(std::string_view old_name, std::string_view new_name);
int gr_close();
void gr_abandon();

// Look-ups without the editing list.
std::optional<core::PasswdEntry> next_passwd_entry();  // walks the file; nullopt at the end
void rewind_passwd_entries();
std::optional<core::PasswdEntry> passwd_by_name(std::string_view name);
std::optional<core::PasswdEntry> passwd_by_uid(unsigned uid);
std::optional<core::GroupEntry> next_group_entry();
void rewind_group_entries();
std::optional<core::GroupEntry> group_by_gid(unsigned gid);
std::optional<core::GroupEntry> group_by_name(std::string_view name);
// The user name of a uid, or the number as "%-8u".
std::string user_name_for(unsigned uid);
std::string group_name_for(unsigned gid);
int count_passwd_entries();

// crypt(3) with `salt`, or with a fresh two-character DES salt when salt is
// null. Empty on failure.
std::string crypt_password(const char* clear, const char* salt);
// Whether `clear` hashes to the stored hash ("$1$" hashes as MD5-crypt).
bool password_matches(const char* clear, const char* stored_hash);

// Adds a passwd line for a new account: 0 when added; otherwise the
// strings record that tells why not: 52 bad name, 93 passwd file locked,
// 94 unreadable, 95 the name is taken, 96 no free uid or the write failed.
int add_passwd_user(const char* name, const char* clear_password);
// Removes the account's passwd line; logs its own errors: 0 / 1.
int delete_passwd_user(const char* name);

// Group-name rules of GRPADD and GRPREN.
enum class GroupNameCheck { Good, BadLength, BadCharacter };
GroupNameCheck check_group_name(std::string_view name);

// The gid a new group gets: -1 when the group exists, -2 when no gid is
// free. Walks the open group list.
int allocate_group_id(std::string_view name);

// The bracket around every group command: opens the group file for
// editing (1) or logs why not (0); close_group_file ends it (1 / 0).
int open_group_file();
int close_group_file();

}  // namespace userdb
