// Password hashing through crypt(3): stored "$1$" hashes verify as
// MD5-crypt, everything else as traditional DES; new passwords get a fresh
// two-character DES salt.
#include <crypt.h>
#include <unistd.h>

#include <ctime>
#include <memory>

#include "userdb/passwd_file.h"

namespace userdb {
namespace {

constexpr char kSaltAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string fresh_salt() {
  static long counter = 0;
  long seed = static_cast<long>(time(nullptr)) + counter++;
  seed ^= static_cast<long>(clock());  // processor time in microseconds
  seed ^= static_cast<long>(getpid());
  long mix = seed ^ (seed >> 12);
  std::string salt;
  salt += kSaltAlphabet[(mix & 0xFFF) >> 6];
  salt += kSaltAlphabet[mix & 0x3F];
  return salt;
}

}  // namespace

std::string crypt_password(const char* clear, const char* salt) {
  if (!clear) return {};
  const std::string chosen = salt ? std::string(salt) : fresh_salt();
  // Only `initialized` must be zero before the first call: clearing all
  // 32 KiB would write eight pages for a hash that uses a few hundred bytes.
  auto data = std::make_unique_for_overwrite<crypt_data>();
  data->initialized = 0;
  const char* hash = crypt_r(clear, chosen.c_str(), data.get());
  // libcrypt reports failure as NULL or a text beginning with "*".
  if (!hash || hash[0] == '*') return {};
  return hash;
}

bool password_matches(const char* clear, const char* stored_hash) {
  if (!clear || !stored_hash || !stored_hash[0]) return false;
  std::string hash = crypt_password(clear, stored_hash);
  return !hash.empty() && hash == stored_hash;
}

}  // namespace userdb
