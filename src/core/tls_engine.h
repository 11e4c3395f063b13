// The TLS engine: OpenSSL behind a table of functions, built as a module of
// its own (marlod-tls.so) that a process loads only when its site serves
// TLS. Linking OpenSSL into the daemon would make every connection's start
// relocate a few hundred KiB of OpenSSL's tables, clear sessions included;
// on a machine where each page written at start costs a trap that was a
// fifth of a whole short session.
//
// The engine owns the TLS sessions of the process and the one context;
// core's stream calls (tls_stream.h) pass a descriptor to it only when a
// session is attached there.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "core/tls_context.h"
#include "core/tls_stream.h"

namespace core {

// What the engine needs of the daemon: the checks a blocking handshake on
// the control connection makes when a signal interrupts it.
struct TlsHost {
  void (*end_session_if_requested)();
  void (*check_idle_alarm)();
};

// The site's credentials as read from their files before the change of
// root; the engine copies what it keeps.
struct TlsCredentials {
  const char* certificate_path;
  const char* key_path;  // "" when the key is in the certificate file
  const char* ciphers;   // "" for the built-in list
  bool tls13_only;
  const char* site_name;
  const char* chain_text;
  std::size_t chain_length;
  const char* key_text;
  std::size_t key_length;
};

// Changes whenever a member is added, removed or changes its meaning: a
// module of another version is refused.
constexpr int kTlsEngineVersion = 2;

// Room for an error text or a description from the engine.
constexpr std::size_t kTlsErrorSize = 512;

// The table speaks C across the border: texts as C strings and buffers,
// failures as explicit error numbers. A statically linked daemon loads the
// module onto a C library of the module's own, so the two share neither a
// heap nor errno.
struct TlsEngine {
  int version;
  void (*attach_host)(const TlsHost* host);
  void (*set_credentials)(const TlsCredentials* credentials);
  // Makes the context on first use (see tls_context_ready); false with the
  // reason in `error`.
  bool (*context_ready)(char* error, std::size_t error_size);
  bool (*start)(int fd, int write_fd, TlsRole role, TlsUse use, int timeout_ms, char* error,
                std::size_t error_size);
  bool (*attached)(int fd);
  bool (*resumed)(int fd);
  void (*description)(int fd, char* text, std::size_t text_size);
  bool (*kernel_send)(int fd);
  bool (*end)(int fd, bool wait_for_peer, int timeout_ms);
  void (*drop)(int fd);
  // The stream calls of tls_stream.h, for a descriptor with a session:
  // bytes moved, or minus the error number.
  ssize_t (*read)(int fd, void* buffer, std::size_t size);
  ssize_t (*write)(int fd, const void* data, std::size_t size);
  ssize_t (*sendfile)(int out_fd, int in_fd, off_t* offset, std::size_t count);
  bool (*pending)(int fd);
};

// The engine in use; nullptr until one is installed.
const TlsEngine* tls_engine();
// Installs an engine linked into the program (the tests).
void install_tls_engine(const TlsEngine* engine);
// Loads marlod-tls.so from beside the program or from ../lib/marlod and
// installs its engine; true at once when one is installed. The module must
// belong to root and be writable by nobody else. False with `error`.
bool load_tls_module(std::string& error);
// Loads the module at `path` (with the same checks) and installs its engine.
bool load_tls_module_file(const std::string& path, std::string& error);

}  // namespace core

// The module's one entry point.
extern "C" const core::TlsEngine* marlod_tls_engine();
