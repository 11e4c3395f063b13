// The credits an upload earns.
#include "transfer/upload_credits.h"

#include <cstdint>
#include <cstdlib>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/match.h"
#include "transfer/download_accounting.h"

namespace transfer {

long long creditcheck_multiplier(const core::UserRecord& owner, const std::string& path, bool path_is_directory) {
  long long multiplier = effective_ratio(owner, config::section_of(path.c_str()));
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("creditcheck", cursor)) {
    if (line->arg(1) == nullptr || line->arg(2) == nullptr) break;
    if (line->arg(3) != nullptr && !config::acl_match_for(owner, 3, line)) continue;
    const bool matches = path_is_directory ? core::dir_match(line->arg(1), path, true)
                                           : core::wildcard_match(line->arg(1), path, true);
    if (matches) return std::atoi(line->arg(2));
  }
  return multiplier;
}

long long upload_multiplier(const core::UserRecord& owner, const std::string& path) {
  return creditcheck_multiplier(owner, path, false);
}

__int128 credit_bytes(long long bytes, long long multiplier) {
  return static_cast<__int128>(bytes) * multiplier;
}

int32_t earned_credits_kib(long long bytes, long long multiplier) {
  const __int128 kib = credit_bytes(bytes, multiplier) / 1024;
  if (kib > INT32_MAX) return INT32_MAX;
  if (kib < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(kib);
}

std::string credit_bytes_text(long long bytes, long long multiplier) {
  const __int128 product = credit_bytes(bytes, multiplier);
  unsigned __int128 magnitude = product < 0 ? -static_cast<unsigned __int128>(product)
                                            : static_cast<unsigned __int128>(product);
  std::string reversed;
  int digits = 0;
  do {
    if (digits > 0 && digits % 3 == 0) reversed += ',';
    reversed += static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
    ++digits;
  } while (magnitude != 0);
  if (product < 0) reversed += '-';
  return std::string(reversed.rbegin(), reversed.rend());
}

}  // namespace transfer
