// The requests, oneliners and last-online entries as continuation lines:
// the %REQS, %ONEL and %LASTON directives and the lists of SITE REQUEST,
// ONEL and LASTON.
#include <ctime>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/strings.h"
#include "releases/bulletin_entries.h"
#include "text/cookie_values.h"
#include "text/list_directives.h"

namespace text {
namespace {

enum Strings {
  kLastOnlineEntry = 25,
  kRequestsOff = 149,
  kRequestsUnreadable = 151,
  kRequestLine = 152,
  kLastOnlineOff = 570,
  kOnelinersUnreadable = 571,
  kOnelinerLine = 572,
  kOnelinersOff = 573,
};

// The entries of a configured bulletin file; false (after the continuation
// line `off` or `unreadable`) when there are none to show.
bool load_entries(int code, const char* key, int off, int unreadable,
                  std::vector<releases::ListEntry>& entries) {
  const std::optional<releases::BulletinFile> file = releases::bulletin_file(key);
  if (!file) {
    core::string_reply(code, off, 1);
    return false;
  }
  if (!releases::read_list(file->path, entries)) {
    if (unreadable != 0) core::string_reply(code, unreadable, 1);
    return false;
  }
  return true;
}

// "%02d%02d !Z%-9.9s": month, day and author of a oneliner.
std::string oneliner_prefix(const releases::PostedEntry& posted) {
  struct tm local {};
  const time_t when = posted.when;
  if (!localtime_r(&when, &local)) local = {};
  return core::format("%02d%02d !Z%-9.9s", {local.tm_mon + 1, local.tm_mday, posted.author});
}

}  // namespace

int show_request_list(int code) {
  std::vector<releases::ListEntry> entries;
  if (!load_entries(code, "requests", kRequestsOff, kRequestsUnreadable, entries)) return 0;
  int number = 0;
  for (const releases::ListEntry& entry : entries) {
    const releases::PostedEntry posted = releases::read_posted_entry(entry);
    core::string_reply(code, kRequestLine, 1, ++number, posted.author, collapse_white_space(posted.text));
  }
  return number;
}

int show_oneliner_list(int code) {
  std::vector<releases::ListEntry> entries;
  if (!load_entries(code, "oneliners", kOnelinersOff, kOnelinersUnreadable, entries)) return 0;
  for (const releases::ListEntry& entry : entries) {
    const releases::PostedEntry posted = releases::read_posted_entry(entry);
    core::string_reply(code, kOnelinerLine, 1, oneliner_prefix(posted), collapse_white_space(posted.text));
  }
  return static_cast<int>(entries.size());
}

int show_last_online_list(int code) {
  std::vector<releases::ListEntry> entries;
  if (!load_entries(code, "lastonline", kLastOnlineOff, 0, entries)) return 0;
  for (const releases::ListEntry& entry : entries)
    core::string_reply(code, kLastOnlineEntry, 1, entry.first, entry.second);
  return static_cast<int>(entries.size());
}

}  // namespace text
