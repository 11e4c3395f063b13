// The stream calls: clear descriptors go straight to the system, those with
// a TLS session attached through the TLS engine.
#include "core/tls_stream.h"

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "core/tls_engine.h"

namespace core {
namespace {

const TlsEngine*& installed_engine() {
  static const TlsEngine* engine = nullptr;
  return engine;
}

// The engine when `fd` has a session attached, else nullptr.
const TlsEngine* engine_of(int fd) {
  const TlsEngine* engine = installed_engine();
  return engine != nullptr && engine->attached(fd) ? engine : nullptr;
}

// Descriptors whose peer will send the rest of a TLS closure (after CCC)
// before clear text follows.
std::vector<int>& closures_expected() {
  static std::vector<int> list;
  return list;
}

// Reads and drops whole TLS records (of any type: a TLS 1.3 alert travels
// as application data) while they are next on `fd`.
void skip_tls_records(int fd) {
  for (;;) {
    unsigned char header[5];
    ssize_t got;
    do got = ::recv(fd, header, 1, MSG_PEEK);
    while (got < 0 && errno == EINTR);
    if (got != 1 || header[0] < 0x14 || header[0] > 0x17) return;
    std::size_t have = 0;
    while (have < sizeof header) {
      got = ::read(fd, header + have, sizeof header - have);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return;
      have += static_cast<std::size_t>(got);
    }
    std::size_t left = static_cast<std::size_t>(header[3]) << 8 | header[4];
    char sink[512];
    while (left > 0) {
      got = ::read(fd, sink, std::min(left, sizeof sink));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return;
      left -= static_cast<std::size_t>(got);
    }
  }
}

// A stream call's result as read(2) gives it: the engine reports a failure
// as minus its error number.
ssize_t as_system_call(ssize_t result) {
  if (result >= 0) return result;
  errno = static_cast<int>(-result);
  return -1;
}

}  // namespace

const TlsEngine* tls_engine() { return installed_engine(); }

void install_tls_engine(const TlsEngine* engine) { installed_engine() = engine; }

bool tls_start(int fd, int write_fd, TlsRole role, TlsUse use, int timeout_ms, std::string& error) {
  const TlsEngine* engine = installed_engine();
  if (engine == nullptr) {
    error = "TLS is not configured";
    return false;
  }
  char reason[kTlsErrorSize];
  if (engine->start(fd, write_fd, role, use, timeout_ms, reason, sizeof reason)) return true;
  error = reason;
  return false;
}

bool tls_active(int fd) { return engine_of(fd) != nullptr; }

bool tls_resumed(int fd) {
  const TlsEngine* engine = engine_of(fd);
  return engine != nullptr && engine->resumed(fd);
}

std::string tls_description(int fd) {
  const TlsEngine* engine = engine_of(fd);
  if (engine == nullptr) return "clear";
  char text[kTlsErrorSize];
  engine->description(fd, text, sizeof text);
  return text;
}

bool tls_kernel_send(int fd) {
  const TlsEngine* engine = engine_of(fd);
  return engine != nullptr && engine->kernel_send(fd);
}

bool tls_end(int fd, bool wait_for_peer, int timeout_ms) {
  const TlsEngine* engine = engine_of(fd);
  return engine == nullptr || engine->end(fd, wait_for_peer, timeout_ms);
}

void tls_drop(int fd) {
  if (const TlsEngine* engine = engine_of(fd)) engine->drop(fd);
}

void tls_skip_peer_closure(int fd) { closures_expected().push_back(fd); }

namespace {

const TlsEngine* engine_for_reading(int fd) {
  auto& expected = closures_expected();
  if (auto it = std::find(expected.begin(), expected.end(), fd); it != expected.end()) {
    expected.erase(it);
    skip_tls_records(fd);
  }
  return engine_of(fd);
}

}  // namespace

ssize_t stream_read(int fd, void* buffer, std::size_t size) {
  if (const TlsEngine* engine = engine_for_reading(fd)) return as_system_call(engine->read(fd, buffer, size));
  return ::read(fd, buffer, size);
}

ssize_t stream_read_nowait(int fd, void* buffer, std::size_t size) {
  if (const TlsEngine* engine = engine_for_reading(fd)) return as_system_call(engine->read(fd, buffer, size));
  const ssize_t got = ::recv(fd, buffer, size, MSG_DONTWAIT);
  if (got < 0 && errno == ENOTSOCK) return ::read(fd, buffer, size);
  return got;
}

ssize_t stream_write(int fd, const void* data, std::size_t size) {
  if (const TlsEngine* engine = engine_of(fd)) return as_system_call(engine->write(fd, data, size));
  const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
  if (sent < 0 && errno == ENOTSOCK) return ::write(fd, data, size);
  return sent;
}

ssize_t stream_sendfile(int out_fd, int in_fd, off_t* offset, std::size_t count) {
  if (const TlsEngine* engine = engine_of(out_fd))
    return as_system_call(engine->sendfile(out_fd, in_fd, offset, count));
  return ::sendfile(out_fd, in_fd, offset, count);
}

bool stream_pending(int fd) {
  const TlsEngine* engine = engine_of(fd);
  return engine != nullptr && engine->pending(fd);
}

}  // namespace core
