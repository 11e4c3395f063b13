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
  engine->attach_host(TlsHost{end_session_if_requested, check_idle_alarm});
  engine->set_credentials(settings, chain_text, key_text);
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
  return tls_engine()->context_ready(error);
}

}  // namespace core
