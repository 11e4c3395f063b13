// The built-in listing engine behind LIST, NLST and STAT with a path:
// switches, collection below the home directory (private paths and hidden
// names left out), sorting, recursion and printing to any output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fs/listing_output.h"

namespace fs {

// The path a listing argument names: resolved with links followed; a
// result outside the home directory becomes the home directory itself.
std::string listing_path(std::string_view argument);

// What a listing leaves out, read from the configuration once per listing:
// private paths and names matching a `hidden_files` pattern.
class ListingFilter {
 public:
  ListingFilter();
  // Whether a listing shows `name` at `path`.
  bool shows(std::string_view path, std::string_view name) const;

 private:
  std::vector<std::string> hidden_patterns_;
  bool has_private_paths_ = false;
};

// Lists `argument` (switches, then a file argument; "." when none) to
// `out`. `nlst` selects the one-per-line default and no colour. Returns
// the number of entries or directories that could not be read (0: all).
int list_files(std::string_view argument, bool nlst, ListingOutput& out);

// The fact lines of MLSD (the entries of the directory `argument`, "."
// when empty) or MLST (`single_entry`: the one entry `argument` names),
// with the entries LIST would show and no others. The argument is a path,
// never switches or a pattern. Returns as list_files does.
int list_machine(std::string_view argument, bool single_entry, ListingOutput& out);

// LIST (`long_listing`) and NLST of `argument`: the '*' limit of `lslong`,
// pattern expansion, the data connection and the final reply. 0 success.
int send_listing(const std::string& argument, bool long_listing);

}  // namespace fs
