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

// Changes whenever a member is added, removed or changes its meaning: a
// module of another version is refused.
constexpr int kTlsEngineVersion = 1;

struct TlsEngine {
  int version;
  void (*attach_host)(const TlsHost& host);
  // The credentials as read from their files before the change of root;
  // the engine keeps the key text until the context holds the key.
  void (*set_credentials)(const TlsSettings& settings, std::string& chain_text, std::string& key_text);
  // Makes the context on first use (see tls_context_ready).
  bool (*context_ready)(std::string& error);
  std::string (*error_text)();
  bool (*start)(int fd, int write_fd, TlsRole role, TlsUse use, int timeout_ms, std::string& error);
  bool (*attached)(int fd);
  bool (*resumed)(int fd);
  std::string (*description)(int fd);
  bool (*kernel_send)(int fd);
  bool (*end)(int fd, bool wait_for_peer, int timeout_ms);
  void (*drop)(int fd);
  // The stream calls of tls_stream.h, for a descriptor with a session.
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
