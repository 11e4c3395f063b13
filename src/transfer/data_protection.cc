// The TLS side of data connections.
#include "transfer/data_protection.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/logs.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/tls_control.h"
#include "core/tls_stream.h"

namespace transfer {
namespace {

// As long as a client is given to connect: the handshake gets the same.
constexpr int kHandshakeMs = 10 * 1000;
// The closure is not waited for: the peer's close_notify is optional.
constexpr int kClosureMs = 0;

// The host part of a socket address (IPv4, IPv6 or IPv4 mapped into IPv6)
// as 16 bytes, for comparing two ends.
bool host_of(int fd, int (*query)(int, sockaddr*, socklen_t*), unsigned char (&host)[16]) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (query(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  std::memset(host, 0, sizeof host);
  if (address.ss_family == AF_INET) {
    host[10] = host[11] = 0xff;
    std::memcpy(host + 12, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, 4);
    return true;
  }
  if (address.ss_family == AF_INET6) {
    std::memcpy(host, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, 16);
    return true;
  }
  return false;
}

// True when the data connection's peer is the control connection's host.
bool peer_is_client(int fd) {
  unsigned char data_host[16], control_host[16];
  return host_of(fd, ::getpeername, data_host) && host_of(0, ::getpeername, control_host) &&
         std::memcmp(data_host, control_host, sizeof data_host) == 0;
}

}  // namespace

DataProtection& data_protection() {
  static DataProtection state;
  return state;
}

bool data_protection_allowed() {
  if (data_protection().private_data) return true;
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* rule = config::next_config("tls_data", cursor);
  if (rule == nullptr || !config::acl_match(nullptr, 1, rule)) return true;
  core::reply(521, "Data connections must be protected on this site: use PROT P.");
  return false;
}

bool protect_data_connection(int fd) {
  DataProtection& state = data_protection();
  const bool client_role = state.client_method || state.client_once;
  state.client_once = false;
  if (!state.private_data || core::tls_active(fd)) return true;
  std::string error;
  const core::TlsRole role = client_role ? core::TlsRole::Client : core::TlsRole::Server;
  if (!core::tls_start(fd, fd, role, core::TlsUse::Data, kHandshakeMs, error)) {
    core::error_log("TLS handshake on the data connection of %s failed: %s", core::session().user.name, error);
    core::reply(425, "TLS negotiation on the data connection failed: %s.", error);
    return false;
  }
  if (role == core::TlsRole::Server && !core::tls_resumed(fd) && peer_is_client(fd)) {
    core::error_log("Data connection of %s refused: it did not resume the control connection's TLS session",
                    core::session().user.name);
    core::tls_drop(fd);
    core::reply(522, "The data connection must resume the control connection's TLS session.");
    return false;
  }
  return true;
}

void end_data_protection(int fd) {
  if (core::tls_active(fd)) core::tls_end(fd, false, kClosureMs);
}

}  // namespace transfer
