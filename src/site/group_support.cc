// Argument words, group-file text and the walk of the users directory.
#include "site/group_support.h"

#include <algorithm>
#include <cctype>

#include "userdb/user_directory.h"

namespace site {
namespace {

constexpr std::size_t kNameLimit = 20;
constexpr std::size_t kDescriptionLimit = 40;

}  // namespace

std::string group_file_text(std::string_view text, std::size_t limit) {
  std::string kept;
  for (const char c : text) {
    if (kept.size() == limit) break;
    if (std::isprint(static_cast<unsigned char>(c)) && c != ':') kept += c;
  }
  return kept;
}

GroupArguments group_arguments(std::string_view text) {
  const std::size_t start = std::min(text.find_first_not_of(' '), text.size());
  const std::size_t end = std::min(text.find(' ', start), text.size());
  const std::size_t rest = std::min(text.find_first_not_of(' ', end), text.size());
  return {group_file_text(text.substr(start, end - start), kNameLimit),
          group_file_text(text.substr(rest), kDescriptionLimit)};
}

std::vector<UserfileOnDisk> userfiles_on_disk() {
  std::vector<UserfileOnDisk> found;
  userdb::walk_users(userdb::Templates::kInclude, userdb::Contents::kNone, [&found](const userdb::UserfileEntry& file) {
    found.push_back({std::string(file.name), file.owner, file.group});
    return true;
  });
  std::sort(found.begin(), found.end(),
            [](const UserfileOnDisk& a, const UserfileOnDisk& b) { return a.name < b.name; });
  return found;
}

}  // namespace site
