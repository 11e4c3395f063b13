// The passwd and group line formats: parsing one line into an entry and
// writing an entry back as a line.
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "userdb/passwd_file.h"

namespace userdb {
namespace {

std::vector<std::string_view> split_colons(std::string_view line, std::size_t max_fields) {
  std::vector<std::string_view> fields;
  while (fields.size() < max_fields) {
    std::size_t colon = line.find(':');
    fields.push_back(line.substr(0, colon));
    if (colon == std::string_view::npos) break;
    line.remove_prefix(colon + 1);
  }
  return fields;
}

// A non-empty run of digits, "0" only as itself, within `limit`.
bool parse_id(std::string_view text, unsigned long limit, unsigned long& value) {
  if (text.empty()) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value <= limit;
}

}  // namespace

std::optional<core::PasswdEntry> parse_passwd_line(std::string_view line) {
  std::vector<std::string_view> f = split_colons(line, 7);
  if (f.size() < 7) return std::nullopt;
  unsigned long uid = 0, gid = 0;
  // Ids beyond 16 bits would wrap into other accounts' ids: such a line is
  // not understood and stays as it is.
  if (!parse_id(f[2], 65535, uid) || !parse_id(f[3], 65535, gid)) return std::nullopt;
  core::PasswdEntry entry;
  entry.name = f[0];
  entry.password = f[1];
  entry.uid = static_cast<uint16_t>(uid);
  entry.gid = static_cast<uint16_t>(gid);
  entry.gecos = f[4];
  entry.dir = f[5];
  while (entry.dir.size() > 1 && entry.dir.back() == '/') entry.dir.pop_back();
  entry.shell = f[6];
  return entry;
}

std::string format_passwd_line(const core::PasswdEntry& e) {
  std::string line = e.name;
  line += ':';
  line += e.password;
  line += ':';
  line += std::to_string(e.uid);
  line += ':';
  line += std::to_string(e.gid);
  line += ':';
  line += e.gecos;
  line += ':';
  line += e.dir;
  line += ':';
  line += e.shell;
  return line;
}

std::optional<core::GroupEntry> parse_group_line(std::string_view line) {
  std::vector<std::string_view> f = split_colons(line, 4);
  if (f.size() < 3) return std::nullopt;
  unsigned long gid = 0, logins = 0;
  if (!parse_id(f[2], 2147483647UL, gid)) return std::nullopt;
  if (f.size() > 3) {
    std::string_view count = f[3];
    // Text after a fourth colon is not part of the count.
    count = count.substr(0, count.find(':'));
    if (!count.empty() && !parse_id(count, 2147483647UL, logins)) return std::nullopt;
  }
  core::GroupEntry entry;
  entry.name = f[0];
  entry.description = f[1];
  entry.gid = static_cast<int>(gid);
  entry.logins = static_cast<int>(logins);
  return entry;
}

std::string format_group_line(const core::GroupEntry& e) {
  std::string logical = e.name;
  logical += ':';
  logical += e.description;
  logical += ':';
  logical += std::to_string(e.gid);
  logical += ':';
  if (e.logins != 0) logical += std::to_string(e.logins);
  constexpr std::size_t kPiece = 8188;
  if (logical.size() <= kPiece) return logical;
  std::string out;
  for (std::size_t i = 0; i < logical.size(); i += kPiece) {
    if (i > 0) out += "\\\n";
    out.append(logical, i, kPiece);
  }
  return out;
}

GroupNameCheck check_group_name(std::string_view name) {
  if (name.empty() || name.size() > 15) return GroupNameCheck::BadLength;
  // The first character is held to the same rules: a leading colon or blank
  // would break the group line or the userfile word that names the group.
  // A "/" would lead the group's template "default.<group>" out of the
  // users directory.
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == ':' || c == ' ' || c == '/' || c == '\n' || c < 0x20 || c >= 0x7f)
      return GroupNameCheck::BadCharacter;
  }
  return GroupNameCheck::Good;
}

}  // namespace userdb
