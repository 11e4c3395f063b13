// PASV and EPSV: a listening socket on a port of the `pasv_ports` ranges.
// PASV announces it with the address of the passive ring (which may be a
// NAT-only address); EPSV announces only the port. The ring's addresses
// are IPv4: a session on IPv6 binds its own control address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/logs.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "transfer/active_mode.h"
#include "transfer/address_rings.h"
#include "transfer/data_address.h"
#include "transfer/data_socket.h"
#include "transfer/passive_ports.h"
#include "transfer/transfer_commands.h"

namespace transfer::commands {
namespace {

constexpr int kMostBindAttempts = 300;

// Always false, for the caller to return.
bool refuse(int& fd) {
  const int error = errno;
  if (fd >= 0) ::close(fd);
  fd = -1;
  errno = error;
  core::perror_reply(425, "Can't open passive connection");
  return false;
}

// Only ports below 1024 need root to bind; any port will do when no
// ranges are set (port 0).
bool bind_to(int fd, const core::NetAddress& address) {
  if (address.port() == 0 || address.port() >= 1024) return ::bind(fd, address.raw(), address.length()) == 0;
  int error = 0;
  {
    core::PrivilegeBracket root;
    if (::bind(fd, address.raw(), address.length()) == 0) return true;
    error = errno;
  }
  errno = error;
  return false;
}

// Binds `fd` to a port of the ranges, which `address` takes (0 when the
// system chose it); false with errno set.
bool bind_passive_port(int fd, core::NetAddress& address) {
  core::Session& s = core::session();
  transfer::PassivePortPicker picker(s.pasv_ranges, s.pasv_next);
  int attempts = 0;
  bool bound = false;
  int error = 0;
  for (;;) {
    address.set_port(static_cast<uint16_t>(picker.port_to_try(::random())));
    bound = bind_to(fd, address);
    error = bound ? 0 : errno;
    ++attempts;
    picker.after_bind();
    if (bound || error != EADDRINUSE || attempts >= kMostBindAttempts) break;
  }
  if (attempts >= kMostBindAttempts)
    core::error_log("%s: aborting after %d unsuccessful passive bind retries.%s", s.user.name,
                    kMostBindAttempts, " You may have too few ports in pasv_ports.");
  errno = error;
  return bound;
}

// Opens pasv_fd listening on a passive port; the bound address in `bound`.
// Replies 425 itself on failure and returns false.
bool open_passive_listener(core::NetAddress& bound) {
  core::Session& s = core::session();
  if (s.pasv_fd > 0) ::close(s.pasv_fd);
  // Non-blocking: the accept waits in poll, with its own limit.
  s.pasv_fd = ::socket(s.local_addr.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s.pasv_fd < 0) return refuse(s.pasv_fd);
  // The data socket of the previous transfer may still hold a port of the
  // ranges in TIME_WAIT; without this a single-port range would refuse
  // every PASV for a minute after each transfer. A port the system
  // chooses is a free one.
  if (s.pasv_next != -1) {
    const int on = 1;
    ::setsockopt(s.pasv_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }

  const transfer::AddrRingNode& node = transfer::passive_ring().current();
  core::NetAddress address = s.local_addr;
  if (!s.local_addr.is_ipv6() && node.nat_only == 0 && node.addr[0] != '\0')
    address.set_host_text(node.addr);
  if (!bind_passive_port(s.pasv_fd, address)) return refuse(s.pasv_fd);
  bound = address;
  if (bound.port() == 0) {
    sockaddr_storage own{};
    socklen_t length = sizeof own;
    if (::getsockname(s.pasv_fd, reinterpret_cast<sockaddr*>(&own), &length) != 0)
      return refuse(s.pasv_fd);
    bound = core::NetAddress::from_socket(reinterpret_cast<const sockaddr*>(&own), length);
  }
  transfer::set_throughput_tos(s.pasv_fd, &bound);
  if (::listen(s.pasv_fd, 1) != 0) return refuse(s.pasv_fd);
  return true;
}

}  // namespace

int pasv(const CommandArgs&) {
  core::Session& s = core::session();
  if (transfer::refused_after_epsv_all("PASV")) return 1;
  if (s.local_addr.is_ipv6()) {
    core::reply(522, "Network protocol not supported, use EPSV: PASV cannot name an IPv6 address.");
    return 1;
  }
  core::NetAddress address;
  if (!open_passive_listener(address)) return 1;

  const transfer::AddrRingNode& node = transfer::passive_ring().current();
  in_addr announced = address.ipv4_host();
  if (node.addr[0] != '\0') ::inet_pton(AF_INET, node.addr, &announced);
  const auto* a = reinterpret_cast<const unsigned char*>(&announced);
  const int port = address.port();
  core::string_reply(227, 15, 0, int{a[0]}, int{a[1]}, int{a[2]}, int{a[3]}, port >> 8, port & 0xff);
  transfer::passive_ring().advance();
  return 0;
}

int epsv(const CommandArgs& args) {
  core::Session& s = core::session();
  const transfer::EpsvArgument argument = transfer::parse_epsv_argument(args.text);
  const int own_protocol = transfer::protocol_number(s.local_addr);
  switch (argument.kind) {
    case transfer::EpsvArgument::Kind::kAll:
      s.epsv_all = 1;
      core::reply(200, "EPSV ALL ok: only EPSV sets up data connections from now on.");
      return 0;
    case transfer::EpsvArgument::Kind::kSyntax:
      core::reply(501, "EPSV takes a network protocol number or ALL.");
      return 1;
    case transfer::EpsvArgument::Kind::kProtocol:
      if (argument.protocol != own_protocol) {
        core::reply(522, "Network protocol not supported, use (%d)", own_protocol);
        return 1;
      }
      break;
    case transfer::EpsvArgument::Kind::kAny:
      break;
  }
  core::NetAddress address;
  if (!open_passive_listener(address)) return 1;
  core::reply(229, "Entering Extended Passive Mode (|||%d|)", int{address.port()});
  // The ring turns as for PASV, so both spread over the same addresses.
  if (!s.local_addr.is_ipv6()) transfer::passive_ring().advance();
  return 0;
}

}  // namespace transfer::commands
