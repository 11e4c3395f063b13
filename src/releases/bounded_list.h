// The bounded bulletin files (requests, oneliners, the last-online list):
// text files of two-line entries, oldest first, that every session may
// rewrite. They live here, beside the directory and nuke logs, because like
// those they are site-wide record files that many processes change at once
// and that no single user owns; the commands and text files above decide
// what to reply, this store only keeps the files whole.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace releases {

// One entry: two lines, each kept without its newline.
struct ListEntry {
  std::string first;
  std::string second;
};

enum class ListStatus {
  Done,
  CannotCreate,  // the lock or the temporary file could not be made
  CannotRead,    // the file exists but could not be read
  CannotWrite,   // writing, closing or renaming the temporary file failed
  NoSuchEntry,
};

// The whole entries of the file in order. A missing file has none; false
// when it exists but cannot be read.
bool read_list(const std::string& path, std::vector<ListEntry>& entries);

// Appends `entry`: afterwards the file holds the newest
// min(maximum, n + 1) entries (a maximum below 1 keeps only the new one).
ListStatus add_to_list(const std::string& path, int maximum, const ListEntry& entry);

// Removes entry `number` (1 is the oldest) and gives it back in `removed`;
// NoSuchEntry leaves the file as it was.
ListStatus remove_from_list(const std::string& path, long long number, ListEntry& removed);

// The file text as entries: lines are taken whole, whatever their length,
// and a last line without a partner is no entry.
std::vector<ListEntry> parse_list(std::string_view text);
std::string format_list(std::span<const ListEntry> entries);

}  // namespace releases
