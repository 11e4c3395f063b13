// Generating a site's self-signed certificate with OpenSSL.
#include "self_signed.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <string>

#include "site_files.h"

namespace site_tool {
namespace {

constexpr long kValidSeconds = 10L * 365 * 24 * 3600;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};

// The PEM text `write` puts into a memory BIO.
template <typename Write>
std::string pem_text(Write write) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || write(bio.get()) != 1) return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::unique_ptr<X509, CertificateFree> sign_certificate(EVP_PKEY* key, const char* common_name) {
  std::unique_ptr<X509, CertificateFree> certificate(X509_new());
  if (!certificate) return nullptr;
  unsigned char serial[16];
  std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_new(), BN_free);
  if (!number || RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7f;  // a positive serial number
  BN_bin2bn(serial, sizeof serial, number.get());
  X509_name_st* name = X509_get_subject_name(certificate.get());
  const bool ok =
      X509_set_version(certificate.get(), 2) == 1 &&
      BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate.get())) != nullptr &&
      X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0) != nullptr &&
      X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValidSeconds) != nullptr &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0) == 1 &&
      X509_set_issuer_name(certificate.get(), name) == 1 && X509_set_pubkey(certificate.get(), key) == 1 &&
      X509_sign(certificate.get(), key, EVP_sha256()) > 0;
  return ok ? std::move(certificate) : nullptr;
}

}  // namespace

bool write_self_signed_certificate(const std::filesystem::path& certificate_path,
                                   const std::filesystem::path& key_path, const char* common_name) {
  std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
  std::unique_ptr<X509, CertificateFree> certificate =
      key ? sign_certificate(key.get(), common_name) : nullptr;
  if (!certificate) {
    std::fprintf(stderr, "marlod-site create: cannot make a self-signed certificate\n");
    return false;
  }
  const std::string key_text = pem_text([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  const std::string certificate_text =
      pem_text([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate.get()); });
  if (key_text.empty() || certificate_text.empty()) {
    std::fprintf(stderr, "marlod-site create: cannot write the certificate as PEM\n");
    return false;
  }
  if (!write_new_file(key_path, key_text, 0600)) return false;
  if (write_new_file(certificate_path, certificate_text, 0644)) return true;
  std::error_code ignored;
  std::filesystem::remove(key_path, ignored);
  return false;
}

}  // namespace site_tool
