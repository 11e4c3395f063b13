// SITE WELCOME: the welcome texts again, after login.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

int site_welcome(const CommandArgs&);

}  // namespace site::commands
