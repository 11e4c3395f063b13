// SITE GIVE and TAKE: moving download credits of one statistics section
// from the session user to another user, or taking them away.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// The access rule (-give, -take) has allowed them already; `text` is empty
// for the bare form.
int site_give(const CommandArgs&);
int site_take(const CommandArgs&);

}  // namespace site::commands
