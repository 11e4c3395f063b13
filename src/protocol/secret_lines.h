// Command lines that carry a password: PASS, and every line that reaches
// ADDUSER, GADDUSER, CHPASS or PASSWD, directly or through a `site_cmd`
// alias. Neither the online status nor the debug log may show them whole.
#pragma once

#include <cstddef>
#include <string_view>

namespace protocol {

// The length of the line's command words ("SITE NAME" for a SITE line)
// when the rest of the line carries a password; npos when the whole line
// may be shown.
std::size_t shown_length(std::string_view line);

}  // namespace protocol
