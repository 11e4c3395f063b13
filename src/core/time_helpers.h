// Login hours and the starts of the statistics periods, all in the site's
// local time (the timezone offset added).
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace core {

// Whether the current hour lies in [from, to); a window may pass midnight.
// Hours outside 0-23, or from == to, allow any time.
bool in_timeframe(int from, int to);
// The same decision for an explicit hour, 0-23.
bool hour_in_timeframe(int hour, int from, int to);

time_t start_of_today();
// The week starts on Sunday, or Monday when the server runs with -e.
time_t start_of_week();
time_t start_of_month();

// Period starts for an explicit time, as the functions above compute them.
time_t start_of_today(time_t at);
time_t start_of_week(time_t at, bool monday_first);
time_t start_of_month(time_t at);

// 1234567 -> "1,234,567".
std::string format_grouped(long long number);
void format_grouped(char* buffer, std::size_t size, long long number);

}  // namespace core
