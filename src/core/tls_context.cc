// TLS credentials read before the change of root, and the context built
// from them.
#include "core/tls_context.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "core/file_io.h"

namespace core {
namespace {

struct Credentials {
  EVP_PKEY* key = nullptr;
  std::vector<X509*> chain;  // the leaf first
  TlsSettings settings;
  SSL_CTX* context = nullptr;
};

Credentials& credentials() {
  static Credentials loaded;
  return loaded;
}

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using UniqueBio = std::unique_ptr<BIO, BioFree>;

// A whole PEM file in a memory BIO: the file is read once, as root, and
// nothing of it is kept but what it parses into.
UniqueBio read_pem_file(const std::string& path, std::string& error) {
  std::string text;
  if (!read_file(path.c_str(), text)) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  UniqueBio bio(BIO_new(BIO_s_mem()));
  if (bio && BIO_write(bio.get(), text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size()))
    bio.reset();
  OPENSSL_cleanse(text.data(), text.size());
  if (!bio) error = "out of memory reading " + path;
  return bio;
}

bool read_chain(const std::string& path, std::vector<X509*>& chain, std::string& error) {
  UniqueBio bio = read_pem_file(path, error);
  if (!bio) return false;
  while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
    chain.push_back(certificate);
  ERR_clear_error();  // the end of the file reads as an error
  if (chain.empty()) error = path + " holds no PEM certificate";
  return !chain.empty();
}

EVP_PKEY* read_key(const std::string& path, std::string& error) {
  UniqueBio bio = read_pem_file(path, error);
  if (!bio) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
  if (key == nullptr) error = path + " holds no readable PEM private key (" + tls_error_text() + ")";
  return key;
}

// Nothing weaker than the floor, no compression, no renegotiation, the
// server's cipher order, and a session cache that lives as long as the
// control connection (data connections resume its session at any time).
bool configure_context(SSL_CTX* context, const Credentials& loaded, std::string& error) {
  const TlsSettings& settings = loaded.settings;
  SSL_CTX_set_min_proto_version(context, settings.tls13_only ? TLS1_3_VERSION : TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                   SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_ENABLE_KTLS);
  SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_AUTO_RETRY);
  if (!settings.ciphers.empty() && SSL_CTX_set_cipher_list(context, settings.ciphers.c_str()) != 1) {
    error = "tls_ciphers '" + settings.ciphers + "' names no usable cipher";
    return false;
  }
  if (SSL_CTX_use_certificate(context, loaded.chain.front()) != 1 ||
      SSL_CTX_use_PrivateKey(context, loaded.key) != 1) {
    error = "the certificate or key was refused: " + tls_error_text();
    return false;
  }
  for (std::size_t i = 1; i < loaded.chain.size(); ++i) {
    X509_up_ref(loaded.chain[i]);
    if (SSL_CTX_add_extra_chain_cert(context, loaded.chain[i]) != 1) {
      X509_free(loaded.chain[i]);
      error = "the certificate chain was refused: " + tls_error_text();
      return false;
    }
  }
  // The cache and the ticket keys belong to this process alone, which
  // serves one control connection of this site.
  const std::string& name = settings.site_name.empty() ? std::string("marlod") : settings.site_name;
  SSL_CTX_set_session_id_context(context, reinterpret_cast<const unsigned char*>(name.data()),
                                 static_cast<unsigned>(std::min<std::size_t>(name.size(), SSL_MAX_SID_CTX_LENGTH)));
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
  SSL_CTX_set_timeout(context, 7 * 24 * 3600);
  // Peers (a client or, in client mode, another site) are not asked for or
  // checked by certificates: the login is the authentication.
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  return true;
}

}  // namespace

std::string tls_error_text() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool load_tls_credentials(const TlsSettings& settings, std::string& error) {
  Credentials& loaded = credentials();
  // OpenSSL reads its own configuration now, while the system's files are
  // still in reach.
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_CONFIG, nullptr);
  std::vector<X509*> chain;
  if (!read_chain(settings.certificate_path, chain, error)) return false;
  EVP_PKEY* key = read_key(settings.key_path.empty() ? settings.certificate_path : settings.key_path, error);
  bool matches = key != nullptr && X509_check_private_key(chain.front(), key) == 1;
  if (key != nullptr && !matches) error = "the private key does not belong to the certificate in " + settings.certificate_path;
  if (!matches) {
    EVP_PKEY_free(key);
    for (X509* certificate : chain) X509_free(certificate);
    ERR_clear_error();
    return false;
  }
  loaded.key = key;
  loaded.chain = std::move(chain);
  loaded.settings = settings;
  return true;
}

bool tls_configured() { return credentials().key != nullptr; }

SSL_CTX* tls_context(std::string& error) {
  Credentials& loaded = credentials();
  if (loaded.context != nullptr) return loaded.context;
  if (loaded.key == nullptr) {
    error = "TLS is not configured";
    return nullptr;
  }
  SSL_CTX* context = SSL_CTX_new(TLS_method());
  if (context == nullptr) {
    error = tls_error_text();
    return nullptr;
  }
  if (!configure_context(context, loaded, error)) {
    SSL_CTX_free(context);
    return nullptr;
  }
  loaded.context = context;
  return context;
}

}  // namespace core
