// The userfile text format: parsing a file's bytes into a UserRecord and
// writing a record back as text, line by line in the fixed order.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

constexpr std::size_t kMaxWords = 30;
constexpr std::size_t kMaxKeyword = 19;
constexpr std::size_t kHomeDirLimit = 255;

// A carriage return separates too, so files edited with CRLF line ends
// read the same.
bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Leading and trailing whitespace removed, inner runs become one blank.
std::string tidy(std::string_view text) {
  std::string out;
  bool pending_blank = false;
  for (char c : text) {
    if (is_space(c)) {
      pending_blank = !out.empty();
      continue;
    }
    if (pending_blank) out.push_back(' ');
    pending_blank = false;
    out.push_back(c);
  }
  return out;
}

struct Words {
  std::string_view word[kMaxWords];
  std::size_t count = 0;
  std::string_view at(std::size_t i) const { return i < count ? word[i] : std::string_view(); }
};

Words split_words(std::string_view text) {
  Words words;
  std::size_t i = 0;
  while (i < text.size() && words.count < kMaxWords) {
    while (i < text.size() && is_separator(text[i])) ++i;
    if (i >= text.size()) break;
    std::size_t start = i;
    while (i < text.size() && !is_separator(text[i])) ++i;
    words.word[words.count++] = text.substr(start, i - start);
  }
  return words;
}

// Numbers convert like the C library's leading-number readers: garbage
// reads as 0 and values out of range are clamped, never undefined.
long long leading_signed(std::string_view word, int base) {
  char buffer[64];
  core::copy_field(buffer, word);
  errno = 0;
  long long value = std::strtoll(buffer, nullptr, base);
  return value;
}

