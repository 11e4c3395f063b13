// Top-list arguments and the section they select.
#include "text/top_list_request.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/session.h"
#include "online/online_table.h"

namespace text {
namespace {

bool all_digits(std::string_view word) {
  return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Counts beyond this are as good as "all" and keep atoi-style overflow out.
constexpr int kMostRows = 1000000;

int row_count(std::string_view digits) {
  long long value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
    if (value > kMostRows) return kMostRows;
  }
  return static_cast<int>(value);
}

StatsSection section_of_line(int number, const config::ConfigEntry& line) {
  StatsSection section{number, line.arg(1) ? line.arg(1) : ""};
  if (section.prefix == "DEFAULT") section.prefix.clear();
  return section;
}

}  // namespace

TopListRequest parse_top_list_request(std::string_view arguments) {
  TopListRequest request;
  bool count_given = false;
  std::size_t at = 0;
  while ((at = arguments.find_first_not_of(" \t", at)) != std::string_view::npos) {
    const std::size_t end = std::min(arguments.find_first_of(" \t", at), arguments.size());
    const std::string_view word = arguments.substr(at, end - at);
    at = end;
    if (word[0] == '=') {
      if (request.group_filter.empty()) request.group_filter = word.substr(1);
    } else if (all_digits(word) && !count_given) {
      request.count = row_count(word);
      count_given = true;
    } else if (request.section_word.empty()) {
      request.section_word = word;
    }
  }
  if (request.count < 1) request.count = 10;
  return request;
}

StatsSection requested_section(std::string_view word) {
  if (word.empty()) {
    const online::OnlineEntry* own = online::own_entry();
    const std::string directory = own ? std::string(online::field_text(own->currentdir)) : core::session().cwd;
    std::string name;
    StatsSection section{config::section_name_of(directory.c_str(), name), name};
    if (section.prefix == "DEFAULT") section.prefix.clear();
    if (section.number < 0 || section.number > 9) section.number = 0;
    return section;
  }
  const std::string wanted(word);
  const int wanted_number = word.size() == 1 ? std::atoi(wanted.c_str()) : -1;
  int number = 0;
  const config::ConfigEntry* cursor = nullptr;
  for (; const config::ConfigEntry* line = config::next_config("stat_section", cursor); ++number) {
    if (number >= core::kMaxSections) break;
    if (wanted_number >= 0) {
      if (number == wanted_number) return section_of_line(number, *line);
    } else if (line->arg(1) && line->arg(2) && strcasecmp(line->arg(1), wanted.c_str()) == 0) {
      return section_of_line(number, *line);
    }
  }
  return StatsSection{};
}

}  // namespace text
