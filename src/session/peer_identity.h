// Who is on the other end: the reverse lookup of the peer, the front-end
// bouncer recognition and the bouncer's "IDNT ident@ip:host" announcement.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/net_address.h"

namespace session {

// The host name of `address`, retrying up to `retries` times (3 seconds
// apart) while the resolver reports a temporary failure; nothing when
// `retries` is 0 or the name is unknown.
std::optional<std::string> reverse_lookup(const core::NetAddress& address, int retries);

// Fills remote_host and remote_ip from `peer`, titles the process and, in
// debug mode, logs the connection.
void log_connection(const core::NetAddress& peer);

// True when remote_ip is the first address of a host on the `bouncer_ip`
// line (unresolvable names are logged and skipped).
bool peer_is_bouncer();

// Takes an IDNT argument "ident@ip[:host]" into the session: ident_user,
// remote_ip, remote_host (resolved from the address when the host part is
// missing or is itself an address), ident_known = 1, bouncer_mode = 0.
// Returns false, changing nothing, when there is no "@".
bool take_idnt_argument(std::string_view argument);

// True for a numeric address: dotted IPv4 such as "10.1.2.3" or IPv6.
bool is_dotted_address(std::string_view text);

}  // namespace session
