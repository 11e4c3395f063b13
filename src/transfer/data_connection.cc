// Opening and closing the data connection, active and passive, and the
// foreign-address policy that guards both.
#include "transfer/data_connection.h"

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/idle_alarm.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "transfer/address_rings.h"
#include "transfer/data_protection.h"
#include "transfer/data_socket.h"

namespace transfer {
namespace {

constexpr int kWaitStepSeconds = 1;  // xfer_wait_step
constexpr int kWaitMaxSeconds = 10;  // xfer_wait_max
constexpr int kActiveBindRetries = 10;

core::Session& s() { return core::session(); }

std::string size_text(off_t size) {
  return size == -1 ? std::string() : core::format(" (%ld bytes)", {static_cast<long>(size)});
}

void opening_reply(const char* name, off_t size) {
  core::string_reply(150, 10, 0, s().type == 1 ? "ASCII" : "BINARY", name, size_text(size));
}

void close_passive_socket() {
  if (s().pasv_fd >= 0) ::close(s().pasv_fd);
  s().pasv_fd = -1;
}

// Waits up to the wait limit for the client to connect to the passive
// socket (made non-blocking by PASV and EPSV). A signal (urgent data, the
// idle alarm) does not shorten the wait.
int accept_passive() {
  const int listener = s().pasv_fd;
  int waited_ms = 0;
  for (;;) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    // The accepted socket is blocking whatever the listener is.
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd >= 0) {
      const core::NetAddress client =
          core::NetAddress::from_socket(reinterpret_cast<const sockaddr*>(&peer), length);
      if (check_foreign_address(425, client, current_direction()) != 0) {
        ::close(fd);
        return -2;
      }
      return fd;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    if (waited_ms >= kWaitMaxSeconds * 1000) return -1;
    pollfd wait_for{listener, POLLIN, 0};
    const timespec before = monotonic_now();
    const int ready = ::poll(&wait_for, 1, kWaitMaxSeconds * 1000 - waited_ms);
    waited_ms += elapsed_ms(before);
    if (ready < 0 && errno == EINTR) core::check_idle_alarm();
    if (ready == 0) waited_ms = kWaitMaxSeconds * 1000;
  }
}

int open_passive(const char* name, off_t size) {
  const int fd = accept_passive();
  if (fd < 0) {
    if (fd == -1) core::string_reply(425, 519, 0);
    close_passive_socket();
    return -1;
  }
  close_passive_socket();
  s().data_fd = fd;
  // The type of service comes with the accepted socket from the listener.
  begin_data_connection();
  opening_reply(name, size);
  return fd;
}

int open_active(const char* name, off_t size) {
  core::Session& session = s();
  if (session.use_default_data_port) session.data_dest_addr = session.peer_addr;
  if (check_foreign_address(500, session.data_dest_addr, current_direction()) != 0) return -1;
  if (session.data_dest_addr.port() == 0) {
    core::string_reply(500, 521, 0);
    return -1;
  }
  session.use_default_data_port = 1;
  const int fd = create_active_socket();
  if (fd < 0) {
    const int error = errno;
    core::string_reply(425, 522, 0, session.local_addr.host_text(),
                       static_cast<int>(session.data_source_addr.port()),
                       std::strerror(error));
    return -1;
  }
  session.data_fd = fd;
  int waited = 0;
  bool interrupted = false;
  while (::connect(fd, session.data_dest_addr.raw(), session.data_dest_addr.length()) != 0) {
    const int error = errno;
    // A connect interrupted by a signal (an early idle ring, urgent data)
    // goes on in the kernel; called again, it may find it done.
    if (error == EISCONN && interrupted) break;
    interrupted = error == EINTR;
    if (error == EINTR) core::check_idle_alarm();
    if ((error == EADDRINUSE || error == EINTR) && waited < kWaitMaxSeconds) {
      core::pause_seconds(kWaitStepSeconds);
      waited += kWaitStepSeconds;
      continue;
    }
    errno = error;
    core::perror_reply(425, "Can't build data connection");
    ::close(fd);
    session.data_fd = -1;
    return -1;
  }
  begin_data_connection();
  opening_reply(name, size);
  active_ring().advance();
  return fd;
}

}  // namespace

TransferProgress& progress() {
  static TransferProgress state;
  return state;
}

int create_active_socket() {
  core::Session& session = s();
  if (session.data_fd >= 0) return session.data_fd;
  int fd = -1;
  int error = 0;
  {
    core::PrivilegeBracket root;
    fd = ::socket(session.local_addr.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // The ring's addresses are IPv4: an IPv6 session leaves from its own.
    core::NetAddress source = session.local_addr;
    source.set_port(session.data_source_addr.port());
    if (const char* addr = active_ring().current().addr; addr[0] != '\0' && !source.is_ipv6())
      source.set_host_text(addr);
    for (int retry = 1;; ++retry) {
      if (::bind(fd, source.raw(), source.length()) == 0) break;
      error = errno;
      if (error != EADDRINUSE || retry > kActiveBindRetries) break;
      core::pause_seconds(static_cast<unsigned>(retry));
      error = 0;
    }
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  set_throughput_tos(fd);
  return fd;
}

static int open_clear_connection(const char* name, off_t size, XferDirection direction) {
  core::Session& session = s();
  progress() = TransferProgress{size, 0};
  set_current_direction(direction);
  if (session.pasv_fd >= 0) return open_passive(name, size);
  if (session.data_fd >= 0) {
    core::string_reply(125, 520, 0, name, size_text(size));
    session.use_default_data_port = 1;
    return session.data_fd;
  }
  return open_active(name, size);
}

// The connection is opened clear; PROT P then puts TLS on it.
int open_data_connection(const char* name, off_t size, XferDirection direction) {
  if (!data_protection_allowed()) return -1;
  const int fd = open_clear_connection(name, size, direction);
  if (fd < 0 || protect_data_connection(fd)) return fd;
  close_data_connection();
  return -1;
}

void close_data_connection() {
  core::Session& session = s();
  if (session.data_fd >= 0) {
    end_data_protection(session.data_fd);
    ::close(session.data_fd);
  }
  session.data_fd = -1;
  close_passive_socket();
  end_data_connection();
}

int check_foreign_address(int code, const core::NetAddress& address, XferDirection direction) {
  core::Session& session = s();
  if (direction == XferDirection::Listing) return 0;
  if (address.same_host(session.peer_addr)) return 0;

  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* matched = nullptr;
  while (const config::ConfigEntry* line = config::next_config("allow_fxp", cursor)) {
    if (line->arg(4) == nullptr) break;
    if (config::acl_match(nullptr, 4, line)) {
      matched = line;
      break;
    }
  }
  if (matched == nullptr) return 0;

  const bool download = direction != XferDirection::Upload;
  if (matched->arg(3) != nullptr && ::strcasecmp(matched->arg(3), "yes") == 0)
    core::sysop_log("'%s' attempting %s a foreign address %s", session.user.name,
                    download ? "download to" : "upload from", address.host_text());
  const char* allowed = matched->arg(download ? 1 : 2);
  if (allowed == nullptr || ::strcasecmp(allowed, "no") != 0) return 0;
  core::string_reply(code, 150, 0, download ? "to" : "from");
  return 1;
}

}  // namespace transfer
