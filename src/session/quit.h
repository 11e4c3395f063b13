// QUIT: the site's goodbye text for a logged-in user, then the end of the
// session.
#pragma once

namespace session {

[[noreturn]] void quit_command();

// Shows the file of the first `goodbye_msg` line whose rule matches the
// user, with code 221; false when no line matches.
bool show_goodbye();

}  // namespace session
