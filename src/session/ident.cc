// The RFC 1413 ident client. The 10-second limit is the alarm, whose
// handler only sets a flag: the blocked connect, write or read returns
// EINTR and the lookup gives up.
#include "session/ident.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/idle_alarm.h"
#include "core/unique_fd.h"

namespace session {
namespace {

constexpr std::chrono::seconds kIdentLimit{10};
constexpr const char* kUnknown = "UNKNOWN";

volatile sig_atomic_t ident_alarm_rang = 0;

void ident_alarm_handler(int) { ident_alarm_rang = 1; }

// Installs the flag handler for SIGALRM and sets the timer; restores the
// previous handler and restarts the idle time-out on exit.
class IdentAlarm {
 public:
  IdentAlarm() {
    ident_alarm_rang = 0;
    struct sigaction action {};
    action.sa_handler = ident_alarm_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // interrupt the blocked call
    sigaction(SIGALRM, &action, &previous_);
    core::set_alarm_timer(kIdentLimit);
  }
  ~IdentAlarm() {
    core::set_alarm_timer({});
    sigaction(SIGALRM, &previous_, nullptr);
    core::restart_idle_time_out();
  }
  IdentAlarm(const IdentAlarm&) = delete;
  IdentAlarm& operator=(const IdentAlarm&) = delete;

 private:
  struct sigaction previous_ {};
};

// A call interrupted by anything but our alarm is tried again.
bool interrupted_by_other_signal(long result) {
  return result < 0 && errno == EINTR && !ident_alarm_rang;
}

bool send_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (interrupted_by_other_signal(n)) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads up to the first LF (or 511 bytes); false when nothing came.
bool read_line(int fd, char* line, std::size_t size) {
  std::size_t used = 0;
  while (used + 1 < size) {
    ssize_t n = ::recv(fd, line + used, size - 1 - used, 0);
    if (interrupted_by_other_signal(n)) continue;
    if (n <= 0) break;
    used += static_cast<std::size_t>(n);
    if (std::memchr(line, '\n', used) != nullptr) break;
  }
  line[used] = '\0';
  return used > 0;
}

}  // namespace

std::string parse_ident_reply(const char* line, unsigned peer_port, unsigned local_port) {
  unsigned answered_peer = 0, answered_local = 0;
  char user[256] = {};
  if (std::sscanf(line, "%u , %u : USERID :%*[^:]:%255s", &answered_peer, &answered_local, user) != 3)
    return kUnknown;
  if (answered_peer != peer_port || answered_local != local_port) return kUnknown;
  user[std::strcspn(user, "\r")] = '\0';
  return user;
}

std::string ident_lookup(const core::NetAddress& peer, const core::NetAddress& local,
                         unsigned short ident_port) {
  if (peer.family() != local.family()) return kUnknown;
  const core::UniqueFd sock(::socket(peer.family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock) return kUnknown;
  IdentAlarm alarm_guard;

  // The send/receive time-outs back the alarm up: should it ring just
  // before a call blocks, the call still ends in time.
  timeval limit{static_cast<time_t>(kIdentLimit.count()), 0};
  setsockopt(sock.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(sock.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

  core::NetAddress from = local;
  from.set_port(0);
  if (::bind(sock.get(), from.raw(), from.length()) != 0) return kUnknown;
  core::NetAddress to = peer;
  to.set_port(ident_port);
  if (::connect(sock.get(), to.raw(), to.length()) != 0) return kUnknown;

  const unsigned peer_port = peer.port();
  const unsigned local_port = local.port();
  char query[32];
  int length = std::snprintf(query, sizeof query, "%u,%u\r\n", peer_port, local_port);
  if (!send_all(sock.get(), query, static_cast<std::size_t>(length))) return kUnknown;

  char line[512];
  if (!read_line(sock.get(), line, sizeof line)) return kUnknown;
  return parse_ident_reply(line, peer_port, local_port);
}

}  // namespace session
