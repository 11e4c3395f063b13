// The commands of the session itself: login, QUIT and status, directory
// changes and listings, SIZE and MDTM, and the personal SITE commands.
#pragma once

#include "core/command_args.h"

namespace session::commands {

using core::CommandArgs;

int user(const CommandArgs&);
int pass(const CommandArgs&);
int quit(const CommandArgs&);
int stat(const CommandArgs&);
int cwd(const CommandArgs&);
// CDUP: CWD "..".
int cdup(const CommandArgs&);
int pwd(const CommandArgs&);
int mkd(const CommandArgs&);
int rmd(const CommandArgs&);
int dele(const CommandArgs&);
// RNFR keeps the name it accepted in the session's rename_from for RNTO.
int rnfr(const CommandArgs&);
int rnto(const CommandArgs&);
int list(const CommandArgs&);
int nlst(const CommandArgs&);
int mlsd(const CommandArgs&);
int mlst(const CommandArgs&);
int size(const CommandArgs&);
int mdtm(const CommandArgs&);

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form.
int site_stat(const CommandArgs&);
int site_idle(const CommandArgs&);
int site_time(const CommandArgs&);
int site_vers(const CommandArgs&);
int site_color(const CommandArgs&);
int site_tagline(const CommandArgs&);
int site_alias(const CommandArgs&);
int site_cdpath(const CommandArgs&);
int site_chmod(const CommandArgs&);

}  // namespace session::commands
