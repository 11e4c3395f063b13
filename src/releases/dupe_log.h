// The dupe log "<datapath>/logs/dupelog": one text line "MMDDYY name" per
// release directory created, searched by SITE DUPE.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace releases {

// "<datapath>/logs/dupelog".
std::string dupe_log_path();

// Appends today's line for the last component of `path`; a log that cannot
// be opened is left alone.
void dupelog_add(std::string_view path);

// What a search found, or why it could not run.
struct DupeLogSearch {
  // 0, or the number of the message that explains the refusal: 359 option
  // without value, 360 bad date, 361 "-max" not a number, 362 "-max" below
  // 1, 363 no search word, 364 no readable log.
  int error = 0;
  std::string option;              // the option 359 and 360 name
  std::vector<std::string> lines;  // the newest `-max` matches, oldest first
  long long matches = 0;
  long long lines_read = 0;
};

// Runs SITE DUPE's arguments against the log: "-from MMDDYY", "-to MMDDYY"
// (inclusive, years below 51 in the 2000s), "-max N" (default 20) and
// search words, all of which a line must contain, case ignored.
DupeLogSearch search_dupelog(std::string_view arguments);

}  // namespace releases