int32_t to_int32(std::string_view word) {
  long long value = leading_signed(word, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

int16_t to_int16(std::string_view word) {
  long long value = leading_signed(word, 10);
  if (value > INT16_MAX) return INT16_MAX;
  if (value < INT16_MIN) return INT16_MIN;
  return static_cast<int16_t>(value);
}

uint32_t to_uint32(std::string_view word, int base = 10) {
  char buffer[64];
  core::copy_field(buffer, word);
  unsigned long long value = std::strtoull(buffer, nullptr, base);
  // "-1" wraps the way an unsigned C read would; beyond 32 bits clamps.
  if (buffer[0] != '-' && value > UINT32_MAX) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

void put_in_first_free(char* slots, std::size_t slot_size, int slot_count, std::string_view word) {
  for (int i = 0; i < slot_count; ++i) {
    char* slot = slots + static_cast<std::size_t>(i) * slot_size;
    if (slot[0] == '\0') {
      core::copy_field(slot, slot_size, word);
      return;
    }
  }
}

// The first "$mruser" becomes the account's name; the rest of the value
// resumes at the first "/" after it.
std::string expand_home_dir(std::string_view value, std::string_view account) {
  std::string result;
  std::size_t marker = value.find("$mruser");
  if (marker == std::string_view::npos) {
    result = value;
  } else {
    result = value.substr(0, marker);
    result += account;
    std::size_t slash = value.find('/', marker + 7);
    if (slash != std::string_view::npos) result += value.substr(slash);
  }
  if (result.size() > kHomeDirLimit) result.resize(kHomeDirLimit);
  return result;
}

bool same_local_day(time_t a, time_t b) {
  struct tm ta{}, tb{};
  if (!localtime_r(&a, &ta) || !localtime_r(&b, &tb)) return false;
  return ta.tm_year == tb.tm_year && ta.tm_yday == tb.tm_yday;
}

core::TransferStats core::SectionRecord::*const kStatLines[] = {
    &core::SectionRecord::allup, &core::SectionRecord::alldn,   &core::SectionRecord::wkup,    &core::SectionRecord::wkdn,
    &core::SectionRecord::dayup, &core::SectionRecord::daydn,   &core::SectionRecord::monthup, &core::SectionRecord::monthdn,
};
const char* const kStatKeywords[] = {"ALLUP", "ALLDN", "WKUP", "WKDN", "DAYUP", "DAYDN", "MONTHUP", "MONTHDN"};

void apply_line(std::string_view keyword, std::string_view rest, int sections, time_t today,
                core::UserRecord& record, std::string* home_dir) {
  Words w = split_words(rest);
  if (keyword == "GENERAL") {
    std::string_view first = w.at(0);
    if (first.size() >= 2 && first[0] >= '0' && first[0] <= '9' && first[1] == ',') {
      record.wkly_section = static_cast<int16_t>(first[0] - '0');
      first.remove_prefix(2);
    }
    if (w.count > 0) record.wkly_allotment = to_uint32(first, 0);
    if (w.count > 1) record.idle_time = to_int32(w.at(1));
    if (w.count > 2) record.max_dlspeed = to_uint32(w.at(2));
    if (w.count > 3) record.max_ulspeed = to_uint32(w.at(3));
  } else if (keyword == "LOGINS") {
    int32_t* fields[] = {&record.max_logins, &record.max_logins_per_ip, &record.max_sim_down, &record.max_sim_up};
    for (std::size_t i = 0; i < 4 && i < w.count; ++i) *fields[i] = to_int32(w.at(i));
  } else if (keyword == "TIMEFRAME") {
    if (w.count > 0) record.timeframe_from = to_int16(w.at(0));
    if (w.count > 1) record.timeframe_to = to_int16(w.at(1));
  } else if (keyword == "DIR") {
    if (w.count > 0) core::copy_field(record.startup_dir, w.at(0));
  } else if (keyword == "FLAGS") {
    if (w.count > 0) core::copy_field(record.flags, w.at(0));
  } else if (keyword == "CREDITS") {
    for (int s = 0; s < sections && static_cast<std::size_t>(s) < w.count; ++s)
      record.sections[s].credits = to_int32(w.at(static_cast<std::size_t>(s)));
  } else if (keyword == "RATIO") {
    for (int s = 0; s < sections && static_cast<std::size_t>(s) < w.count; ++s)
      record.sections[s].ratio = to_int16(w.at(static_cast<std::size_t>(s)));
  } else if (keyword == "NUKE") {
    for (int s = 0; s < sections; ++s) {
      std::size_t base = static_cast<std::size_t>(s) * 3;
      if (base < w.count) record.sections[s].last_nuked = to_uint32(w.at(base));
      if (base + 1 < w.count) record.sections[s].times_nuked = to_int32(w.at(base + 1));
      if (base + 2 < w.count) record.sections[s].nuked_mb = to_uint32(w.at(base + 2));
    }
  } else if (keyword == "SLOTS") {
    if (w.count > 0) record.slots[0] = to_int32(w.at(0));
    if (w.count > 1) record.slots[1] = to_int32(w.at(1));
  } else if (keyword == "TIME") {
    if (w.count > 0) record.logins_total = to_int32(w.at(0));
    if (w.count > 1) record.last_login = to_int32(w.at(1));
    if (w.count > 2) record.time_limit = to_int32(w.at(2));
    record.time_today = 0;
    if (w.count > 3 && record.last_login != 0 && same_local_day(record.last_login, today))
      record.time_today = to_int32(w.at(3));
  } else if (keyword == "GROUP") {
    if (w.count > 0) put_in_first_free(&record.groups[0][0], core::kGroupNameSize, core::kMaxGroups, w.at(0));
  } else if (keyword == "PRIVATE") {
    if (w.count > 0) put_in_first_free(&record.private_groups[0][0], core::kGroupNameSize, core::kMaxGroups, w.at(0));
  } else if (keyword == "IP") {
    if (w.count > 0) put_in_first_free(&record.ips[0][0], core::kIpMaskSize, core::kMaxIps, w.at(0));
  } else if (keyword == "HOMEDIR") {
    if (home_dir && w.count > 0) {
      std::string_view account = account_being_created();
      if (account.empty()) account = record.name;
      *home_dir = expand_home_dir(w.at(0), account);
    }
  } else {
    for (int k = 0; k < 8; ++k) {
      if (keyword != kStatKeywords[k]) continue;
      for (int s = 0; s < sections; ++s) {
        core::TransferStats& stats = record.sections[s].*kStatLines[k];
        std::size_t base = static_cast<std::size_t>(s) * 3;
        if (base < w.count) stats.files = to_int32(w.at(base));
        if (base + 1 < w.count) stats.amount = to_uint32(w.at(base + 1));
        if (base + 2 < w.count) stats.time = to_uint32(w.at(base + 2));
      }
    }
  }
}

void append_number(std::string& out, long long n) { out += std::to_string(n); }

}  // namespace

int userfile_section_count() {
  int count = 0;
  const config::ConfigEntry* cursor = nullptr;
  while (count < core::kMaxSections) {
    const config::ConfigEntry* line = config::next_config("stat_section", cursor);
    if (!line || !line->arg(1) || !line->arg(2)) break;
    ++count;
  }
  return count;
}

void parse_userfile(std::string_view text, std::string_view name, int section_count, time_t today,
                    core::UserRecord& record, std::string* home_dir) {
  record = core::UserRecord{};
  core::copy_field(record.name, name);
  if (section_count > core::kMaxSections) section_count = core::kMaxSections;

  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

    std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);

    std::size_t start = 0;
    while (start < line.size() && is_separator(line[start])) ++start;
    std::size_t stop = start;
    while (stop < line.size() && !is_separator(line[stop])) ++stop;
    std::string_view keyword = line.substr(start, stop - start);
    if (keyword.empty() || keyword.size() > kMaxKeyword) continue;
    // The keyword's one separator belongs to it; the rest is the value.
    std::string_view rest = stop < line.size() ? line.substr(stop + 1) : std::string_view();

    if (keyword == "TAGLINE") {
      core::copy_field(record.tagline, tidy(rest));
    } else if (keyword == "USER") {
      core::copy_field(record.comment, tidy(rest));
    } else {
      apply_line(keyword, rest, section_count, today, record, home_dir);
    }
  }
}

