// The download loop.
#include "transfer/send_data.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "core/control_reader.h"
#include "core/idle_alarm.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/tls_stream.h"
#include "online/online_table.h"
#include "online/throttle.h"
#include "transfer/data_connection.h"
#include "transfer/data_socket.h"
#include "transfer/transfer_control.h"

namespace transfer {
namespace {

enum class Outcome { Done, InputError, OutputError, Aborted };

class SendLoop {
 public:
  // The governing `speed_limit` line and the user's own limit cannot change
  // during one download, so they are looked up once, not per chunk.
  SendLoop(int in, int out, const std::string& path)
      : in_(in),
        out_(out),
        own_limit_(static_cast<long>(core::session().user.max_dlspeed)),
        area_(online::governing_speed_limit(path.c_str(), online::Direction::Download)),
        throttled_(own_limit_ != 0 || area_.pattern != nullptr) {}

  // From `position` of a file that had `size` bytes when opened.
  Outcome binary(off_t position, off_t size);
  Outcome ascii();

 private:
  // The per-chunk bookkeeping; false when the client aborted.
  bool after_chunk(std::size_t moved);
  // Writes all of `data`; false on a data-connection error or an ABOR.
  Outcome write_all(const char* data, std::size_t size);
  // At end of input: true when the file may still grow (after a pause) or
  // has grown already; `size` becomes its size now.
  bool follow_growing_file(off_t position, off_t& size);

  int in_;
  int out_;
  long own_limit_;
  online::AreaLimit area_;
  bool throttled_;
  ControlWatch control_;
  bool aborted_ = false;
};

bool SendLoop::after_chunk(std::size_t moved) {
  core::restart_idle_time_out();
  progress().byte_count += static_cast<off_t>(moved);
  online::add_own_transfer_bytes(moved);
  if (control_.interrupted()) return false;
  if (!throttled_) return true;
  online::throttle_transfer(area_, own_limit_, online::Direction::Download);
  // The throttle's pause ends early for urgent data.
  return !control_.interrupted();
}

Outcome SendLoop::write_all(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = core::stream_write(out_, data, size);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!wait_for_data_connection(out_, POLLOUT)) return Outcome::Aborted;
        continue;
      }
      if (errno == EINTR) {
        if (interrupted_by_signal()) return Outcome::Aborted;
        continue;
      }
      return Outcome::OutputError;
    }
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return Outcome::Done;
}

bool SendLoop::follow_growing_file(off_t position, off_t& size) {
  struct stat st {};
  if (::fstat(in_, &st) != 0) return false;
  size = st.st_size;
  if (st.st_size > position) return true;
  if (!still_growing(st.st_mode, st.st_mtime, ::time(nullptr))) return false;
  ::sleep(1);
  if (interrupted_by_signal()) aborted_ = true;
  return !aborted_;
}

Outcome SendLoop::binary(off_t position, off_t size) {
  std::size_t chunk = throttled_ ? kThrottledChunk : kFirstBinaryChunk;
  for (;;) {
    // Sent as far as the file reached: it ends here unless it grows, which
    // its status tells without one more call that would send nothing.
    if (position >= size) {
      if (follow_growing_file(position, size)) continue;
      return aborted_ ? Outcome::Aborted : Outcome::Done;
    }
    const ssize_t sent = core::stream_sendfile(out_, in_, &position, chunk);
    if (sent > 0) {
      if (!after_chunk(static_cast<std::size_t>(sent))) return Outcome::Aborted;
      if (!throttled_ && chunk < kBinaryChunk) chunk *= 2;
      continue;
    }
    if (sent == 0) {  // shorter than it was
      if (follow_growing_file(position, size)) continue;
      return aborted_ ? Outcome::Aborted : Outcome::Done;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait_for_data_connection(out_, POLLOUT)) return Outcome::Aborted;
      continue;
    }
    if (errno == EINTR) {
      if (interrupted_by_signal()) return Outcome::Aborted;
      continue;
    }
    if (errno == EIO) return Outcome::InputError;
    // The client may have sent ABOR just before dropping the connection.
    if (abort_requested()) return Outcome::Aborted;
    return Outcome::OutputError;
  }
}

Outcome SendLoop::ascii() {
  std::string block(kAsciiBlock, '\0');
  std::string converted;
  converted.reserve(2 * kAsciiBlock);
  for (;;) {
    const ssize_t got = ::read(in_, block.data(), block.size());
    if (got < 0) {
      if (errno == EINTR) {
        if (interrupted_by_signal()) return Outcome::Aborted;
        continue;
      }
      return Outcome::InputError;
    }
    if (got == 0) return Outcome::Done;
    converted.clear();
    ascii_convert(block.data(), static_cast<std::size_t>(got), converted);
    const Outcome written = write_all(converted.data(), converted.size());
    if (written == Outcome::OutputError && abort_requested()) return Outcome::Aborted;
    if (written != Outcome::Done) return written;
    if (!after_chunk(static_cast<std::size_t>(got))) return Outcome::Aborted;
  }
}

}  // namespace

void ascii_convert(const char* data, std::size_t size, std::string& out) {
  const char* end = data + size;
  while (data < end) {
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', static_cast<std::size_t>(end - data)));
    if (newline == nullptr) {
      out.append(data, end);
      return;
    }
    out.append(data, newline);
    out.append("\r\n", 2);
    data = newline + 1;
  }
}

bool still_growing(mode_t mode, time_t mtime, time_t now) {
  return (mode & 0777) == kGrowingMode && now - mtime < kGrowingWindowSeconds;
}

int send_data(int in, int out, const std::string& path, bool ascii, off_t position, off_t size) {
  core::Session& s = core::session();
  s.transfer_in_progress = 1;
  core::restart_idle_time_out();
  // The online status keeps the command line ("RETR ...") throughout: the
  // throttle and the simultaneous-download limits recognise downloads by it.
  Outcome outcome;
  {
    NonBlockingSocket non_blocking(out);
    SendLoop loop(in, out, path);
    outcome = ascii ? loop.ascii() : loop.binary(position, size);
  }
  core::restart_idle_time_out();
  switch (outcome) {
    case Outcome::Done:
      return 0;
    case Outcome::InputError:
      core::perror_reply(551, "Error on input file");
      return -1;
    case Outcome::OutputError:
      core::perror_reply(426, "Data connection");
      return -1;
    case Outcome::Aborted:
      online::end_own_transfer();
      return -1;
  }
  return -1;
}

}  // namespace transfer
