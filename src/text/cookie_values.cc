// Values of the top-level, user and listing cookies.
#include "text/cookie_values.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/match.h"
#include "core/session.h"
#include "core/user_record.h"
#include "online/online_table.h"
#include "text/display_fields.h"
#include "text/user_messages.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace text {
namespace {

using core::SectionRecord;
using core::TransferStats;
using core::UserRecord;

const UserRecord& user() { return core::session().user; }

// The statistics section of the current directory, kept within the record.
const SectionRecord& current_section() {
  const int section = core::session().current_section;
  return user().sections[section >= 0 && section < core::kMaxSections ? section : 0];
}

std::string bounded(const char* field, std::size_t width) {
  return std::string(field, strnlen(field, width));
}

template <std::size_t N>
std::string bounded(const char (&field)[N]) {
  return bounded(field, N);
}

double megabytes(unsigned long long kib) { return static_cast<double>(kib) / 1024.0; }

// Whole KiB per second, 0 when no time was recorded.
double speed(unsigned long long kib, unsigned long long seconds) {
  return seconds == 0 ? 0.0 : static_cast<double>(kib / seconds);
}

// Speed limits are stored in bytes per second and shown in KB/s; a limit
// too small to show (0 included) reads 0.1.
double limit_kbps(uint32_t bytes_per_second) {
  const double kbps = static_cast<double>(bytes_per_second) / 1024.0;
  return kbps < 0.1 ? 0.1 : kbps;
}

std::string pair_text(long long first, long long second) {
  return std::to_string(first) + " " + std::to_string(second);
}

// The userfile's limits use -1 for "no limit" and 0 for "none allowed".
CookieValue transfer_limit(int32_t limit) {
  return limit < 0 ? CookieValue::of_text("Unlimited") : CookieValue::of_integer(limit);
}

std::string group_list(const char (&groups)[core::kMaxGroups][core::kGroupNameSize]) {
  std::string out;
  for (const auto& group : groups) {
    const std::string name = bounded(group);
    if (name.empty()) break;
    out += " " + name;
  }
  return out;
}

std::string ratio_text() {
  int ratio = effective_ratio(core::session().current_section);
  if (ratio != 0) {
    const char* cwd = core::session().cwd;
    const config::ConfigEntry* cursor = nullptr;
    while (const config::ConfigEntry* line = config::next_config("creditcheck", cursor)) {
      // As for uploads, a line without a multiplier ends the walk, so the
      // ratio shown is the one an upload here earns.
      if (!line->arg(1) || !line->arg(2)) break;
      if (line->arg(3) && !config::acl_match("creditcheck", 3, line)) continue;
      if (core::wildcard_match(line->arg(1), cwd, true)) {
        ratio = std::atoi(line->arg(2));
        break;
      }
    }
  }
  return ratio == 0 ? "Unlimited" : "1:" + std::to_string(ratio);
}

std::string last_component(const char* path) {
  std::string_view dir(path);
  if (dir == "/") return "/";
  while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
  const std::size_t slash = dir.rfind('/');
  return std::string(slash == std::string_view::npos ? dir : dir.substr(slash + 1));
}

std::string config_text(const char* key, const char* fallback) {
  const char* value = config::config_value(key);
  return value ? value : fallback;
}

CookieValue top_level_value(std::string_view name, const struct stat* file_status) {
  const core::Session& s = core::session();
  if (name == "Bo") return CookieValue::of_integer(online::online_count(true));
  if (name.size() == 2 && name[0] == 'f')
    return CookieValue::of_text(core::has_flag(user().flags, name[1]) ? "*" : " ");
  if (name.size() != 1) return {};
  switch (name[0]) {
    case 'A':
      return CookieValue::of_floating(s.online_slot >= 0 ? online::transfer_speed(s.online_slot) : 0.0);
    case 'B': return CookieValue::of_integer(online::online_count(false));
    case 'D':
      return CookieValue::of_text(file_status ? ctime_text(file_status->st_mtime) : "n/a");
    case 'E': return CookieValue::of_text(config_text("email", ""));
    case 'F': return CookieValue::of_floating(s.free_space_mb);
    case 'H': return CookieValue::of_text(bounded(s.host_name));
    case 'M': return CookieValue::of_integer(online::max_users());
    case 'P': return CookieValue::of_text("none");
    case 'R': return CookieValue::of_text(bounded(s.remote_host));
    case 'S': return CookieValue::of_text(config_text("sitename_long", "SITE"));
    case 's': return CookieValue::of_text(config_text("sitename_short", "SITE"));
    case 'T': return CookieValue::of_text(ctime_text(std::time(nullptr)));
    case 'b': {
      std::string section_name;
      config::section_name_of(s.cwd, section_name);
      return CookieValue::of_text(section_name);
    }
    case 'c': return CookieValue::of_integer(display_fields().row);
    case 'd': return CookieValue::of_text(last_component(s.cwd));
    default: return {};
  }
}

CookieValue files_value(const TransferStats& stats) { return CookieValue::of_integer(stats.files); }
CookieValue amount_value(const TransferStats& stats) {
  return CookieValue::of_floating(megabytes(stats.amount));
}
CookieValue speed_value(const TransferStats& stats) {
  return CookieValue::of_floating(speed(stats.amount, stats.time));
}

CookieValue user_value(char letter) {
  const core::Session& s = core::session();
  const UserRecord& u = user();
  const SectionRecord& section = current_section();
  if (letter >= '0' && letter <= '9') return CookieValue::of_text(bounded(u.ips[letter - '0']));
  switch (letter) {
    case 'u': return CookieValue::of_text(bounded(u.name));
    case 't': return CookieValue::of_text(bounded(u.tagline));
    case 'Z': return CookieValue::of_text(bounded(u.flags));
    case '$': return CookieValue::of_text(bounded(u.comment));
    case 'C': {
      const auto account = userdb::passwd_by_name(bounded(u.name));
      return account ? CookieValue::of_integer(account->gid) : CookieValue::of_text("UNKNOWN");
    }
    case 'y': return CookieValue::of_text(group_list(u.groups));
    case 'Y': return CookieValue::of_text(group_list(u.private_groups));
    case 'L': return CookieValue::of_integer(u.logins_total);
    case '+': return CookieValue::of_text(ctime_text(u.last_login));
    case 'T': return CookieValue::of_text(since_text(core::now() - u.last_login));
    case 'w': return CookieValue::of_integer(u.time_limit);
    case 'e': return CookieValue::of_text(clock_text(u.time_today));
    case 'o': return CookieValue::of_text(clock_text(core::now() - s.login_time));
    case '@':
      return u.idle_time == -1 ? CookieValue::of_text("Disabled") : CookieValue::of_integer(u.idle_time);
    case 'W': return CookieValue::of_floating(megabytes(u.wkly_allotment));
    case 'z': return CookieValue::of_floating(limit_kbps(u.max_dlspeed));
    case '&': return CookieValue::of_floating(limit_kbps(u.max_ulspeed));
    case 'E': return CookieValue::of_text(pair_text(u.timeframe_from, u.timeframe_to));
    case 'X': return CookieValue::of_text(pair_text(u.slots[0], u.slots[1]));
    case 'M': return CookieValue::of_integer(u.max_logins);
    case '#':
      return u.max_logins_per_ip == 0 ? CookieValue::of_text("Unlimited")
                                      : CookieValue::of_integer(u.max_logins_per_ip);
    case '*': return transfer_limit(u.max_sim_down);
    case '^': return transfer_limit(u.max_sim_up);
    case 'm': return CookieValue::of_integer(online::online_count_user(bounded(u.name).c_str()));
    case 'd': return CookieValue::of_text(has_messages(userdb::Mailbox::Unread) ? "Y" : "N");
    case 'c': {
      const int credit_section =
          s.shown_credit_section >= 0 ? s.shown_credit_section : config::credit_section_of(s.cwd);
      const int index = credit_section >= 0 && credit_section < core::kMaxSections ? credit_section : 0;
      return CookieValue::of_floating(static_cast<double>(u.sections[index].credits) / 1024.0);
    }
    case 'r': return CookieValue::of_text(ratio_text());
    case 'f': return files_value(section.allup);
    case 'G': return amount_value(section.allup);
    case 'U': return speed_value(section.allup);
    case 'i': return files_value(section.alldn);
    case 'J': return amount_value(section.alldn);
    case 'D': return speed_value(section.alldn);
    case 'g': return files_value(section.wkup);
    case 'h': return amount_value(section.wkup);
    case 'q': return speed_value(section.wkup);
    case 'I': return files_value(section.wkdn);
    case 'k': return amount_value(section.wkdn);
    case 'V': return speed_value(section.wkdn);
    case 'A': return files_value(section.dayup);
    case 'B': return amount_value(section.dayup);
    case 's': return speed_value(section.dayup);
    case 'N': return files_value(section.daydn);
    case 'P': return amount_value(section.daydn);
    case 'S': return speed_value(section.daydn);
    case 'a': return files_value(section.monthup);
    case 'b': return amount_value(section.monthup);
    case 'Q': return speed_value(section.monthup);
    case 'n': return files_value(section.monthdn);
    case 'p': return amount_value(section.monthdn);
    case 'v': return speed_value(section.monthdn);
    case 'R':
      return CookieValue::of_floating(
          speed(static_cast<unsigned long long>(section.allup.amount) + section.alldn.amount,
                static_cast<unsigned long long>(section.allup.time) + section.alldn.time));
    case 'l':
      return CookieValue::of_text(section.last_nuked == 0 ? "---" : ctime_text(section.last_nuked));
    case 'O': return CookieValue::of_integer(section.times_nuked);
    case 'x': return CookieValue::of_floating(static_cast<double>(section.nuked_mb));
    case 'j': return CookieValue::of_integer(s.session_files_down);
    case 'F': return CookieValue::of_integer(s.session_files_up);
    case 'K': return CookieValue::of_floating(static_cast<double>(s.session_bytes_down) / 1024000.0);
    case 'H': return CookieValue::of_floating(static_cast<double>(s.session_bytes_up) / 1024000.0);
    default: return CookieValue::unknown_member();
  }
}

CookieValue field_text(int number) { return CookieValue::of_text(std::string(display_field(number))); }
double field_floating(int number) { return std::atof(std::string(display_field(number)).c_str()); }
long long field_integer(int number) { return std::atoll(std::string(display_field(number)).c_str()); }

// float(numerator) / float(denominator) x 100; an empty total gives 0
// rather than an infinite share.
CookieValue share_percent(int numerator, int denominator) {
  const double total = field_floating(denominator);
  return CookieValue::of_floating(total == 0.0 ? 0.0 : field_floating(numerator) / total * 100.0);
}

CookieValue listing_value(char family, char member) {
  switch (family) {
    case 'W':
      switch (member) {
        case 'u': return field_text(5);
        case 'g': return field_text(7);
        case 'h': return field_text(3);
        case 'd': return field_text(1);
        case 't': return field_text(4);
        case 'p': return field_text(6);
        case 'a': return field_text(2);
        case 'x': return field_text(8);
        case 'y': return field_text(9);
        case 'i': return CookieValue::of_text(bounded(display_fields().idle_age));
        case 'o': return CookieValue::of_text(bounded(display_fields().online_age));
      }
      break;
    case 'N':
      switch (member) {
        case 'D': return field_text(1);
        case 'd': return field_text(2);
        case 's': return field_text(3);
        case 'm': return field_text(4);
        case 'a': return field_text(5);
      }
      break;
    case 'K':
      switch (member) {
        case 'd': return field_text(1);
        case 'D': return field_text(2);
        case 's': return field_text(3);
        case 'n': return field_text(4);
        case 'r': return field_text(5);
        case 'a': return field_text(6);
        case 'N': return field_text(7);
      }
      break;
    case 'G':
      switch (member) {
        case 'f': return field_text(1);
        case 'd': case 't': return field_text(3);
        case 'm': case 'u': return field_text(4);
        case 'g': return field_text(5);
        case 'N': case 'b': return field_text(6);
        case 'n': case 's': return field_text(7);
      }
      break;
    case 'Z':
      switch (member) {
        case 'B': return field_text(1);
        case 'F': return field_text(2);
        case 'u': return field_text(4);
        case 'b': return field_text(6);
        case 'f': return field_text(7);
        case 'g': return field_text(8);
        case 'p': return share_percent(3, 5);
        case 'P': return share_percent(9, 5);
      }
      break;
    case 'g':
      switch (member) {
        case 'u': return field_text(1);
        case 'a': return field_text(6);
        case 't': return field_text(7);
        case 'm': return CookieValue::of_floating(field_floating(1));
        case 'n': return CookieValue::of_floating(field_floating(2));
        case 'b': return CookieValue::of_floating(field_floating(3));
        case 'c': return CookieValue::of_floating(field_floating(5));
        case 'f': return CookieValue::of_integer(field_integer(2));
        case 'x': return CookieValue::of_integer(field_integer(3));
        case 'g': case 'y': return CookieValue::of_integer(field_integer(4));
        case 'k': return CookieValue::of_integer(field_integer(5));
        case 'l': return CookieValue::of_integer(field_integer(6));
      }
      break;
  }
  return CookieValue::unknown_member();
}

bool is_family(char letter) { return std::strchr("IWNKGZg", letter) != nullptr && letter != '\0'; }

}  // namespace

