// The release-database listings and the directory-log SITE commands: NEW
// lists the newest release directories, NUKES and UNNUKES the newest nukes
// and unnukes, SEARCH finds directories by words, UPDATE rebuilds their
// records from the directories on disk.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule (-dirs, -update) has allowed them
// already; `text` is empty for the bare form.
int site_new(const CommandArgs&);
int site_nukes(const CommandArgs&);
int site_unnukes(const CommandArgs&);
int site_search(const CommandArgs&);
int site_update(const CommandArgs&);

}  // namespace site::commands
