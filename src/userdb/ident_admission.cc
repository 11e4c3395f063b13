// Whose ident@host masks allow a connection: the session user's at login,
// and any user's at start-up.
#include "userdb/ident_admission.h"

#include <string>
#include <string_view>

#include "config/ip_policy.h"
#include "core/fixed_field.h"
#include "core/logs.h"
#include "core/session.h"
#include "core/user_record.h"
#include "userdb/user_cache.h"
#include "userdb/user_directory.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

// Only the IP lines of a userfile matter to the admission scan, read the
// way the full parser reads them.
void extract_masks(std::string_view text, char (*ips)[core::kIpMaskSize]) {
  int used = 0;
  while (!text.empty() && used < core::kMaxIps) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string_view::npos || line.compare(start, 2, "IP") != 0) continue;
    line = line.substr(0, line.find('#'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line.remove_prefix(start + 2);
    if (line.empty() || (line[0] != ' ' && line[0] != '\t' && line[0] != '\r')) continue;
    std::size_t word = line.find_first_not_of(" \t\r");
    if (word == std::string_view::npos) continue;
    line.remove_prefix(word);
    core::copy_field(ips[used++], line.substr(0, line.find_first_of(" \t\r")));
  }
}

}  // namespace

int user_ip_match(const char* host, const char* ip, const char* ident) {
  return config::masks_match(work_user().ips, host, ip, ident);
}

int find_user_by_ip(const char* host, const char* ip, const char* ident) {
  if (user_cache_enabled()) {
    for (const CachedUser& cached : cached_users())
      if (config::masks_match(cached.record.ips, host, ip, ident) == 1) return 1;
    return 0;
  }
  // The templates' masks admit too: a template's masks become a new
  // account's.
  int found = 0;
  walk_users(Templates::kInclude, Contents::kText, [&](const UserfileEntry& file) {
    char ips[core::kMaxIps][core::kIpMaskSize] = {};
    extract_masks(file.text, ips);
    if (ips[0][0] && config::masks_match(ips, host, ip, ident) == 1) found = 1;
    return !found;
  });
  return found;
}

bool admit_by_ident(const char* remote_host, const char* remote_ip, const char* ident_user) {
  if (find_user_by_ip(remote_host, remote_ip, ident_user)) return true;
  core::login_log("%s@%s (%s): connection refused: ident@ip not added to any users.",
                  ident_user ? ident_user : "", remote_host ? remote_host : "", remote_ip ? remote_ip : "");
  return false;
}

}  // namespace userdb