core::FormatArg CookieValue::argument() const {
  switch (kind) {
    case Kind::Integer: return core::FormatArg(integer);
    case Kind::Floating: return core::FormatArg(floating);
    default: return core::FormatArg(std::string_view(text));
  }
}

std::size_t cookie_name_length(std::string_view letters) {
  if (letters.empty()) return 0;
  const char first = letters[0];
  if (letters.size() >= 2 && (is_family(first) || first == 'f')) return 2;
  if (letters.size() >= 2 && first == 'B' && letters[1] == 'o') return 2;
  return 1;
}

CookieValue cookie_value(std::string_view name, const struct stat* file_status) {
  if (name.empty()) return {};
  const char first = name[0];
  if (is_family(first)) {
    if (name.size() < 2) return CookieValue::unknown_member();
    return first == 'I' ? user_value(name[1]) : listing_value(first, name[1]);
  }
  return top_level_value(name, file_status);
}

std::string collapse_white_space(std::string_view text) {
  std::string out;
  bool blank = false;
  for (const char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank = !out.empty();
      continue;
    }
    if (blank) out.push_back(' ');
    blank = false;
    out.push_back(c);
  }
  return out;
}

std::string ctime_text(time_t t) {
  char buffer[64];
  struct tm parts {};
  if (!localtime_r(&t, &parts) || !std::strftime(buffer, sizeof buffer, "%a %b %e %H:%M:%S %Y", &parts))
    return "n/a";
  return collapse_white_space(buffer);
}

