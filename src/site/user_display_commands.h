// SITE SHOW and SITE FLAGS: a user's raw userfile, and his flags through
// the site's flags text.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form.
int site_show(const CommandArgs&);
int site_flags(const CommandArgs&);

}  // namespace site::commands
