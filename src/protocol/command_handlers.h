// The handlers the command reader defines itself: the grammar-level
// commands and HELP. The other handlers live beside the subsystem they
// drive, are declared in its *_commands.h and named in the table row.
#pragma once

#include "protocol/command_table.h"

namespace protocol::handlers {

// Base commands.
int idnt(const CommandArgs&);
int type(const CommandArgs&);
int stru(const CommandArgs&);
int mode(const CommandArgs&);
int allo(const CommandArgs&);
int rest(const CommandArgs&);
int abor(const CommandArgs&);
int syst(const CommandArgs&);
int help(const CommandArgs&);
int noop(const CommandArgs&);
int feat(const CommandArgs&);
int opts(const CommandArgs&);
int pret(const CommandArgs&);

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form.
int site_help(const CommandArgs&);

}  // namespace protocol::handlers
