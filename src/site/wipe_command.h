// SITE WIPE: removes a file, or a directory with its files ("-r": a whole
// tree), without the per-file rights of DELE and RMD.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// The -wipe rule has allowed it already; the bare form shows "site.wipe".
int site_wipe(const CommandArgs&);

}  // namespace site::commands
