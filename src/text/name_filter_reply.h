// The site's name filter (`path-filter`) with its refusal: the filter's
// text file, then its strings record, both with code 553.
#pragma once

#include <string>

namespace text {

// Checks the last component of a new directory's or file's path; a
// refusal has been answered when false.
bool name_passes_filter(const std::string& path);

}  // namespace text
