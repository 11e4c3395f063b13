// The commands of explicit TLS: AUTH, PBSZ, PROT and CCC for the client's
// own connections, SSCN and CPSV for site-to-site transfers, where this
// server takes the client role of the data connection's handshake.
#pragma once

#include <string>

#include "core/command_args.h"

namespace session {

// USER on a clear control connection: false, after a 530 reply, when a
// `tls_login` rule requires the user `name` to log in over TLS.
bool tls_login_allowed(const std::string& name);

}  // namespace session

namespace session::commands {

using core::CommandArgs;

int auth(const CommandArgs&);
int pbsz(const CommandArgs&);
int prot(const CommandArgs&);
int ccc(const CommandArgs&);
int sscn(const CommandArgs&);
int cpsv(const CommandArgs&);

}  // namespace session::commands
