// The site's credentials, handed over as PEM texts read before the change
// of root, and the one context of the process made from them.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/openssl/engine.h"

namespace core::openssl {
namespace {

// Forward secrecy and authenticated encryption only; AES-128-GCM first,
// the quickest of them where the processor has AES instructions (bulk
// transfers are what this server does).
constexpr const char* kDefaultCiphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
constexpr const char* kTls13Suites = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

// The PEM texts as read before the change of root; parsed on first use.
struct Credentials {
  std::string chain_text;
  std::string key_text;
  TlsSettings settings;
  SSL_CTX* context = nullptr;
  std::string context_error;  // why the context could not be made
};

Credentials& credentials() {
  static Credentials loaded;
  return loaded;
}

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using UniqueBio = std::unique_ptr<BIO, BioFree>;
struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using UniqueKey = std::unique_ptr<EVP_PKEY, KeyFree>;
struct ChainFree {
  void operator()(std::vector<X509*>* chain) const {
    for (X509* certificate : *chain) X509_free(certificate);
    delete chain;
  }
};
using UniqueChain = std::unique_ptr<std::vector<X509*>, ChainFree>;

UniqueBio memory_bio(const std::string& text) {
  return UniqueBio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

UniqueChain parse_chain(const Credentials& loaded, std::string& error) {
  UniqueChain chain(new std::vector<X509*>);
  UniqueBio bio = memory_bio(loaded.chain_text);
  while (X509* certificate = bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr)
    chain->push_back(certificate);
  ERR_clear_error();  // the end of the text reads as an error
  if (chain->empty()) {
    error = loaded.settings.certificate_path + " holds no PEM certificate";
    return nullptr;
  }
  return chain;
}

UniqueKey parse_key(const Credentials& loaded, std::string& error) {
  UniqueBio bio = memory_bio(loaded.key_text);
  UniqueKey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  const std::string& path =
      loaded.settings.key_path.empty() ? loaded.settings.certificate_path : loaded.settings.key_path;
  if (!key) error = path + " holds no readable PEM private key (" + error_text() + ")";
  return key;
}

// Nothing weaker than the floor, no compression, no renegotiation, the
// server's cipher order, and a session cache that lives as long as the
// control connection (data connections resume its session at any time).
bool configure_context(SSL_CTX* context, const Credentials& loaded, std::string& error) {
  const TlsSettings& settings = loaded.settings;
  UniqueChain chain = parse_chain(loaded, error);
  UniqueKey key = chain ? parse_key(loaded, error) : nullptr;
  if (!key) return false;
  if (X509_check_private_key(chain->front(), key.get()) != 1) {
    error = "the private key does not belong to the certificate in " + settings.certificate_path;
    return false;
  }
  SSL_CTX_set_min_proto_version(context, settings.tls13_only ? TLS1_3_VERSION : TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                   SSL_OP_CIPHER_SERVER_PREFERENCE);
  SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_AUTO_RETRY);
  const std::string& ciphers = settings.ciphers.empty() ? std::string(kDefaultCiphers) : settings.ciphers;
  if (SSL_CTX_set_cipher_list(context, ciphers.c_str()) != 1 ||
      SSL_CTX_set_ciphersuites(context, kTls13Suites) != 1) {
    error = "tls_ciphers '" + ciphers + "' names no usable cipher";
    return false;
  }
  if (SSL_CTX_use_certificate(context, chain->front()) != 1 || SSL_CTX_use_PrivateKey(context, key.get()) != 1) {
    error = "the certificate or key was refused: " + error_text();
    return false;
  }
  for (std::size_t i = 1; i < chain->size(); ++i) {
    X509_up_ref((*chain)[i]);
    if (SSL_CTX_add_extra_chain_cert(context, (*chain)[i]) != 1) {
      X509_free((*chain)[i]);
      error = "the certificate chain was refused: " + error_text();
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

std::string error_text() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

void set_credentials(const TlsSettings& settings, std::string& chain_text, std::string& key_text) {
  Credentials& loaded = credentials();
  loaded.chain_text.swap(chain_text);
  loaded.key_text.swap(key_text);
  loaded.settings = settings;
}

SSL_CTX* context(std::string& error) {
  Credentials& loaded = credentials();
  if (loaded.context != nullptr) return loaded.context;
  if (!loaded.context_error.empty()) {
    error = loaded.context_error;
    return nullptr;
  }
  // The system's OpenSSL configuration is outside the root by now and not
  // wanted: the floor and the ciphers are the site's.
  OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS | OPENSSL_INIT_NO_ADD_ALL_DIGESTS, nullptr);
  SSL_CTX* made = SSL_CTX_new(TLS_method());
  if (made == nullptr || !configure_context(made, loaded, error)) {
    if (made == nullptr) error = error_text();
    SSL_CTX_free(made);
    loaded.context_error = error;
    return nullptr;
  }
  // The context holds the key now; the text it came from goes.
  OPENSSL_cleanse(loaded.key_text.data(), loaded.key_text.size());
  loaded.key_text.clear();
  loaded.context = made;
  return made;
}

bool context_ready(std::string& error) { return context(error) != nullptr; }

}  // namespace core::openssl
