// SITE ADDIP and SITE DELIP: the ident@host masks a user may connect from.
#pragma once

#include <string_view>

#include "core/command_args.h"

namespace site {

// ADDIP's work on "NAME MASK [MASK ...]", also for the masks a new account
// is created with. With `continued` every line is a continuation line and
// the caller ends the reply. 0 when every mask was added.
int add_ips(std::string_view arguments, bool continued);

}  // namespace site

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form, which shows the command's help text.
int site_addip(const CommandArgs&);
int site_delip(const CommandArgs&);

}  // namespace site::commands
