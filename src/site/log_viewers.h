// SITE LOGINS, REQLOG, SYSLOG and ERRLOG: the four readable logs listed
// back, optionally only the last days and only lines holding a word.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

int site_logins(const CommandArgs&);
int site_reqlog(const CommandArgs&);
int site_syslog(const CommandArgs&);
int site_errlog(const CommandArgs&);

}  // namespace site::commands
