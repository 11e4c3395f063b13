// Socket options, direction bookkeeping and the SIGPIPE hold of data
// connections.
#include "transfer/data_socket.h"

#include <fcntl.h>

#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <syslog.h>

#include <csignal>

#include "core/net_address.h"
#include "transfer/data_protection.h"

namespace transfer {
namespace {

XferDirection open_direction = XferDirection::Listing;
bool holding_sigpipe = false;
sigset_t mask_before_hold;

}  // namespace

void set_throughput_tos(int fd, const core::NetAddress* own) {
  const bool set = own != nullptr ? core::set_type_of_service(fd, IPTOS_THROUGHPUT, *own)
                                  : core::set_type_of_service(fd, IPTOS_THROUGHPUT);
  if (!set) syslog(LOG_WARNING, "setsockopt (IP_TOS): %m");
}

XferDirection current_direction() { return open_direction; }
void set_current_direction(XferDirection direction) { open_direction = direction; }

void begin_data_connection() {
  // A clear upload only reads its socket, which raises no SIGPIPE.
  if (holding_sigpipe || (open_direction == XferDirection::Upload && !data_protection().private_data)) return;
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  if (::sigprocmask(SIG_BLOCK, &pipe_only, &mask_before_hold) == 0) holding_sigpipe = true;
}

void end_data_connection() {
  if (!holding_sigpipe) return;
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  // A SIGPIPE raised by the data connection is consumed here; one raised by
  // the control connection meanwhile shows again as end of input there.
  const timespec no_wait{0, 0};
  while (::sigtimedwait(&pipe_only, nullptr, &no_wait) == SIGPIPE) {
  }
  if (!sigismember(&mask_before_hold, SIGPIPE)) ::sigprocmask(SIG_UNBLOCK, &pipe_only, nullptr);
  holding_sigpipe = false;
}

NonBlockingSocket::NonBlockingSocket(int fd) : fd_(fd), flags_(::fcntl(fd, F_GETFL)) {
  if (flags_ >= 0) ::fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK);
}

NonBlockingSocket::~NonBlockingSocket() {
  if (flags_ >= 0) ::fcntl(fd_, F_SETFL, flags_);
}

timespec monotonic_now() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

int elapsed_ms(const timespec& since) {
  const timespec now = monotonic_now();
  return static_cast<int>((now.tv_sec - since.tv_sec) * 1000 + (now.tv_nsec - since.tv_nsec) / 1000000);
}

}  // namespace transfer
