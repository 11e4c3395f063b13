// The commands that move file data: passive mode and downloads.
#pragma once

#include "core/command_args.h"

namespace transfer::commands {

using core::CommandArgs;

int pasv(const CommandArgs&);
int retr(const CommandArgs&);

}  // namespace transfer::commands
