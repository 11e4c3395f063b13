// The site's bulletin files as SITE commands: requests (REQUEST,
// REQFILLED), oneliners (ONEL), the last-online list (LASTON, and the entry
// each session leaves at logout) and SEEN.
#pragma once

#include <ctime>

#include "core/command_args.h"

namespace site {

// The bare form of the list commands: text NAME.head, the list, text
// NAME.foot and the closing line.
int show_bulletin(const char* name, int (*list)(int code));

// Adds the session's last-online entry, ending at `logout` (site time),
// when the `lastonline` line asks for it.
void record_last_online(time_t logout);

}  // namespace site

namespace site::commands {

using core::CommandArgs;

// The access rules have allowed them already; `text` is empty for the bare
// form.
int site_request(const CommandArgs&);
int site_reqfilled(const CommandArgs&);
int site_onel(const CommandArgs&);
int site_laston(const CommandArgs&);
int site_seen(const CommandArgs&);

}  // namespace site::commands
