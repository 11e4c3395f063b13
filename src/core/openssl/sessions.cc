// TLS sessions attached to sockets, and the stream calls that use them.
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "core/openssl/engine.h"

namespace core::openssl {
namespace {

// Without kernel TLS a file is read into this buffer and sent as full-size
// TLS records; one buffer's worth is one call.
constexpr std::size_t kFileBuffer = 256 << 10;
// What one receive of an upload's data connection may take in at once.
constexpr std::size_t kDataReadAhead = 128 << 10;

struct Attachment {
  int fd = -1;
  int write_fd = -1;
  SSL* ssl = nullptr;
  // After a fatal error no closure may be attempted.
  bool failed = false;
  // Bytes read from the file and not yet accepted by SSL_write.
  std::unique_ptr<char[]> file_buffer;
  std::size_t file_pending = 0;
};

std::vector<Attachment>& attachments() {
  static std::vector<Attachment> list;
  return list;
}

Attachment* find(int fd) {
  for (Attachment& a : attachments())
    if (a.fd == fd || a.write_fd == fd) return &a;
  return nullptr;
}

void detach(int fd) {
  auto& list = attachments();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->fd != fd && it->write_fd != fd) continue;
    SSL_free(it->ssl);
    list.erase(it);
    return;
  }
}

// The session a stream call on `fd` goes through, with OpenSSL's error
// queue and errno cleared for it; nullptr (errno EBADF) for a descriptor
// without one, which the callers never pass.
Attachment* start_stream_call(int fd) {
  Attachment* a = find(fd);
  if (a == nullptr) {
    errno = EBADF;
    return nullptr;
  }
  ERR_clear_error();
  errno = 0;
  return a;
}

// Restores a descriptor's status flags when the scope ends.
class FlagsGuard {
 public:
  FlagsGuard(int fd, bool non_blocking) : fd_(fd), flags_(::fcntl(fd, F_GETFL)) {
    if (flags_ >= 0) ::fcntl(fd, F_SETFL, non_blocking ? flags_ | O_NONBLOCK : flags_);
  }
  ~FlagsGuard() {
    if (flags_ >= 0) ::fcntl(fd_, F_SETFL, flags_);
  }
  FlagsGuard(const FlagsGuard&) = delete;
  FlagsGuard& operator=(const FlagsGuard&) = delete;

 private:
  int fd_;
  int flags_;
};

long long monotonic_ms() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Milliseconds left until `deadline`, at least 0.
int left_until(long long deadline) {
  return static_cast<int>(std::max(0LL, deadline - monotonic_ms()));
}

// Sets errno for a failed SSL call and returns -1. `saved` is errno as the
// call left it.
ssize_t failure(Attachment& a, int result, int saved) {
  switch (SSL_get_error(a.ssl, result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      errno = saved == EINTR ? EINTR : EAGAIN;
      return -1;
    case SSL_ERROR_SYSCALL:
      a.failed = true;
      ERR_clear_error();
      errno = saved != 0 && saved != EAGAIN ? saved : EPIPE;
      return -1;
    default:
      // A protocol error, or a stream that ended without its close_notify
      // (a truncated transfer).
      a.failed = true;
      ERR_clear_error();
      errno = ECONNABORTED;
      return -1;
  }
}

// The reason a handshake failed, for the log.
std::string handshake_failure(SSL* ssl, int result, int saved) {
  const int kind = SSL_get_error(ssl, result);
  if (kind == SSL_ERROR_SSL) return error_text();
  if (kind == SSL_ERROR_SYSCALL)
    return saved == 0 ? "the peer closed the connection" : std::strerror(saved);
  if (kind == SSL_ERROR_ZERO_RETURN) return "the peer closed the connection";
  return "handshake interrupted";
}

// One step of a handshake: its result, the errno it left and the kind of
// error OpenSSL makes of it.
struct HandshakeStep {
  int result;
  int saved_errno;
  int kind;
  bool done() const { return result == 1; }
  bool wants_io() const { return kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE; }
};

HandshakeStep handshake_step(SSL* ssl) {
  ERR_clear_error();
  errno = 0;
  const int result = SSL_do_handshake(ssl);
  const int saved = errno;
  return {result, saved, result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, result)};
}

