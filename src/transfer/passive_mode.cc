// PASV: a listening socket on a port of the `pasv_ports` ranges, announced
// with the address of the passive ring (which may be a NAT-only address).
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
#include "transfer/address_rings.h"
#include "transfer/data_socket.h"
#include "transfer/passive_ports.h"
#include "transfer/transfer_commands.h"

namespace transfer::commands {
namespace {

constexpr int kMostBindAttempts = 300;

int refuse(int& fd) {
  const int error = errno;
  if (fd >= 0) ::close(fd);
  fd = -1;
  errno = error;
  core::perror_reply(425, "Can't open passive connection");
  return 1;
}

// Binds `fd` as root to a port of the ranges; false with errno set.
bool bind_passive_port(int fd, sockaddr_in address) {
  core::Session& s = core::session();
  transfer::PassivePortPicker picker(s.pasv_ranges, s.pasv_next);
  core::PrivilegeBracket root;
  int attempts = 0;
  bool bound = false;
  int error = 0;
  for (;;) {
    address.sin_port = htons(static_cast<uint16_t>(picker.port_to_try(::random())));
    bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
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

}  // namespace

int pasv(const CommandArgs&) {
  core::Session& s = core::session();
  if (s.pasv_fd > 0) ::close(s.pasv_fd);
  s.pasv_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s.pasv_fd < 0) return refuse(s.pasv_fd);
  // The data socket of the previous transfer may still hold the port in
  // TIME_WAIT; without this a single-port range would refuse every PASV
  // for a minute after each transfer.
  const int on = 1;
  ::setsockopt(s.pasv_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  const transfer::AddrRingNode& node = transfer::passive_ring().current();
  sockaddr_in address = s.local_addr;
  address.sin_family = AF_INET;
  if (node.nat_only == 0 && node.addr[0] != '\0') ::inet_pton(AF_INET, node.addr, &address.sin_addr);
  if (!bind_passive_port(s.pasv_fd, address)) return refuse(s.pasv_fd);

  socklen_t length = sizeof address;
  if (::getsockname(s.pasv_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return refuse(s.pasv_fd);
  transfer::set_throughput_tos(s.pasv_fd);
  if (::listen(s.pasv_fd, 1) != 0) return refuse(s.pasv_fd);

  in_addr announced = address.sin_addr;
  if (node.addr[0] != '\0') ::inet_pton(AF_INET, node.addr, &announced);
  const auto* a = reinterpret_cast<const unsigned char*>(&announced);
  const auto* p = reinterpret_cast<const unsigned char*>(&address.sin_port);
  core::string_reply(227, 15, 0, int{a[0]}, int{a[1]}, int{a[2]}, int{a[3]}, int{p[0]}, int{p[1]});
  transfer::passive_ring().advance();
  return 0;
}

}  // namespace transfer::commands
