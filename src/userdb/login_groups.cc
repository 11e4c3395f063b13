// Supplementary groups at login, from the classic group file.
#include "userdb/login_groups.h"

#include <grp.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "core/file_io.h"

namespace userdb {
namespace {

// The field after the `n`th colon of `line`, or empty when it has fewer.
std::string_view field(std::string_view line, int n) {
  for (int i = 0; i < n; ++i) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return {};
    line.remove_prefix(colon + 1);
  }
  return line.substr(0, line.find(':'));
}

bool lists_member(std::string_view members, std::string_view user) {
  while (!members.empty()) {
    const std::size_t comma = members.find(',');
    if (members.substr(0, comma) == user) return true;
    if (comma == std::string_view::npos) break;
    members.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

std::vector<gid_t> member_groups(std::string_view group_file, std::string_view user, gid_t gid) {
  std::vector<gid_t> groups{gid};
  while (!group_file.empty()) {
    const std::size_t newline = group_file.find('\n');
    const std::string_view line = group_file.substr(0, newline);
    group_file.remove_prefix(newline == std::string_view::npos ? group_file.size() : newline + 1);
    if (line.empty() || line.front() == '#' || !lists_member(field(line, 3), user)) continue;
    const std::string_view number = field(line, 2);
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size()) continue;
    const gid_t member_of = static_cast<gid_t>(value);
    if (value == member_of && std::find(groups.begin(), groups.end(), member_of) == groups.end())
      groups.push_back(member_of);
  }
  return groups;
}

bool join_groups(const char* user, gid_t gid) {
  std::string text;
  // No group file: the login group alone, as initgroups would give.
  if (!core::read_file("/etc/group", text)) text.clear();
  const std::vector<gid_t> groups = member_groups(text, user ? user : "", gid);
  return ::setgroups(groups.size(), groups.data()) == 0;
}

}  // namespace userdb
