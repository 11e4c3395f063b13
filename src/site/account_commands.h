// The SITE commands that create, delete, restore, purge and rename
// accounts: ADDUSER, GADDUSER, DELUSER, READD, PURGE and RENUSER.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form. Each returns 0 on success, 1 on failure.
int site_adduser(const CommandArgs&);
int site_gadduser(const CommandArgs&);
int site_deluser(const CommandArgs&);
int site_readd(const CommandArgs&);
int site_purge(const CommandArgs&);
int site_renuser(const CommandArgs&);

}  // namespace site::commands
