// SITE EMULATE: the session takes on another user's record.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// No access rule is checked before it: the handler tests -emulate itself,
// and only until the session first emulated someone.
int site_emulate(const CommandArgs&);

}  // namespace site::commands
