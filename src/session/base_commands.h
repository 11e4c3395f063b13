// The small commands of the session core that touch files or the user's
// own settings: SIZE, MDTM, the personal SITE commands and the final reply
// of a directory change. The FTP handlers are in session/session_commands.h;
// these are the pieces they share and tests drive directly.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace session {

// Bytes a file takes after LF becomes CR LF; nullopt (errno set) when it
// cannot be read.
std::optional<uint64_t> ascii_size(int fd);

// "YYYYMMDDHHMMSS" of a modification time in UTC, as RFC 3659 defines it.
std::string mdtm_text(time_t modified);

// The path MDTM and SITE CHMOD act on: resolved below home like every
// other client path, so ".." cannot climb out of it.
std::string client_file_path(std::string_view path);

int size_command(const char* path);
int mdtm_command(const char* path);

// SITE TAGLINE with text: the refusal (string 234) leaves everything as it
// was. 0 on success.
int set_tagline(const char* text);
// SITE TIME.
void show_time();
struct Duration {
  long long days = 0, hours = 0, minutes = 0;
};
Duration split_duration(long long seconds);
// Seconds from `now` (site time) to the next weekly statistics reset.
long long seconds_to_week_end(time_t now, bool monday_first);
// SITE COLOR with "on", "off", nothing (toggle) or anything else (show).
int set_colour(std::string_view argument);

// The final 250 reply of CWD, RMD and RNTO ("CWD" also shows the texts of
// the new directory and updates the session's place).
void directory_ack(const char* command);

// The path RMD and DELE act on: a link itself, anything else where the
// links on the way lead.
std::string path_to_delete(const std::string& name);
// The `delete` rule, or `deleteown` for what the user owns (the file's owner
// is the process's user id), matched as `kind` (config::kPathIsFile or
// kPathIsDirectory); the path must also be outside private paths and
// inside home.
bool may_delete(const std::string& path, const struct stat& st, int kind);
// rmdir plus the DELDIR event line and dirlog record of a logged area.
// A failure is answered with perror_reply: `busy_code` for EBUSY, else 550.
bool remove_directory(const std::string& path, const std::string& name, int busy_code);

// RNTO's rename: `from` becomes `to` unless `to` exists at that very
// moment, even when it appeared after every earlier check; nothing is ever
// replaced. `directory` says what `from` is. Failed leaves errno set.
enum class Moved { Done, TargetExists, Failed };
Moved move_without_replacing(const std::string& from, const std::string& to, bool directory);

}  // namespace session