std::string clock_text(long long seconds) {
  if (seconds < 0) seconds = 0;
  const long long hours = seconds / 3600;
  const long long minutes = seconds % 3600 / 60;
  const long long rest = seconds % 60;
  if (hours > 0) return core::format("%02lld:%02lld:%02lld", {hours, minutes, rest});
  return core::format("   %02lld:%02lld", {minutes, rest});
}

std::string since_text(long long seconds) {
  if (seconds < 0) seconds = 0;
  const long long days = seconds / 86400;
  const long long hours = seconds % 86400 / 3600;
  const long long minutes = seconds % 3600 / 60;
  auto plural = [](long long n) { return n == 1 ? "" : "s"; };
  if (days > 0)
    return core::format("%lld day%s, %lld hour%s, %lld minute%s",
                  {days, plural(days), hours, plural(hours), minutes, plural(minutes)});
  if (hours > 0)
    return core::format("%lld hour%s, %lld minute%s", {hours, plural(hours), minutes, plural(minutes)});
  return core::format("%lld minute%s", {minutes, plural(minutes)});
}

bool user_has_any_flag(std::string_view letters) {
  for (const char letter : letters)
    if (core::has_flag(user().flags, letter)) return true;
  return false;
}

bool user_in_group(std::string_view group) { return core::in_group(user(), group); }

int effective_ratio(int section) {
  const UserRecord& u = user();
  if (section < 0 || section >= core::kMaxSections) section = 0;
  const int ratio = u.sections[section].ratio;
  return ratio == -1 ? u.sections[0].ratio : ratio;
}

}  // namespace text
