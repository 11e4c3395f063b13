// Argument words, group-file text and the walk of the users directory.
#include "site/group_support.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "core/session.h"
#include "userdb/userfile.h"

namespace site {
namespace {

constexpr std::size_t kNameLimit = 20;
constexpr std::size_t kDescriptionLimit = 40;

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

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
  const std::string dir_path = std::string(core::session().data_path) + "/users";
  DIR* dir = opendir(dir_path.c_str());
  if (!dir) return found;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!userdb::valid_user_name(name) || ends_with(name, ".lock")) continue;
    struct stat status {};
    const std::string path = dir_path + "/" + entry->d_name;
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    found.push_back({std::string(name), status.st_uid, status.st_gid});
  }
  closedir(dir);
  std::sort(found.begin(), found.end(),
            [](const UserfileOnDisk& a, const UserfileOnDisk& b) { return a.name < b.name; });
  return found;
}

bool is_template_name(std::string_view name) { return name.substr(0, 8) == "default."; }

}  // namespace site
