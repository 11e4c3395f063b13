// The dupe SITE commands: DUPE searches the dupe log, UNDUPE and PREDUPE
// take names out of and put names into the dupe file, XDUPE sets how a
// refused upload reports the files its directory already has.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form, which shows the command's help text.
int site_dupe(const CommandArgs&);
int site_undupe(const CommandArgs&);
int site_predupe(const CommandArgs&);
int site_xdupe(const CommandArgs&);

}  // namespace site::commands
