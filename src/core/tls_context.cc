// The site's TLS credentials, read before the change of root and handed to
// the TLS engine.
#include "core/tls_context.h"

#include <cerrno>
#include <cstring>

#include "core/file_io.h"
#include "core/idle_alarm.h"
#include "core/signals.h"
#include "core/tls_engine.h"

namespace core {
namespace {

bool credentials_loaded = false;

bool read_pem_file(const std::string& path, std::string& text, std::string& error) {
  if (read_file(path.c_str(), text) && !text.empty()) return true;
  error = "cannot read " + path + ": " + (text.empty() && errno == 0 ? "empty file" : std::strerror(errno));
  return false;
}

void wipe(std::string& secret) {
  ::explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

}  // namespace

bool load_tls_credentials(const TlsSettings& settings, std::string& error) {
  const std::string& key_path = settings.key_path.empty() ? settings.certificate_path : settings.key_path;
  std::string chain_text;
  std::string key_text;
  errno = 0;
  if (!read_pem_file(settings.certificate_path, chain_text, error) || !read_pem_file(key_path, key_text, error) ||
      !load_tls_module(error)) {
    wipe(key_text);
    return false;
  }
  const TlsEngine* engine = tls_engine();
  const TlsHost host{end_session_if_requested, check_idle_alarm};
  engine->attach_host(&host);
  const TlsCredentials credentials{settings.certificate_path.c_str(),
                                   settings.key_path.c_str(),
                                   settings.ciphers.c_str(),
                                   settings.tls13_only,
                                   settings.site_name.c_str(),
                                   chain_text.data(),
                                   chain_text.size(),
                                   key_text.data(),
                                   key_text.size()};
  engine->set_credentials(&credentials);
  wipe(key_text);
  credentials_loaded = true;
  return true;
}

bool tls_configured() { return credentials_loaded; }

bool tls_context_ready(std::string& error) {
  if (!credentials_loaded) {
    error = "TLS is not configured";
    return false;
  }
  char reason[kTlsErrorSize];
  if (tls_engine()->context_ready(reason, sizeof reason)) return true;
  error = reason;
  return false;
}

}  // namespace core
