// The handlers the command reader defines itself (the grammar-level
// commands, HELP) and the stubs of the commands not written yet, which
// answer "not implemented" from protocol/unimplemented_handlers.cc. The
// other handlers live beside the subsystem they drive and are declared in
// its *_commands.h. To plug in a real handler: define it in its folder's
// commands header, delete its stub here and there, and name it in the
// table row.
#pragma once

#include "config/config_store.h"
#include "protocol/command_table.h"

namespace protocol::handlers {

// Base commands.
int idnt(const CommandArgs&);
int port(const CommandArgs&);
int type(const CommandArgs&);
int stru(const CommandArgs&);
int mode(const CommandArgs&);
int allo(const CommandArgs&);
int rest(const CommandArgs&);
int abor(const CommandArgs&);
int syst(const CommandArgs&);
int help(const CommandArgs&);
int noop(const CommandArgs&);
int cdup(const CommandArgs&);

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form.
int site_nukes(const CommandArgs&);
int site_unnukes(const CommandArgs&);
int site_syslog(const CommandArgs&);
int site_errlog(const CommandArgs&);
int site_reqlog(const CommandArgs&);
int site_logins(const CommandArgs&);
int site_help(const CommandArgs&);
int site_msg(const CommandArgs&);
int site_give(const CommandArgs&);
int site_take(const CommandArgs&);
int site_nuke(const CommandArgs&);
int site_unnuke(const CommandArgs&);
int site_onel(const CommandArgs&);
int site_reqfilled(const CommandArgs&);
int site_seen(const CommandArgs&);
int site_laston(const CommandArgs&);
int site_request(const CommandArgs&);
int site_wipe(const CommandArgs&);

// A `site_cmd` command that is not an alias: the site's text file or
// program, answered with `code`; `arguments` is the rest of the line as
// typed, nullptr when none.
int site_custom(int code, const config::ConfigEntry& line, const char* arguments);

}  // namespace protocol::handlers
