// Loading the TLS credentials before the change of root.
#include "startup/tls_setup.h"

#include "config/config_store.h"
#include "core/tls_context.h"

namespace startup {

std::string load_tls_configuration() {
  const char* certificate = config::config_value("tls_certificate");
  if (certificate == nullptr) return {};
  core::TlsSettings settings;
  settings.certificate_path = certificate;
  if (const char* key = config::config_value("tls_key")) settings.key_path = key;
  if (const char* ciphers = config::config_value("tls_ciphers")) settings.ciphers = ciphers;
  if (const char* floor = config::config_value("tls_protocol")) {
    const std::string wanted = floor;
    if (wanted == "1.3")
      settings.tls13_only = true;
    else if (wanted != "1.2")
      return "tls_protocol " + wanted + " is not 1.2 or 1.3: TLS is off";
  }
  if (const char* root = config::config_value("rootpath")) settings.site_name = root;
  std::string error;
  if (!core::load_tls_credentials(settings, error)) return error + ": TLS is off";
  return {};
}

}  // namespace startup
