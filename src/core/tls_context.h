// The site's TLS credentials and the one TLS context of the process. The
// certificate chain and the private key are read while the process is still
// root and outside the site (before the change of root); from then on they
// exist only in this process's memory. They are parsed, and the context is
// made, on the first AUTH: a clear session of a TLS site pays two small
// reads and the loading of the TLS engine (core/tls_engine.h); a site
// without TLS pays nothing.
#pragma once

#include <string>

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

// Reads the certificate chain and the key files and loads the TLS engine.
// False with `error` when a file cannot be read or the engine cannot be
// loaded; TLS then stays off.
bool load_tls_credentials(const TlsSettings& settings, std::string& error);

// True once credentials are loaded: AUTH can be offered.
bool tls_configured();

// True when the process's context (server and client roles, one session
// cache) is made or can be made now from the credentials, which must parse
// and belong together; false when TLS is not configured or the context
// cannot be made (`error` says why; later calls fail the same way).
bool tls_context_ready(std::string& error);

}  // namespace core
