// Announcements of new and deleted release directories to the site's bot
// program (`botscript_path`, "/bin/botscript" by default).
#pragma once

#include <string_view>

namespace text {

// Runs the bot program with `event` ("NEWDIR", "DELDIR") and `path` as its
// two arguments. No shell sees the path, so quotes, "$(...)" or back-quotes
// in a directory name reach the bot exactly as they are. The program runs
// like every external program (as the user, never as root, in a session of
// its own); its output is read and thrown away and it is reaped before this
// returns. Nothing happens when the program does not exist. Returns the
// program's status, or -1 when it was missing or could not be started.
int announce_directory(const char* event, std::string_view path);

}  // namespace text
