// The statistics SITE commands: the thirteen top lists, TRAFFIC and STATS.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form.
int site_wkup(const CommandArgs&);
int site_wkdn(const CommandArgs&);
int site_alup(const CommandArgs&);
int site_aldn(const CommandArgs&);
int site_dayup(const CommandArgs&);
int site_daydn(const CommandArgs&);
int site_monthup(const CommandArgs&);
int site_monthdn(const CommandArgs&);
int site_gpal(const CommandArgs&);
int site_gpwk(const CommandArgs&);
int site_gpwd(const CommandArgs&);
int site_gpad(const CommandArgs&);
int site_nuketop(const CommandArgs&);
int site_traffic(const CommandArgs&);
int site_stats(const CommandArgs&);

}  // namespace site::commands
