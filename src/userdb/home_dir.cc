#include "userdb/home_dir.h"

#include <algorithm>
#include <string_view>

#include "config/config_store.h"
#include "core/privilege.h"
#include "core/user_record.h"
#include "userdb/passwd_file.h"

namespace userdb {
namespace {

// ".." would climb out of the prefix, a colon would break the passwd line
// the directory is written into, and a control character would break it
// or the terminal of whoever reads the file.
bool acceptable_dir(std::string_view dir, std::string_view minimum) {
  const bool climbs = dir.find("/../") != std::string_view::npos || dir.ends_with("/..") ||
                      dir.starts_with("../") || dir == "..";
  const bool breaks_line = std::any_of(dir.begin(), dir.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return c == ':' || u < 0x20 || u == 0x7f;
  });
  return dir.starts_with(minimum) && !climbs && !breaks_line;
}

}  // namespace

int set_home_dir(const char* user_name, const char* new_dir) {
  const char* minimum = config::config_value("min_homedir");
  if (!minimum) return 97;
  const std::string_view dir = new_dir ? new_dir : "";
  if (!dir.empty() && !acceptable_dir(dir, minimum)) return 98;

  bool empty = false;
  const int result = edit_passwd_line(user_name ? user_name : "", [&](core::PasswdEntry& entry) {
    if (dir.empty()) {
      empty = true;
      return false;
    }
    entry.dir = dir;
    if (entry.dir.size() > 1 && entry.dir.back() == '/') entry.dir.pop_back();
    return true;
  });
  return result == 0 && empty ? 53 : result;
}

}  // namespace userdb
