// The transfer log "%s/logs/xferlog": one line per download or upload, in
// the classic xferlog layout that log analysers read.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace transfer {

// What one line records.
struct XferlogRecord {
  time_t when = 0;          // now plus the timezone offset
  int seconds = 0;          // transfer time
  std::string_view remote_host;
  long long bytes = 0;
  std::string_view path;
  bool ascii = false;
  char direction = 'o';     // 'o' download, 'i' upload
  std::string_view login_name;
  std::string_view group;   // primary group; "ftp" when empty
  bool ident_known = false;
  std::string_view ident_user;
};

// The line with its newline. White space and control characters in the
// path become '?', so the line keeps its fields.
std::string xferlog_line(const XferlogRecord& record);

// Appends a line for the session's current transfer (as root; a log that
// cannot be opened is skipped silently).
void xferlog_write(int seconds, long long bytes, std::string_view path, char direction);

}  // namespace transfer