std::string format_userfile(const core::UserRecord& r, int sections) {
  if (sections > core::kMaxSections) sections = core::kMaxSections;
  if (sections < 0) sections = 0;
  std::string out;
  out.reserve(1024);
  // A field never carries a newline into the file, where it would start a
  // line of its own.
  auto bounded = [](const char* field, std::size_t size, std::size_t limit) {
    std::size_t n = strnlen(field, size);
    std::string text(field, n < limit ? n : limit);
    for (char& c : text)
      if (c == '\n') c = ' ';
    return text;
  };

  out += "USER ";
  out += r.comment[0] ? bounded(r.comment, sizeof r.comment, sizeof r.comment) : bounded(r.name, sizeof r.name, sizeof r.name);
  out += "\nGENERAL ";
  append_number(out, r.wkly_section);
  out += ',';
  append_number(out, r.wkly_allotment);
  out += ' ';
  append_number(out, r.idle_time);
  out += ' ';
  append_number(out, r.max_dlspeed);
  out += ' ';
  append_number(out, r.max_ulspeed);
  out += "\nLOGINS ";
  append_number(out, r.max_logins);
  out += ' ';
  append_number(out, r.max_logins_per_ip);
  out += ' ';
  append_number(out, r.max_sim_down);
  out += ' ';
  append_number(out, r.max_sim_up);
  out += "\nTIMEFRAME ";
  append_number(out, r.timeframe_from);
  out += ' ';
  append_number(out, r.timeframe_to);
  out += "\nFLAGS ";
  out += bounded(r.flags, sizeof r.flags, 100);
  out += "\nTAGLINE ";
  out += bounded(r.tagline, sizeof r.tagline, 64);
  out += "\nDIR ";
  out += bounded(r.startup_dir, sizeof r.startup_dir, 64);
  out += "\nCREDITS ";
  for (int s = 0; s < sections; ++s) {
    append_number(out, r.sections[s].credits);
    out += ' ';
  }
  out += "\nRATIO ";
  for (int s = 0; s < sections; ++s) {
    append_number(out, r.sections[s].ratio);
    out += ' ';
  }
  out += '\n';
  for (int k = 0; k < 8; ++k) {
    out += kStatKeywords[k];
    out += ' ';
    for (int s = 0; s < sections; ++s) {
      const core::TransferStats& stats = r.sections[s].*kStatLines[k];
      append_number(out, stats.files);
      out += ' ';
      append_number(out, stats.amount);
      out += ' ';
      append_number(out, stats.time);
      out += ' ';
    }
    out += '\n';
  }
  out += "NUKE ";
  for (int s = 0; s < sections; ++s) {
    append_number(out, r.sections[s].last_nuked);
    out += ' ';
    append_number(out, r.sections[s].times_nuked);
    out += ' ';
    append_number(out, r.sections[s].nuked_mb);
    out += ' ';
  }
  out += "\nTIME ";
  append_number(out, r.logins_total);
  out += ' ';
  append_number(out, r.last_login);
  out += ' ';
  append_number(out, r.time_limit);
  out += ' ';
  append_number(out, r.time_today);
  out += "\nSLOTS ";
  append_number(out, r.slots[0]);
  out += ' ';
  append_number(out, r.slots[1]);
  out += '\n';
  auto list = [&](const char* keyword, const char* slots, std::size_t size, int count, std::size_t limit) {
    for (int i = 0; i < count; ++i) {
      const char* slot = slots + static_cast<std::size_t>(i) * size;
      if (slot[0] == '\0') break;
      out += keyword;
      out += bounded(slot, size, limit);
      out += '\n';
    }
  };
  list("GROUP ", &r.groups[0][0], core::kGroupNameSize, core::kMaxGroups, 15);
  list("PRIVATE ", &r.private_groups[0][0], core::kGroupNameSize, core::kMaxGroups, 100);
  list("IP ", &r.ips[0][0], core::kIpMaskSize, core::kMaxIps, 100);
  return out;
}

bool valid_user_name(std::string_view name) {
  if (name.empty() || name.size() > 23) return false;
  if (name == "." || name == "..") return false;
  for (char c : name)
    if (c == '/' || c == '\0' || c == '\n') return false;
  return true;
}

}  // namespace userdb
