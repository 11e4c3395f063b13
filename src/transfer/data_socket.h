// Helpers the data-connection code shares inside the transfer module: the
// socket options of data sockets, the direction of the open connection, and
// holding off SIGPIPE while a data connection is open.
#pragma once

#include <ctime>

#include "transfer/data_connection.h"

namespace transfer {

// IP_TOS = IPTOS_THROUGHPUT; a failure is only a syslog warning. `own`, the
// socket's address when the caller knows it, spares asking for it.
void set_throughput_tos(int fd, const core::NetAddress* own = nullptr);

// The direction given to the last open_data_connection.
XferDirection current_direction();
void set_current_direction(XferDirection direction);

// A client that drops the data connection must cost it the transfer (a 426
// reply), not the session: SIGPIPE, which ends the session, is held while
// a data connection is open and a pending one is discarded at the end
// (a clear upload, which only reads, needs no hold).
void begin_data_connection();
void end_data_connection();

// The active-mode socket, bound to the port-20-style source address (as
// root), or -1 with errno set. Reuses an already open data connection.
int create_active_socket();

// The data connection is used without blocking for the length of a
// transfer loop: a client that stops sending or reading is waited for in
// poll, where the control connection (ABOR, STAT, a closed session) is
// heard as well. The flags come back when the loop ends.
class NonBlockingSocket {
 public:
  explicit NonBlockingSocket(int fd);
  ~NonBlockingSocket();
  NonBlockingSocket(const NonBlockingSocket&) = delete;
  NonBlockingSocket& operator=(const NonBlockingSocket&) = delete;

 private:
  int fd_;
  int flags_;
};

timespec monotonic_now();
// Milliseconds since `since` on the monotonic clock.
int elapsed_ms(const timespec& since);

}  // namespace transfer
