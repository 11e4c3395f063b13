// The group SITE commands: membership (CHGRP, GROUP), the group file
// (GRPADD, GRPDEL, GRPLOG, GRPNFO, GRPREN) and the reports (GROUPS,
// GINFO).
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form.
int site_chgrp(const CommandArgs&);
int site_group(const CommandArgs&);

int site_grpadd(const CommandArgs&);
int site_grpdel(const CommandArgs&);
int site_grplog(const CommandArgs&);
int site_grpnfo(const CommandArgs&);
int site_grpren(const CommandArgs&);

int site_groups(const CommandArgs&);
int site_ginfo(const CommandArgs&);

}  // namespace site::commands
