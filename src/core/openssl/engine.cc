// The module's entry point: the table of the engine's functions, which turns
// the table's C types into the engine's own and back.
#include "core/openssl/engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace core::openssl {
namespace {

void nothing() {}

TlsHost attached_host{nothing, nothing};

void attach_host(const TlsHost* given) { attached_host = *given; }

void copy_text(const std::string& text, char* into, std::size_t size) {
  if (size == 0) return;
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(into, text.data(), length);
  into[length] = '\0';
}

void take_credentials(const TlsCredentials* given) {
  TlsSettings settings;
  settings.certificate_path = given->certificate_path;
  settings.key_path = given->key_path;
  settings.ciphers = given->ciphers;
  settings.tls13_only = given->tls13_only;
  settings.site_name = given->site_name;
  std::string chain_text(given->chain_text, given->chain_length);
  std::string key_text(given->key_text, given->key_length);
  set_credentials(settings, chain_text, key_text);
}

bool ready(char* error, std::size_t error_size) {
  std::string reason;
  if (context_ready(reason)) return true;
  copy_text(reason, error, error_size);
  return false;
}

bool start_session(int fd, int write_fd, TlsRole role, TlsUse use, int timeout_ms, char* error,
                   std::size_t error_size) {
  std::string reason;
  if (start(fd, write_fd, role, use, timeout_ms, reason)) return true;
  copy_text(reason, error, error_size);
  return false;
}

void describe(int fd, char* text, std::size_t text_size) { copy_text(description(fd), text, text_size); }

// The module's errno is not the daemon's: a failure travels as its number.
ssize_t with_error_number(ssize_t result) { return result >= 0 ? result : -(errno != 0 ? errno : EIO); }

ssize_t read_stream(int fd, void* buffer, std::size_t size) { return with_error_number(read(fd, buffer, size)); }

ssize_t write_stream(int fd, const void* data, std::size_t size) {
  return with_error_number(write(fd, data, size));
}

ssize_t send_file(int out_fd, int in_fd, off_t* offset, std::size_t count) {
  return with_error_number(sendfile(out_fd, in_fd, offset, count));
}

constexpr TlsEngine kEngine{
    kTlsEngineVersion, attach_host, take_credentials, ready,      start_session, attached,   resumed,
    describe,          kernel_send, end,              drop,       read_stream,   write_stream, send_file,
    pending,
};

}  // namespace

const TlsHost& host() { return attached_host; }

}  // namespace core::openssl

extern "C" const core::TlsEngine* marlod_tls_engine() { return &core::openssl::kEngine; }
