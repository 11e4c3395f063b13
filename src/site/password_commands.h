// SITE CHPASS and SITE PASSWD: an administrator sets another account's
// password, a user his own.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form, which shows the command's usage.
int site_chpass(const CommandArgs&);
int site_passwd(const CommandArgs&);

}  // namespace site::commands
