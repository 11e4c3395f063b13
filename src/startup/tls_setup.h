// The site's TLS configuration, loaded at start-up while the process is
// still root and outside the site.
#pragma once

#include <string>

namespace startup {

// Reads `tls_certificate`, `tls_key`, `tls_ciphers` and `tls_protocol` and
// loads the credentials. Returns what went wrong (empty when TLS is ready
// or not configured); the site's error log is not reachable yet, so the
// caller reports it once it is. The session then runs without TLS.
std::string load_tls_configuration();

}  // namespace startup
