// The upload loop.
#include "transfer/receive_data.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "core/control_reader.h"
#include "core/idle_alarm.h"
#include "core/session.h"
#include "core/tls_stream.h"
#include "online/online_table.h"
#include "online/throttle.h"
#include "transfer/ascii_receive.h"
#include "transfer/crc32.h"
#include "transfer/data_connection.h"
#include "transfer/data_socket.h"
#include "transfer/transfer_control.h"

namespace transfer {
namespace {

class ReceiveLoop {
 public:
  ReceiveLoop(int in, int out, const std::string& path, uint32_t* crc)
      : in_(in),
        out_(out),
        crc_(crc),
        own_limit_(static_cast<long>(core::session().user.max_ulspeed)),
        area_(online::governing_speed_limit(path.c_str(), online::Direction::Upload)),
        throttled_(own_limit_ != 0 || area_.pattern != nullptr),
        chunk_(throttled_ ? kThrottledReceiveChunk : kReceiveChunk),
        buffer_(receive_buffer()) {}

  ReceiveResult run(bool ascii);

 private:
  // One read of at most chunk_ bytes: > 0 bytes read, 0 at the end of the
  // data, -1 on an error (result_ says which) or an ABOR.
  ssize_t read_chunk();
  bool write_all(const char* data, std::size_t size);
  // The per-read bookkeeping; false when the client aborted.
  bool after_chunk(std::size_t received);

  int in_;
  int out_;
  uint32_t* crc_;
  long own_limit_;
  online::AreaLimit area_;
  bool throttled_;
  ControlWatch control_;
  std::size_t chunk_;
  char* buffer_;
  ReceiveResult result_;
};

ssize_t ReceiveLoop::read_chunk() {
  for (;;) {
    const ssize_t got = core::stream_read_nowait(in_, buffer_, chunk_);
    if (got >= 0) return got;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait_for_data_connection(in_, POLLIN)) break;
      continue;
    }
    if (errno == EINTR) {
      if (interrupted_by_signal()) break;
      continue;
    }
    // The client may have sent ABOR just before dropping the connection.
    if (abort_requested()) break;
    result_.outcome = ReceiveResult::InputError;
    result_.error = errno;
    return -1;
  }
  result_.outcome = ReceiveResult::Aborted;
  return -1;
}

bool ReceiveLoop::write_all(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(out_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      result_.outcome = ReceiveResult::OutputError;
      result_.error = written < 0 ? errno : ENOSPC;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool ReceiveLoop::after_chunk(std::size_t received) {
  core::restart_idle_time_out();
  progress().byte_count += static_cast<off_t>(received);
  online::add_own_transfer_bytes(received);
  bool aborted = control_.interrupted();
  if (!aborted && throttled_) {
    online::throttle_transfer(area_, own_limit_, online::Direction::Upload);
    // The throttle's pause ends early for urgent data.
    aborted = control_.interrupted();
  }
  if (aborted) result_.outcome = ReceiveResult::Aborted;
  return !aborted;
}

ReceiveResult ReceiveLoop::run(bool ascii) {
  if (buffer_ == nullptr) {
    result_.outcome = ReceiveResult::OutputError;
    result_.error = ENOMEM;
    return result_;
  }
  // A clear client starts sending once it has the 150 reply, which has
  // just gone out: waiting first saves a read that would find nothing. (A
  // TLS layer may hold bytes already, which the socket would not show.)
  if (!core::tls_active(in_) && !wait_for_data_connection(in_, POLLIN)) {
    result_.outcome = ReceiveResult::Aborted;
    return result_;
  }
  AsciiReceiver converter;
  std::string converted;
  for (;;) {
    const ssize_t got = read_chunk();
    if (got < 0) break;
    if (got == 0) {
      if (ascii) {
        converted.clear();
        converter.finish(converted);
        write_all(converted.data(), converted.size());
      }
      break;
    }
    const std::size_t size = static_cast<std::size_t>(got);
    if (ascii) {
      converted.clear();
      converter.convert(buffer_, size, converted);
      if (!write_all(converted.data(), converted.size())) break;
    } else {
      if (!write_all(buffer_, size)) break;
      if (crc_ != nullptr) *crc_ = crc_update(*crc_, buffer_, size);
    }
    if (!after_chunk(size)) break;
  }
  result_.bare_linefeeds = converter.bare_linefeeds();
  return result_;
}

}  // namespace

char* receive_buffer() {
  static char* buffer = nullptr;
  if (buffer == nullptr) {
    void* mapped = ::mmap(nullptr, kReceiveChunk, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (mapped != MAP_FAILED) buffer = static_cast<char*>(mapped);
  }
  return buffer;
}

ReceiveResult receive_data(int in, int out, const std::string& path, bool ascii, uint32_t* crc) {
  core::restart_idle_time_out();
  ReceiveResult result;
  {
    // A clear socket is read without waiting by the call itself; a TLS
    // session reads the socket underneath, which must not block.
    std::optional<NonBlockingSocket> non_blocking;
    if (core::tls_active(in)) non_blocking.emplace(in);
    ReceiveLoop loop(in, out, path, crc);
    result = loop.run(ascii);
  }
  core::restart_idle_time_out();
  if (result.outcome == ReceiveResult::Aborted) online::end_own_transfer();
  return result;
}

}  // namespace transfer