// A handshake on a descriptor used without blocking, bounded in time.
bool bounded_handshake(SSL* ssl, int fd, int timeout_ms, std::string& error) {
  FlagsGuard non_blocking(fd, true);
  const long long deadline = monotonic_ms() + timeout_ms;
  for (;;) {
    const HandshakeStep step = handshake_step(ssl);
    if (step.done()) return true;
    if (!step.wants_io()) {
      error = handshake_failure(ssl, step.result, step.saved_errno);
      return false;
    }
    const int left = left_until(deadline);
    if (left <= 0) {
      error = "the peer did not complete the handshake in time";
      return false;
    }
    pollfd wait_for{fd, static_cast<short>(step.kind == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
    if (::poll(&wait_for, 1, left) < 0 && errno == EINTR) host().end_session_if_requested();
  }
}

// A handshake on the blocking control connection; the idle alarm and the
// ending signals interrupt it as they interrupt a read.
bool unbounded_handshake(SSL* ssl, std::string& error) {
  for (;;) {
    const HandshakeStep step = handshake_step(ssl);
    if (step.done()) return true;
    if (step.wants_io() && step.saved_errno == EINTR) {
      host().end_session_if_requested();
      host().check_idle_alarm();
      continue;
    }
    error = handshake_failure(ssl, step.result, step.saved_errno);
    return false;
  }
}

}  // namespace

bool start(int fd, int write_fd, TlsRole role, TlsUse use, int timeout_ms, std::string& error) {
  SSL_CTX* made = context(error);
  if (made == nullptr) return false;
  SSL* ssl = SSL_new(made);
  if (ssl == nullptr || SSL_set_rfd(ssl, fd) != 1 || SSL_set_wfd(ssl, write_fd) != 1) {
    error = error_text();
    SSL_free(ssl);
    return false;
  }
  if (use == TlsUse::Data) {
    SSL_set_num_tickets(ssl, 0);
    // The kernel may take over the record layer of a data connection,
    // which keeps downloads on sendfile. Never the control connection's:
    // after CCC its socket must carry clear text again.
    SSL_set_options(ssl, SSL_OP_ENABLE_KTLS);
    // An upload arrives as a stream of full records: one receive takes as
    // many as have come, not a header and a body per record. Nothing but
    // TLS follows on a data connection, so nothing is read too far.
    SSL_set_read_ahead(ssl, 1);
    SSL_set_default_read_buffer_len(ssl, kDataReadAhead);
  }
  if (role == TlsRole::Server)
    SSL_set_accept_state(ssl);
  else
    SSL_set_connect_state(ssl);
  const bool done = timeout_ms >= 0 ? bounded_handshake(ssl, fd, timeout_ms, error)
                                    : unbounded_handshake(ssl, error);
  if (!done) {
    SSL_free(ssl);
    return false;
  }
  Attachment attachment;
  attachment.fd = fd;
  attachment.write_fd = write_fd;
  attachment.ssl = ssl;
  attachments().push_back(std::move(attachment));
  return true;
}

bool attached(int fd) { return find(fd) != nullptr; }

bool resumed(int fd) {
  const Attachment* a = find(fd);
  return a != nullptr && SSL_session_reused(a->ssl) == 1;
}

std::string description(int fd) {
  const Attachment* a = find(fd);
  if (a == nullptr) return "clear";
  return std::string(SSL_get_version(a->ssl)) + " " + SSL_get_cipher_name(a->ssl);
}

bool kernel_send(int fd) {
  const Attachment* a = find(fd);
  return a != nullptr && BIO_get_ktls_send(SSL_get_wbio(a->ssl)) == 1;
}

bool end(int fd, bool wait_for_peer, int timeout_ms) {
  Attachment* a = find(fd);
  if (a == nullptr) return true;
  bool closed = false;
  if (!a->failed) {
    // A peer that stopped reading (an aborted download) must not hold the
    // closure up: it is tried without blocking, within the time limit.
    FlagsGuard non_blocking(a->write_fd, true);
    FlagsGuard non_blocking_read(a->fd, true);
    const long long deadline = monotonic_ms() + std::max(timeout_ms, 0);
    for (;;) {
      ERR_clear_error();
      const int result = SSL_shutdown(a->ssl);
      if (result == 1 || (result == 0 && !wait_for_peer)) {
        closed = true;
        break;
      }
      const int kind = result == 0 ? SSL_ERROR_WANT_READ : SSL_get_error(a->ssl, result);
      const int left = left_until(deadline);
      if ((kind != SSL_ERROR_WANT_READ && kind != SSL_ERROR_WANT_WRITE) || left <= 0) break;
      pollfd wait_for{kind == SSL_ERROR_WANT_READ ? a->fd : a->write_fd,
                      static_cast<short>(kind == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
      ::poll(&wait_for, 1, left);
    }
  }
  ERR_clear_error();
  detach(fd);
  return closed;
}

void drop(int fd) { detach(fd); }

ssize_t read(int fd, void* buffer, std::size_t size) {
  Attachment* a = start_stream_call(fd);
  if (a == nullptr) return -1;
  // A record holds at most 16 KiB: the records already received go out
  // together, so that a large buffer is filled as for a clear connection.
  // An error after some data is met again by the next read.
  char* into = static_cast<char*>(buffer);
  const std::size_t wanted = std::min<std::size_t>(size, INT_MAX);
  std::size_t total = 0;
  int got = 0;
  do {
    got = SSL_read(a->ssl, into + total, static_cast<int>(wanted - total));
    if (got > 0) total += static_cast<std::size_t>(got);
  } while (got > 0 && total < wanted && SSL_has_pending(a->ssl) == 1);
  if (total > 0) {
    ERR_clear_error();
    return static_cast<ssize_t>(total);
  }
  const int saved = errno;
  if (SSL_get_error(a->ssl, got) == SSL_ERROR_ZERO_RETURN) return 0;
  return failure(*a, got, saved);
}

ssize_t write(int fd, const void* data, std::size_t size) {
  Attachment* a = start_stream_call(fd);
  if (a == nullptr) return -1;
  const int sent = SSL_write(a->ssl, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
  if (sent > 0) return sent;
  return failure(*a, sent, errno);
}

ssize_t sendfile(int out_fd, int in_fd, off_t* offset, std::size_t count) {
  Attachment* a = start_stream_call(out_fd);
  if (a == nullptr) return -1;
  if (BIO_get_ktls_send(SSL_get_wbio(a->ssl)) == 1) {
    const ossl_ssize_t sent = SSL_sendfile(a->ssl, in_fd, *offset, count, 0);
    if (sent > 0) {
      *offset += static_cast<off_t>(sent);
      return sent;
    }
    return failure(*a, static_cast<int>(sent), errno);
  }
  if (a->file_pending == 0) {
    if (!a->file_buffer) a->file_buffer.reset(new char[kFileBuffer]);
    const ssize_t got = ::pread(in_fd, a->file_buffer.get(), std::min(count, kFileBuffer), *offset);
    if (got <= 0) return got;
    a->file_pending = static_cast<std::size_t>(got);
  }
  // A retry after EAGAIN must offer SSL_write the very same bytes.
  errno = 0;
  const int sent = SSL_write(a->ssl, a->file_buffer.get(), static_cast<int>(a->file_pending));
  if (sent <= 0) return failure(*a, sent, errno);
  a->file_pending = 0;
  *offset += sent;
  return sent;
}

bool pending(int fd) {
  const Attachment* a = find(fd);
  return a != nullptr && SSL_pending(a->ssl) > 0;
}

}  // namespace core::openssl
