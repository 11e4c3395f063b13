// What a top list is asked for: the words after a top-list command or
// directive ("[num] [section] [=group]", any order) and the statistics
// section they name.
#pragma once

#include <string>
#include <string_view>

namespace text {

struct TopListRequest {
  int count = 10;            // rows at most; below 1 asked for means 10
  std::string group_filter;  // without its "="; empty for none
  std::string section_word;  // empty: the section of the current directory
};

// A word beginning with "=" is the group filter, the first all-digit word
// the row count, the first other word the section.
TopListRequest parse_top_list_request(std::string_view arguments);

struct StatsSection {
  int number = 0;
  std::string prefix;  // the section's name before a template name; "" for DEFAULT
};

// The section a request names: a one-character word is the n-th
// `stat_section` line, a longer one the first line of that name (any case)
// with a path; without a word the section of the current directory. No
// such line gives section 0 without a prefix.
StatsSection requested_section(std::string_view word);

}  // namespace text
