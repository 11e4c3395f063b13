// The commands that move file data: active and passive mode, downloads and
// uploads.
#pragma once

#include "core/command_args.h"

namespace transfer::commands {

using core::CommandArgs;

int port(const CommandArgs&);
int eprt(const CommandArgs&);
int pasv(const CommandArgs&);
int epsv(const CommandArgs&);
int retr(const CommandArgs&);
int stor(const CommandArgs&);
int appe(const CommandArgs&);
int stou(const CommandArgs&);

}  // namespace transfer::commands
