// How old a release database entry is, as the listings show it: the two
// largest units only, each right-aligned in two columns.
#pragma once

#include <ctime>
#include <string>

namespace releases {

// " 2d  3h" from a day on, " 2h  5m" from an hour on, otherwise " 4m  9s";
// a negative age (a clock set back) reads as no age.
std::string age_text(long long seconds);

// The age of a time stamp taken with core::now().
std::string age_since(time_t stamp);

}  // namespace releases
