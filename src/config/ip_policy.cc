// ident@host masks and the secure_ip, secure_pass and min_homedir policies.
#include "config/ip_policy.h"


#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "config/access_rules.h"
#include "core/file_io.h"
#include "core/fixed_field.h"
#include "core/format.h"
#include "core/match.h"

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
  opened = core::read_file(path, bytes);
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


bool is_wildcard_char(char c) { return c == '*' || c == '?' || c == '[' || c == ']' || c == '-'; }

struct AddressClass {
  bool host_name = false;
  int fields = 0;
  int wildcards = 0;
};

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// An IPv6 mask ("2001:db8:*") has colon-separated groups of hex digits;
// each group counts as one field, so a minimum of 3 specific fields asks
// for a /48 there as it asks for a /24 of IPv4. "::" stands for zero
// groups, fully specific in a mask without wildcards.
AddressClass classify_ipv6(std::string_view address) {
  const bool compressed = address.find("::") != std::string_view::npos;
  AddressClass result;
  for (;;) {
    const std::size_t colon = address.find(':');
    const std::string_view field = address.substr(0, colon);
    bool wildcard = false;
    for (char c : field) {
      if (is_wildcard_char(c)) wildcard = true;
      else if (!is_hex_digit(c)) result.host_name = true;
    }
    if (!field.empty()) ++result.fields;
    if (wildcard) ++result.wildcards;
    if (colon == std::string_view::npos) break;
    address.remove_prefix(colon + 1);
  }
  if (compressed && result.wildcards == 0) result.fields = 8;
  return result;
}

AddressClass classify_address(std::string_view address) {
  if (address.find(':') != std::string_view::npos) return classify_ipv6(address);
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
  if (!core::name_match(ident ? ident : "", split.ident)) return false;
  std::string host_pattern = lower(split.host);
  if (!host_pattern.empty() && host_pattern.back() == '.') host_pattern += '*';
  if (host && host[0] && core::name_match(lower(host), host_pattern)) return true;
  return ip && ip[0] && core::name_match(ip, host_pattern);
}

int masks_match(const char (*ips)[core::kIpMaskSize], const char* host, const char* ip, const char* ident) {
  int first = 0;
  if (ips[0][0] == '!') {
    bool opened = false;
    int decided = match_mask_file(ips[0] + 1, host, ip, ident, opened);
    if (decided != 0) return decided;
    first = 1;
  }
  for (int i = first; i < core::kMaxIps && ips[i][0]; ++i)
    if (mask_matches(ips[i], host, ip, ident)) return 1;
  return 0;
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
    if (!acl_match("secure_ip", 4, line)) continue;
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
    if (core::name_match(kIdentProbe, split.ident)) {
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
  return core::format("%d capital letter%s, %d lowercase letter%s, %d digit%s, %d other%s, %d length.",
                      {wanted.upper, plural(wanted.upper), wanted.lower, plural(wanted.lower),
                       wanted.digits, plural(wanted.digits), wanted.others, plural(wanted.others),
                       wanted.length});
}

std::vector<std::string> unmet_password_requirements(const char* password) {
  std::vector<std::string> unmet;
  const ConfigEntry* cursor = nullptr;
  while (const ConfigEntry* line = next_config("secure_pass", cursor)) {
    if (!line->arg(2)) break;
    if (!acl_match("secure_pass", 2, line)) continue;
    std::optional<std::string> requirement = check_secure_pass(password, line);
    if (!requirement) return {};
    if (unmet.size() < 20) unmet.push_back(std::move(*requirement));
  }
  return unmet;
}

}  // namespace config
