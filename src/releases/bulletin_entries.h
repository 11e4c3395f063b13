// Where the bulletin files are configured and the layouts of their entries:
// requests and oneliners ("posted" entries: time and author, then the text)
// and the last-online entries.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "releases/bounded_list.h"

namespace releases {

// A `requests`, `oneliners` or `lastonline` configuration line: path,
// maximum and the optional third word. A line without a path or with a
// maximum below 1 is not configured.
struct BulletinFile {
  std::string path;
  int maximum = 0;
  int third = 0;
};
std::optional<BulletinFile> bulletin_file(const char* key);

// The text widths of the second line.
inline constexpr int kRequestWidth = 75;
inline constexpr int kOnelinerWidth = 57;

// "%-24.24s%-24.24s" of the time ("%ld") and the author, then the text
// padded or cut to `width`; control characters in the text become blanks.
ListEntry posted_entry(time_t when, std::string_view author, std::string_view text, int width);

struct PostedEntry {
  time_t when = 0;
  std::string author;  // trailing blanks removed
  std::string text;    // trailing blanks removed
};
PostedEntry read_posted_entry(const ListEntry& entry);

// What a finished session did, for its last-online entry.
struct SessionSummary {
  std::string user;
  std::string group;
  std::string tagline;
  time_t login = 0;   // site time stamps
  time_t logout = 0;
  uint64_t bytes_up = 0, bytes_down = 0;
  int files_up = 0, files_down = 0;
  bool lost = false;       // ended through a termination signal
  bool timed_out = false;
  bool added_user = false;
  bool nuked = false;
};

// The two lines: "%-11.11s %-9.9s %-21.21s %-5.5s %-5.5s" of user, group,
// tagline, login and logout ("%H:%M"), then the amounts up and down and the
// letters U D L T A N.
ListEntry last_online_entry(const SessionSummary& session);

// An amount field of exactly five characters padded with "-": "%.0fM" of
// bytes / 1024000 above 1024000 bytes, else "%.0fK" of bytes / 1024; all
// "-" when nothing moved.
std::string moved_amount(uint64_t bytes, int files);

}  // namespace releases
