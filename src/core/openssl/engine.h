// The parts of the TLS engine module (see core/tls_engine.h): the context
// made from the site's credentials, and the sessions attached to sockets.
#pragma once

#include <openssl/ssl.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "core/tls_engine.h"

namespace core::openssl {

// credentials.cc
void set_credentials(const TlsSettings& settings, std::string& chain_text, std::string& key_text);
bool context_ready(std::string& error);
SSL_CTX* context(std::string& error);
std::string error_text();

// sessions.cc
bool start(int fd, int write_fd, TlsRole role, TlsUse use, int timeout_ms, std::string& error);
bool attached(int fd);
bool resumed(int fd);
std::string description(int fd);
bool kernel_send(int fd);
bool end(int fd, bool wait_for_peer, int timeout_ms);
void drop(int fd);
ssize_t read(int fd, void* buffer, std::size_t size);
ssize_t write(int fd, const void* data, std::size_t size);
ssize_t sendfile(int out_fd, int in_fd, off_t* offset, std::size_t count);
bool pending(int fd);

// engine.cc: the daemon's callbacks.
const TlsHost& host();

}  // namespace core::openssl
