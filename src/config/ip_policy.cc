// ident@host masks and the secure_ip, secure_pass and min_homedir policies.
#include "config/ip_policy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "config/access_rules.h"
#include "fs/match.h"
#include "protocol/reply.h"
#include "session/privilege.h"
#include "session/session.h"
#include "text/format.h"
#include "text/strings.h"
#include "userdb/file_io.h"
#include "userdb/passwd_file.h"
#include "userdb/user_cache.h"
#include "userdb/userfile.h"

namespace config {
namespace {

constexpr std::size_t kMaskPartLimit = 50;
constexpr std::size_t kMaskFileLineLimit = 100;
constexpr const char* kIdentProbe = "AbCdEfGhIHgFeDcBa";

struct SplitMask {
  std::string ident;
  std::string host;
  bool had_at = false;
};

SplitMask split_mask(std::string_view mask) {
  SplitMask split;
  std::size_t at = mask.rfind('@');
  if (at == std::string_view::npos) {
    split.ident = "*";
    split.host = mask.substr(0, kMaskPartLimit);
  } else {
    split.had_at = true;
    split.ident = mask.substr(0, at).substr(0, kMaskPartLimit);
    split.host = mask.substr(at + 1).substr(0, kMaskPartLimit);
  }
  return split;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Lines of a "!file" mask list: 1 a line matches, -1 a negative line
// matches, 0 none; `opened` tells whether the file could be read.
int match_mask_file(const char* path, const char* host, const char* ip, const char* ident, bool& opened) {
  std::string bytes;
  opened = userdb::read_file(path, bytes);
  if (!opened) return 0;
  std::string_view rest = bytes;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.size() > kMaskFileLineLimit) line = line.substr(0, kMaskFileLineLimit);
    line = line.substr(0, line.find('#'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.remove_suffix(1);
    bool negative = !line.empty() && line[0] == '!';
    if (negative) line.remove_prefix(1);
    if (line.empty()) continue;
    if (mask_matches(std::string(line).c_str(), host, ip, ident)) return negative ? -1 : 1;
  }
  return 0;
}

// The masks of one user, as user_ip_match tests them.
int match_masks(const char (*ips)[userdb::kIpMaskSize], const char* host, const char* ip, const char* ident) {
  int first = 0;
  if (ips[0][0] == '!') {
    bool opened = false;
    int decided = match_mask_file(ips[0] + 1, host, ip, ident, opened);
    if (decided != 0) return decided;
    first = 1;
  }
  for (int i = first; i < userdb::kMaxIps && ips[i][0]; ++i)
    if (mask_matches(ips[i], host, ip, ident)) return 1;
  return 0;
}

// Only the IP lines of a userfile matter to the admission scan, read the
// way the full parser reads them.
void extract_masks(std::string_view text, char (*ips)[userdb::kIpMaskSize]) {
  int used = 0;
  while (!text.empty() && used < userdb::kMaxIps) {
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
    userdb::copy_field(ips[used++], line.substr(0, line.find_first_of(" \t\r")));
  }
}

bool is_wildcard_char(char c) { return c == '*' || c == '?' || c == '[' || c == ']' || c == '-'; }

struct AddressClass {
  bool host_name = false;
  int fields = 0;
  int wildcards = 0;
};

AddressClass classify_address(std::string_view address) {
  std::vector<std::string_view> fields;
  for (std::size_t dot; fields.size() < 3 && (dot = address.find('.')) != std::string_view::npos;) {
    fields.push_back(address.substr(0, dot));
    address.remove_prefix(dot + 1);
  }
  fields.push_back(address);  // the fourth field takes the rest

  AddressClass result;
  result.fields = static_cast<int>(fields.size());
  for (std::string_view field : fields) {
    bool wildcard = false;
    for (char c : field) {
      if (is_wildcard_char(c)) wildcard = true;
      else if (c < '0' || c > '9') result.host_name = true;
    }
    if (wildcard) ++result.wildcards;
  }
  return result;
}

struct Counts {
  int upper = 0, lower = 0, digits = 0, others = 0, length = 0;
};

Counts count_classes(std::string_view text, bool dots_are_others) {
  Counts counts;
  counts.length = static_cast<int>(text.size());
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') ++counts.upper;
    else if (c >= 'a' && c <= 'z') ++counts.lower;
    else if (c >= '0' && c <= '9') ++counts.digits;
    else if (c != '.' || dots_are_others) ++counts.others;
  }
  return counts;
}

const char* plural(int count) { return count == 1 ? "" : "s"; }

}  // namespace

bool mask_matches(const char* mask, const char* host, const char* ip, const char* ident) {
  if (!mask || !mask[0]) return false;
  SplitMask split = split_mask(mask);
  if (!fs::name_match(ident ? ident : "", split.ident)) return false;
  std::string host_pattern = lower(split.host);
  if (!host_pattern.empty() && host_pattern.back() == '.') host_pattern += '*';
  if (host && host[0] && fs::name_match(lower(host), host_pattern)) return true;
  return ip && ip[0] && fs::name_match(ip, host_pattern);
}

int user_ip_match(const char* host, const char* ip, const char* ident) {
  return match_masks(userdb::work_user().ips, host, ip, ident);
}

int find_user_by_ip(const char* host, const char* ip, const char* ident) {
  if (userdb::user_cache_enabled()) {
    for (const userdb::CachedUser& cached : userdb::cached_users())
      if (match_masks(cached.record.ips, host, ip, ident) == 1) return 1;
    return 0;
  }
  const std::string dir_path = std::string(session::session().data_path) + "/users";
  DIR* dir = opendir(dir_path.c_str());
  if (!dir) return 0;
  int found = 0;
  std::string path = dir_path + "/";
  const std::size_t base = path.size();
  std::string bytes;
  while (!found) {
    dirent* entry = readdir(dir);
    if (!entry) break;
    if (entry->d_name[0] == '.' && (!entry->d_name[1] || (entry->d_name[1] == '.' && !entry->d_name[2])))
      continue;
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
    path.resize(base);
    path += entry->d_name;
    // Non-blocking, so that a FIFO left in the directory cannot stall the
    // connection; only regular files are read.
    userdb::UniqueFd fd = userdb::open_file(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (!fd) continue;
    struct stat st{};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (!userdb::read_all(fd.get(), bytes)) continue;
    char ips[userdb::kMaxIps][userdb::kIpMaskSize] = {};
    extract_masks(bytes, ips);
    if (ips[0][0] && match_masks(ips, host, ip, ident) == 1) found = 1;
  }
  closedir(dir);
  return found;
}

int check_secure_ip(const char* mask) {
  SplitMask split = split_mask(mask ? mask : "");
  if (!split.had_at || split.ident.empty()) return 2;
  if (split.host.empty()) return 3;
  AddressClass address = classify_address(split.host);

  int result = 1;
  bool applied = false;
  const ConfigEntry* cursor = nullptr;
  while (const ConfigEntry* line = next_config("secure_ip", cursor)) {
    if (!line->arg(4)) break;
    if (!acl_match("secure_ip", 1, 4, line)) continue;
    applied = true;
    if (address.host_name && std::atoi(line->arg(2)) == 0) {
      result = 5;
      continue;
    }
    if (!address.host_name && address.fields - address.wildcards < std::atoi(line->arg(1))) {
      result = 6;
      continue;
    }
    if (std::atoi(line->arg(3)) == 0) return 1;
    if (fs::name_match(kIdentProbe, split.ident)) {
      result = 4;
      continue;
    }
    return 1;
  }
  return applied ? result : 1;
}

std::optional<std::string> check_secure_pass(const char* password, const ConfigEntry* line) {
  if (!line || !line->arg(1)) return std::nullopt;
  Counts wanted = count_classes(line->arg(1), false);
  Counts have = count_classes(password ? password : "", true);
  if (have.length >= wanted.length && have.upper >= wanted.upper && have.lower >= wanted.lower &&
      have.digits >= wanted.digits && have.others >= wanted.others)
    return std::nullopt;
  return text::format("%d capital letter%s, %d lowercase letter%s, %d digit%s, %d other%s, %d length.",
                      {wanted.upper, plural(wanted.upper), wanted.lower, plural(wanted.lower),
                       wanted.digits, plural(wanted.digits), wanted.others, plural(wanted.others),
                       wanted.length});
}

bool password_policy_allows(int code, const char* password) {
  std::vector<std::string> unmet;
  bool applied = false;
  const ConfigEntry* cursor = nullptr;
  while (const ConfigEntry* line = next_config("secure_pass", cursor)) {
    if (!line->arg(2)) break;
    if (!acl_match("secure_pass", 1, 2, line)) continue;
    applied = true;
    std::optional<std::string> requirement = check_secure_pass(password, line);
    if (!requirement) return true;
    if (unmet.size() < 20) unmet.push_back(std::move(*requirement));
  }
  if (!applied) return true;
  text::string_reply(code, 101, 1);
  for (std::size_t i = 0; i < unmet.size(); ++i)
    protocol::lreply(code, i == 0 ? "%s" : "OR %s", unmet[i]);
  return false;
}

int set_home_dir(int code, int quiet, const char* user_name, const char* new_dir) {
  const char* minimum = config_value("min_homedir");
  if (!minimum) {
    if (!quiet) text::string_reply(code, 97, 1);
    return 0;
  }
  std::string_view dir = new_dir ? new_dir : "";
  if (!dir.empty()) {
    // ".." would climb out of the prefix, and a colon or newline would
    // break the passwd line the directory is written into.
    bool climbs = dir.find("/../") != std::string_view::npos || dir.ends_with("/..") ||
                  dir.starts_with("../") || dir == "..";
    bool breaks_line = dir.find_first_of(":\n\r") != std::string_view::npos;
    if (!dir.starts_with(minimum) || climbs || breaks_line) {
      if (!quiet) text::string_reply(code, 98, 1, minimum);
      return 0;
    }
  }
  session::PrivilegeBracket privileged;
  if (!userdb::pw_lock()) {
    if (!quiet) text::string_reply(code, 93, 1, user_name);
    return 0;
  }
  if (!userdb::pw_open(userdb::OpenMode::ReadWrite)) {
    if (!quiet) text::string_reply(code, 94, 1, user_name);
    userdb::pw_unlock();
    return 0;
  }
  const userdb::PasswdEntry* found = userdb::pw_locate(user_name ? user_name : "");
  if (!found) {
    if (!quiet) text::string_reply(code, 99, 1, user_name);
    userdb::pw_abandon();
    userdb::pw_unlock();
    return 0;
  }
  if (dir.empty()) {
    userdb::pw_abandon();
    userdb::pw_unlock();
    if (!quiet) text::string_reply(code, 53, 1, user_name);
    return 0;
  }
  userdb::PasswdEntry changed = *found;
  changed.dir = dir;
  if (changed.dir.size() > 1 && changed.dir.back() == '/') changed.dir.pop_back();
  int result = 1;
  if (!userdb::pw_update(changed) || !userdb::pw_close()) {
    if (!quiet) text::string_reply(code, 96, 1, user_name);
    userdb::pw_abandon();
    result = 0;
  }
  userdb::pw_unlock();
  return result;
}

}  // namespace config
