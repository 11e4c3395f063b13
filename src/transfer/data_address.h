// The texts that name data-connection addresses (EPRT's |proto|host|port|,
// EPSV's argument) taken apart without side effects, and the bounce rule
// every client-named destination passes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/net_address.h"

namespace transfer {

// RFC 2428 network protocol numbers.
inline constexpr int kProtocolIPv4 = 1;
inline constexpr int kProtocolIPv6 = 2;

int protocol_number(const core::NetAddress& address);

struct EprtArgument {
  enum class Error { kNone, kSyntax, kUnsupportedProtocol };
  Error error = Error::kNone;
  core::NetAddress address;  // set when error is kNone
};

// "<d>proto<d>host<d>port<d>" with any printable delimiter d (not a digit):
// proto 1 with a dotted IPv4 host or 2 with an IPv6 host, port 1-65535.
// A mapped IPv4 host under protocol 2 is taken as IPv4.
EprtArgument parse_eprt_argument(std::string_view text);

struct EpsvArgument {
  enum class Kind { kAny, kProtocol, kAll, kSyntax };
  Kind kind = Kind::kAny;
  int protocol = 0;  // kProtocol: 1 or 2, or another number to refuse with 522
};

// EPSV's optional argument: nothing, a protocol number or "ALL" (any case).
EpsvArgument parse_epsv_argument(const std::optional<std::string>& text);

// The FTP bounce rule: a client may name a privileged port (below 1024)
// only at its own address. Anything else would let the site send bytes to
// a third party's mail or other privileged service.
bool is_bounce_destination(const core::NetAddress& destination, const core::NetAddress& peer);

}  // namespace transfer
