// SITE NUKE and SITE UNNUKE: a bad release is nuked (its uploaders pay for
// it, it is deleted or renamed with a marker) and a renamed nuke undone.
#pragma once

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// The access rule (-nuke, -unnuke) has allowed them already; `text` is
// empty for the bare form, which shows the usage.
int site_nuke(const CommandArgs&);
int site_unnuke(const CommandArgs&);

}  // namespace site::commands
