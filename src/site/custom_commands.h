// Site-supplied SITE commands from `site_cmd` lines: a text file (TEXT) or
// a program whose output is relayed (EXEC).
#pragma once

#include "config/config_store.h"

namespace site::commands {

// Runs the custom command of `line` (word, type, file or program, fixed
// arguments) for the session user, answering with `code`. `arguments` is
// what the user typed after the word, nullptr when nothing. The user must
// pass the "custom-<word>" rule, the word in lower case.
int run_site_command(int code, const config::ConfigEntry& line, const char* arguments);

}  // namespace site::commands
