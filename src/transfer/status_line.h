// The status line shown after transfers and by SITE STAT: the site's
// "statline.txt" template (or a built-in line) with the user's figures,
// and the free-space figure it shows.
#pragma once

#include <string_view>

namespace session {

// The built-in lines for a site without "statline.txt": one for users who
// pay no credits (ratio 0), one for everybody else.
inline constexpr std::string_view kLeechStatline =
    "!e[!G>>!g%[%.1f]IGMB!e][!G<<!g%[%.1f]IJMB!e][!GU!gnlimited!e][!GSpeed:!g%[%.2f]AK/s!e]"
    "[!GFree:!g%[%.0f]FMB!e]!0";
inline constexpr std::string_view kRatioStatline =
    "!e[!G>>!g%[%.1f]IGMB!e][!G<<!g%[%.1f]IJMB!e][!GCredits:!g%[%.1f]IcMB!e][!GSpeed:!g%[%.2f]"
    "AK/s!e][!GFree:!g%[%.0f]FMB!e]!0";

// Sends the status line with code 226; with `continued` its last line is a
// continuation line too (the caller sends the final reply). Resets the
// transfer byte counters.
void show_statline(bool continued);

// The built-in line for a user whose ratio in `section` is `ratio`
// (-1: the ratio of section 0, `base_ratio`).
std::string_view builtin_statline(int ratio, int base_ratio);

// Free space of the file system holding `path` in megabytes, stored in the
// session's free_space_mb.
void compute_free_space(const char* path = ".");

// available blocks x block size / 1.024 / 1000000.
float free_space_megabytes(unsigned long long available_blocks, unsigned long long block_size);

}  // namespace session
