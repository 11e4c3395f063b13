// The RFC 1413 ident client: asks the client's ident service who owns the
// control connection.
#pragma once

#include <string>

#include "core/net_address.h"

namespace session {

// Asks the ident service at the peer's address (port `ident_port`, 113
// unless a test says otherwise) about the connection `peer` <-> `local`.
// Gives up after 10 seconds. Returns the user name, or "UNKNOWN" when there
// is no usable answer. Afterwards the idle time-out starts again.
std::string ident_lookup(const core::NetAddress& peer, const core::NetAddress& local,
                         unsigned short ident_port = 113);

// Takes an ident reply line apart: the user name when the line answers
// for exactly `peer_port` and `local_port`, else "UNKNOWN".
std::string parse_ident_reply(const char* line, unsigned peer_port, unsigned local_port);

}  // namespace session
