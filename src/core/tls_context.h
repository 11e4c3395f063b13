// The site's TLS credentials and the one TLS context of the process. The
// certificate chain and the private key are read while the process is still
// root and outside the site (before the change of root); from then on they
// exist only in this process's memory. They are parsed, and the context is
// made, on the first AUTH: a clear session pays two small reads for TLS.
#pragma once

#include <string>

struct ssl_ctx_st;

namespace core {

struct TlsSettings {
  std::string certificate_path;  // PEM: the server certificate, then its chain
  std::string key_path;          // PEM private key; empty: in the certificate file
  std::string ciphers;           // TLS 1.2 cipher list; empty: the built-in one
  bool tls13_only = false;       // protocol floor 1.3 instead of 1.2
  // Names the site in the session cache, so a session is only resumed
  // where it was made.
  std::string site_name;
};

// Reads the certificate chain and the key files. False with `error` when
// one cannot be read; TLS then stays off.
bool load_tls_credentials(const TlsSettings& settings, std::string& error);

// True once credentials are loaded: AUTH can be offered.
bool tls_configured();

// The process's context (server and client roles, one session cache), made
// on first use from the credentials, which must parse and belong together;
// nullptr when TLS is not configured or the context cannot be made
// (`error` says why; later calls fail the same way).
ssl_ctx_st* tls_context(std::string& error);

// The last OpenSSL error as text ("unknown" when the queue is empty); the
// queue is emptied.
std::string tls_error_text();

}  // namespace core
