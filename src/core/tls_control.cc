// The control connection's TLS: the handshake, the reply stream that
// writes through the session, and the way back to clear text.
#include "core/tls_control.h"

#include <cerrno>
#include <cstdio>

#include "core/control_reader.h"
#include "core/reply.h"
#include "core/tls_stream.h"

namespace core {
namespace {

constexpr int kReplyFd = 1;

std::FILE* protected_replies = nullptr;
bool was_protected = false;

// The reply stream's sink while TLS is on: whole lines, retried until
// written or the connection failed.
ssize_t write_through_tls(void*, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t sent = stream_write(kReplyFd, data + done, size - done);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += static_cast<std::size_t>(sent);
  }
  return static_cast<ssize_t>(done);
}

std::FILE* open_protected_replies() {
  cookie_io_functions_t functions{};
  functions.write = write_through_tls;
  std::FILE* stream = ::fopencookie(nullptr, "w", functions);
  // Replies are flushed line by line; each flush becomes one TLS record.
  if (stream != nullptr) std::setvbuf(stream, nullptr, _IOFBF, 16384);
  return stream;
}

}  // namespace

bool secure_control_connection(std::string& error) {
  std::fflush(reply_stream());
  discard_buffered_input();
  if (protected_replies == nullptr) protected_replies = open_protected_replies();
  if (protected_replies == nullptr) {
    error = "cannot make the reply stream";
    return false;
  }
  if (!tls_start(control_fd(), kReplyFd, TlsRole::Server, TlsUse::Control, -1, error)) return false;
  set_reply_stream(protected_replies);
  was_protected = true;
  return true;
}

void clear_control_connection() {
  std::fflush(reply_stream());
  set_reply_stream(nullptr);
  discard_buffered_input();
  tls_end(control_fd(), false, 0);
  tls_skip_peer_closure(control_fd());
}

void close_protected_control() {
  if (!control_protected()) return;
  std::fflush(reply_stream());
  tls_end(control_fd(), false, 0);
}

bool control_protected() { return tls_active(control_fd()); }

bool control_was_protected() { return was_protected; }

}  // namespace core
