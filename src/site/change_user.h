// SITE CHANGE: edits one field of one user's record, or of every member of
// a group, of every user, or of a list of names.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// The bare form shows the help text; the dispatcher has checked `-change`
// for it. Every other form checks its own rule keys.
int site_change(const CommandArgs&);

}  // namespace site::commands
