// Login hours and statistics period starts in the site's local time.
#include "core/time_helpers.h"

#include <cstring>

#include "core/session.h"

namespace core {
namespace {

time_t midnight_of(time_t at, int day_of_month = 0) {
  struct tm local{};
  if (!localtime_r(&at, &local)) return at;
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  if (day_of_month > 0) local.tm_mday = day_of_month;
  local.tm_isdst = -1;
  return mktime(&local);
}

}  // namespace

bool hour_in_timeframe(int hour, int from, int to) {
  if (from < 0 || from > 23 || to < 0 || to > 23 || from == to) return true;
  // A window that passes midnight is shifted to start before hour 0.
  if (to < from) {
    if (hour >= from) hour -= 24;
    from -= 24;
  }
  return from <= hour && hour < to;
}

bool in_timeframe(int from, int to) {
  time_t at = now();
  struct tm local{};
  if (!localtime_r(&at, &local)) return true;
  return hour_in_timeframe(local.tm_hour, from, to);
}

time_t start_of_today(time_t at) { return midnight_of(at); }

time_t start_of_week(time_t at, bool monday_first) {
  struct tm local{};
  if (!localtime_r(&at, &local)) return midnight_of(at);
  int days_back = monday_first ? (local.tm_wday + 6) % 7 : local.tm_wday;
  return midnight_of(at) - 86400L * days_back;
}

time_t start_of_month(time_t at) { return midnight_of(at, 1); }

time_t start_of_today() { return start_of_today(now()); }
time_t start_of_week() { return start_of_week(now(), session().week_starts_monday != 0); }
time_t start_of_month() { return start_of_month(now()); }

std::string format_grouped(long long number) {
  unsigned long long magnitude = number < 0 ? 0ULL - static_cast<unsigned long long>(number)
                                            : static_cast<unsigned long long>(number);
  std::string digits = std::to_string(magnitude);
  std::string out;
  std::size_t lead = digits.size() % 3;
  if (lead == 0) lead = 3;
  out.append(digits, 0, lead);
  for (std::size_t i = lead; i < digits.size(); i += 3) {
    out += ',';
    out.append(digits, i, 3);
  }
  return number < 0 ? "-" + out : out;
}

void format_grouped(char* buffer, std::size_t size, long long number) {
  if (size == 0) return;
  std::string text = format_grouped(number);
  std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace core
