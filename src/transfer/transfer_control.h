// The control connection while a transfer runs: between chunks the loops
// look for ABOR and STAT (sent as urgent data or plainly) and answer them;
// the idle alarm ends a stalled transfer.
#pragma once

#include <chrono>

namespace transfer {

// Looks at the control connection without waiting. ABOR is answered with
// string 565/426 (the transfer's reply) and string 566/226 (ABOR's own)
// and returns true: the caller stops the transfer without another reply.
// STAT is answered with the progress (string 567 or 568, code 213). Any
// other line is left for the command loop.
bool abort_requested();

// Between chunks and after a system call returned EINTR: acts on a
// termination request and the idle alarm (both end the session) and on
// pending urgent data; true when the transfer is aborted.
bool interrupted_by_signal();

// Waits until the data connection `fd` is ready for `events` (POLLIN or
// POLLOUT), watching the control connection meanwhile: a client that sends
// ABOR or STAT and stops moving data is answered instead of left waiting.
// False when the transfer is aborted; true also after a poll error, which
// the next read or write reports.
bool wait_for_data_connection(int fd, short events);

// Between the chunks of one transfer: acts on a termination request and
// the idle alarm at every chunk, but looks at the control connection only
// when urgent data arrived or kControlInterval has passed since it last
// did. A poll per chunk cost as much as a small file's other per-chunk
// work, and an ABOR or STAT sent plainly waits at most that long (a loop
// that has to wait for its data connection watches both at once).
class ControlWatch {
 public:
  static constexpr std::chrono::milliseconds kControlInterval{10};

  ControlWatch();
  // True when the transfer is aborted.
  bool interrupted();

 private:
  std::chrono::steady_clock::time_point next_look_;
};

// The line-handling step of abort_requested on a line already read (at
// most 7 characters): 1 for ABOR, 2 for STAT, 0 for anything else.
int classify_transfer_line(const char* line);

}  // namespace transfer
