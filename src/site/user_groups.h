// A user's groups as continuation lines, for the group and user commands.
#pragma once

namespace site {

// The work record's groups and private groups ("*" before each), four to a
// line, with message 354 first when `with_header`, then an empty line.
void show_user_groups(int code, int with_header);

}  // namespace site
