// The SITE CHANGE field table and its appliers. Every applier checks the
// whole value before it touches a record, so a refusal leaves both records
// as they were loaded.
#include "site/change_fields.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/session.h"
#include "userdb/home_dir.h"
#include "userdb/userfile.h"

namespace site::change {
namespace {

using core::UserRecord;

constexpr int kUnlimited = -1;
constexpr long long kInt32Max = std::numeric_limits<int32_t>::max();
constexpr long long kUint32Max = std::numeric_limits<uint32_t>::max();
constexpr int kMostSimultaneous = 30000;
constexpr int kMostLogins = 30000;
// Minutes whose seconds still fit a signed 32-bit count.
constexpr long long kMostTimeLimit = kInt32Max / 60;

// Strings records of the outcomes.
constexpr int kBadValue = 620;
constexpr int kFlagsNeedSiteop = 621;
constexpr int kSlotsNeedSiteop = 622;

std::vector<std::string_view> words_of(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

// A whole word read as a decimal number within [low, high].
std::optional<long long> number_in(std::string_view word, long long low, long long high) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (word.empty() || error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

// As number_in, with C's base prefixes ("0x" hexadecimal, "0" octal).
std::optional<long long> prefixed_number_in(std::string_view word, long long low, long long high) {
  const std::string text(word);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 0);
  if (errno == ERANGE || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

bool bad_value(const Change& c) { return c.replies.refuse(kBadValue, c.value, c.field.name); }

// Text that goes into a userfile line as it is.
bool printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char ch) { return std::isprint(static_cast<unsigned char>(ch)) != 0; });
}

bool is_gadmin(const UserRecord& user) { return core::has_flag(user.flags, core::flag::kGadmin); }
bool is_siteop(const UserRecord& user) { return core::has_flag(user.flags, core::flag::kSiteop); }

// The configured statistics section with `name` (any case): its number, or
// -1; `spelling` receives the name as configured.
int configured_section(std::string_view name, std::string& spelling) {
  const int count = userdb::userfile_section_count();
  const config::ConfigEntry* cursor = nullptr;
  for (int number = 0; number < count; ++number) {
    const config::ConfigEntry* line = config::next_config("stat_section", cursor);
    if (!line) break;
    const std::string_view configured = line->arg(1);
    if (configured.size() == name.size() && strncasecmp(configured.data(), name.data(), name.size()) == 0) {
      spelling = configured;
      return number;
    }
  }
  return -1;
}

// Whether section `number` has a place in the userfile: section 0 always.
bool section_configured(int number) {
  return number == 0 || number < userdb::userfile_section_count();
}

// --- ratios

// A gadmin hands out leech accounts (ratio 0) from his leech slots and may
// otherwise only give the standard ratio 3; anyone setting a ratio moves a
// leech slot the same way, so slots stay in step with the leeches.
bool change_ratio(Change& c) {
  const auto ratio = number_in(c.value, 0, 9);
  if (!ratio) return bad_value(c);
  int16_t& current = c.target.sections[0].ratio;
  int32_t& leech_slots = c.admin.slots[1];
  const bool leech = current == 0;
  if (is_gadmin(c.admin)) {
    if (is_siteop(c.target) || core::has_flag(c.target.flags, core::flag::kUseredit))
      return c.replies.refuse(479);
    if (leech_slots == kUnlimited) return c.replies.refuse(427);
    if (*ratio != 0 && *ratio != 3) return c.replies.refuse(428);
    if (*ratio == 0 && !leech && leech_slots <= 0) return c.replies.refuse(429);
  }
  if (*ratio == 0 && !leech && leech_slots > 0) {
    --leech_slots;
    c.admin_changed = true;
  } else if (*ratio != 0 && leech && leech_slots != kUnlimited) {
    ++leech_slots;
    c.admin_changed = true;
  }
  c.log("'%.23s' changed ratio for '%.23s' from '%d' to '%d'", c.admin.name, c.target.name,
        current, *ratio);
  current = static_cast<int16_t>(*ratio);
  return true;
}

bool change_section_ratio(Change& c) {
  const auto words = words_of(c.value);
  if (strcasecmp(std::string(words.front()).c_str(), "DEFAULT") == 0) return c.replies.refuse(423);
  std::string section_name;
  const int section = configured_section(words.front(), section_name);
  if (section < 0) return c.replies.refuse(424);
  if (words.size() < 2) return c.replies.refuse(425);
  const auto ratio = words.size() == 2 ? number_in(words[1], -1, 9) : std::nullopt;
  if (!ratio) return c.replies.refuse(426);
  int16_t& current = c.target.sections[section].ratio;
  c.log("'%.23s' changed %s ratio for '%.23s' from '%d' to '%d'", c.admin.name, section_name,
        c.target.name, current, *ratio);
  current = static_cast<int16_t>(*ratio);
  return true;
}

// --- limits

// Speeds are given in KiB/s and kept in bytes per second.
bool change_speed(Change& c, uint32_t UserRecord::*speed) {
  const auto kib = number_in(c.value, 0, kUint32Max / 1024);
  if (!kib) return bad_value(c);
  const auto bytes = static_cast<uint32_t>(*kib * 1024);
  c.log("'%.23s' changed %s for '%.23s' from '%lu' to '%lu'", c.admin.name, c.field.name,
        c.target.name, c.target.*speed, bytes);
  c.target.*speed = bytes;
  c.replies.note(431);
  return true;
}
bool change_download_speed(Change& c) { return change_speed(c, &UserRecord::max_dlspeed); }
bool change_upload_speed(Change& c) { return change_speed(c, &UserRecord::max_ulspeed); }

bool change_simultaneous(Change& c, int32_t UserRecord::*limit) {
  const auto count = number_in(c.value, kUnlimited, kMostSimultaneous);
  if (!count) return bad_value(c);
  c.log("'%.23s' changed %s for '%.23s' from '%d' to '%d'", c.admin.name, c.field.name,
        c.target.name, c.target.*limit, *count);
  c.target.*limit = static_cast<int32_t>(*count);
  c.replies.note(432);
  return true;
}
bool change_simultaneous_downloads(Change& c) { return change_simultaneous(c, &UserRecord::max_sim_down); }
bool change_simultaneous_uploads(Change& c) { return change_simultaneous(c, &UserRecord::max_sim_up); }

// "[section,]KiB": the section gets the allotment every week, and at once
// when its credits are below it.
bool change_weekly_allotment(Change& c) {
  std::string_view amount_text = c.value;
  int section = 0;
  if (amount_text.size() >= 2 && std::isdigit(static_cast<unsigned char>(amount_text[0])) &&
      amount_text[1] == ',') {
    section = amount_text[0] - '0';
    amount_text.remove_prefix(2);
  }
  if (!section_configured(section)) return c.replies.refuse(424);
  const auto amount = number_in(amount_text, 0, kInt32Max);
  if (!amount) return bad_value(c);
  c.log("'%.23s' changed wkly_allotment for '%.23s' from '%d,%lu' to '%d,%lu'", c.admin.name,
        c.target.name, c.target.wkly_section, c.target.wkly_allotment, section, *amount);
  c.target.wkly_section = static_cast<int16_t>(section);
  c.target.wkly_allotment = static_cast<uint32_t>(*amount);
  int32_t& credits = c.target.sections[section].credits;
  if (credits < *amount) credits = static_cast<int32_t>(*amount);
  return true;
}

bool change_idle_time(Change& c) {
  const auto seconds = number_in(c.value, kUnlimited, kInt32Max);
  if (!seconds) return bad_value(c);
  c.log("'%.23s' changed idle_time for '%.23s' from '%d' to '%d'", c.admin.name, c.target.name,
        c.target.idle_time, *seconds);
  c.target.idle_time = static_cast<int32_t>(*seconds);
  return true;
}

// "logins [logins from one address]"; the second left out stays.
bool change_num_logins(Change& c) {
  const auto words = words_of(c.value);
  const auto logins = number_in(words.front(), 0, kMostLogins);
  const auto per_ip = words.size() == 2 ? number_in(words[1], 0, kMostLogins)
                                        : std::optional<long long>(c.target.max_logins_per_ip);
  if (words.size() > 2 || !logins || !per_ip) return bad_value(c);
  c.log("'%s' changed num_logins for '%s' from '%d %d' to '%d %d'", c.admin.name, c.target.name,
        c.target.max_logins, c.target.max_logins_per_ip, *logins, *per_ip);
  c.target.max_logins = static_cast<int32_t>(*logins);
  c.target.max_logins_per_ip = static_cast<int32_t>(*per_ip);
  return true;
}

bool change_time_limit(Change& c) {
  const auto minutes = number_in(c.value, 0, kMostTimeLimit);
  if (!minutes) return bad_value(c);
  c.log("'%.23s' changed time_limit for '%.23s' from '%d' to '%d'", c.admin.name, c.target.name,
        c.target.time_limit, *minutes);
  c.target.time_limit = static_cast<int32_t>(*minutes);
  return true;
}

// "from [to]"; the hour left out stays.
bool change_timeframe(Change& c) {
  const auto words = words_of(c.value);
  const auto from = number_in(words.front(), 0, 23);
  const auto to = words.size() == 2 ? number_in(words[1], 0, 23)
                                    : std::optional<long long>(c.target.timeframe_to);
  if (words.size() > 2 || !from || !to) return c.replies.refuse(434);
  c.log("%s changed timeframe for %s from '%d %d' to '%d %d'", c.admin.name, c.target.name,
        c.target.timeframe_from, c.target.timeframe_to, *from, *to);
  c.target.timeframe_from = static_cast<int16_t>(*from);
  c.target.timeframe_to = static_cast<int16_t>(*to);
  return true;
}

// --- texts

bool change_tagline(Change& c) {
  if (!printable(c.value)) return bad_value(c);
  c.log("'%.23s' changed tagline for '%.23s' from '%.64s' to '%.64s'", c.admin.name, c.target.name,
        c.target.tagline, c.value);
  core::copy_field(c.target.tagline, c.value);
  return true;
}

bool change_comment(Change& c) {
  if (!printable(c.value)) return bad_value(c);
  c.log("'%.23s' changed comment for '%.23s' from '%.50s' to '%.50s'", c.admin.name, c.target.name,
        c.target.comment, c.value);
  core::copy_field(c.target.comment, c.value);
  return true;
}

// --- credits and rights

// The section of the administrator's current directory, so the same
// command edits another section's credits from that section's directory.
bool change_credits(Change& c) {
  const auto kib = prefixed_number_in(c.value, 0, kInt32Max);
  if (!kib) return bad_value(c);
  const int section = config::credit_section_of(core::session().cwd);
  int32_t& credits = c.target.sections[section].credits;
  c.log("'%.23s' changed credits for '%.23s' from '%lu' to '%lu'", c.admin.name, c.target.name,
        credits, *kib);
  credits = static_cast<int32_t>(*kib);
  return true;
}

bool siteop_flags_differ(std::string_view before, std::string_view after) {
  for (const char flag : {core::flag::kSiteop, core::flag::kGadmin})
    if ((before.find(flag) == std::string_view::npos) != (after.find(flag) == std::string_view::npos))
      return true;
  return false;
}

bool change_flags(Change& c) {
  if (c.value.find(core::flag::kDeleted) != std::string::npos) return c.replies.refuse(419);
  if (c.value.front() != '+' && c.value.front() != '-') return c.replies.refuse(420);
  const std::string before = c.target.flags;
  const std::string after = edited_flags(before, c.value);
  if (after.size() >= sizeof c.target.flags) return bad_value(c);
  // Making or unmaking staff is for siteops, whoever may edit other flags.
  if (siteop_flags_differ(before, after) && !is_siteop(c.admin)) return c.replies.refuse(kFlagsNeedSiteop);
  if (after == before) {
    c.replies.note(421);
    return true;
  }
  c.log("'%.23s' changed flags for '%.23s' from '%s' to '%s'", c.admin.name, c.target.name, before,
        after);
  core::copy_field(c.target.flags, after);
  if (is_siteop(c.target) && is_gadmin(c.target)) c.replies.note(422);
  return true;
}

bool change_home_dir(Change& c) {
  const int refusal = userdb::set_home_dir(c.target.name, c.value.c_str());
  if (refusal == 93 || refusal == 53) return c.replies.refuse(refusal, c.target.name);
  if (refusal != 0) return c.replies.refuse(refusal);
  c.log("'%s' changed homedir for '%s' to %s", c.admin.name, c.target.name, c.value);
  return true;
}

bool change_startup_dir(Change& c) {
  if (!printable(c.value) || c.value.size() >= sizeof c.target.startup_dir) return bad_value(c);
  c.log("'%s' changed startup_dir for '%s' from '%.64s' to '%.64s'", c.admin.name, c.target.name,
        c.target.startup_dir, c.value);
  core::copy_field(c.target.startup_dir, c.value);
  return true;
}

// "slots [leech slots]"; the leech slots left out stay. A gadmin without
// flag 1 would otherwise hand himself more accounts.
bool change_group_slots(Change& c) {
  if (is_gadmin(c.admin) && !is_siteop(c.admin)) return c.replies.refuse(kSlotsNeedSiteop);
  const auto words = words_of(c.value);
  const auto slots = number_in(words.front(), kUnlimited, kInt32Max);
  const auto leech_slots = words.size() == 2 ? number_in(words[1], kUnlimited, kInt32Max)
                                             : std::optional<long long>(c.target.slots[1]);
  if (words.size() > 2 || !slots || !leech_slots) return c.replies.refuse(435);
  c.log("'%.23s' changed grp slots for '%.23s' to '%.15s %d'", c.admin.name, c.target.name,
        c.target.groups[0], *slots);
  if (words.size() == 2)
    c.log("'%.23s' changed grp leech slots for '%.23s' to '%.15s %d'", c.admin.name, c.target.name,
          c.target.groups[0], *leech_slots);
  c.target.slots[0] = static_cast<int32_t>(*slots);
  c.target.slots[1] = static_cast<int32_t>(*leech_slots);
  return true;
}

constexpr Field kFields[] = {
    {"ratio", "[0-9] The user's ratio", "-changeratio", true, change_ratio},
    {"sratio", "[Str] [0-9] User's section ratio", "-changesratio", true, change_section_ratio},
    {"max_dlspeed", "[Str] User's max download speed in KiloBytes/sec", "-change", true,
     change_download_speed},
    {"max_ulspeed", "[Str] User's max upload speed in KiloBytes/sec", "-change", true,
     change_upload_speed},
    {"max_sim_down", "[Num] User's max simultaneous downloads", "-change", true,
     change_simultaneous_downloads},
    {"max_sim_up", "[Num] User's max simultaneous uploads", "-change", true,
     change_simultaneous_uploads},
    {"wkly_allotment", "[Num,Num] Section,Weekly credit allotment", "-change", true,
     change_weekly_allotment},
    {"idle_time", "[Str] The user's default idle time", "-change", true, change_idle_time},
    {"tagline", "[Str] The user's tagline", "-change", true, change_tagline},
    {"comment", "[Str] The user's comment", "-change", true, change_comment},
    {"num_logins", "[Num] [Num] Max concurrent connections [ from same IP ] (0=unlimited)", "-change",
     true, change_num_logins},
    {"time_limit", "[Str] User's time limit", "-change", true, change_time_limit},
    {"timeframe", "[0-23 0-23] The hours between which the user can log in", "-change", true,
     change_timeframe},
    {"credits", "[Kb]  User's Credits (use SITE GIVE to ADD)", "-change", true, change_credits},
    {"flags", "[Str] User's Flags", "-changeflags", true, change_flags},
    {"homedir", "[Str] User's Home Directory", "-changehomedir", false, change_home_dir},
    {"startup_dir", "[Str] User's Start-up Directory", "-change", true, change_startup_dir},
    {"group_slots", "[Num Num] Num of slots (-1 = Unlimited)", "-change", true, change_group_slots},
};

}  // namespace

std::span<const Field> fields() { return kFields; }

const Field* find_field(std::string_view name) {
  for (const Field& field : kFields) {
    const std::string_view known = field.name;
    if (known.size() == name.size() && strncasecmp(known.data(), name.data(), name.size()) == 0)
      return &field;
  }
  return nullptr;
}

std::string edited_flags(std::string_view flags, std::string_view edit) {
  std::string result(flags);
  bool adding = true;
  for (const char ch : edit) {
    if (ch == '+' || ch == '-') {
      adding = ch == '+';
      continue;
    }
    const char flag = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (!std::isupper(static_cast<unsigned char>(flag)) && (flag < '1' || flag > '9')) continue;
    if (!adding)
      std::erase(result, flag);
    else if (result.find(flag) == std::string::npos)
      result += flag;
  }
  std::sort(result.begin(), result.end());
  return result;
}

}  // namespace site::change
