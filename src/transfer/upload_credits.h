// What an accepted upload earns: the multiplier of a path (the section's
// ratio, or a `creditcheck` line) and the credits for its bytes. DELE takes
// back exactly what these give.
#pragma once

#include <cstdint>
#include <string>

#include "core/user_record.h"

namespace transfer {

// The multiplier `owner` earns credits at for a file at `path`: the ratio
// of the path's statistics section (-1 means section 0's), replaced by the
// first `creditcheck` line whose pattern matches the path and whose access
// list, if it has one, admits `owner`. A line without a multiplier ends
// the walk.
long long upload_multiplier(const core::UserRecord& owner, const std::string& path);

// The same for the uploader of files in the directory `path` (a nuked
// release): the patterns are matched as directory patterns.
long long creditcheck_multiplier(const core::UserRecord& owner, const std::string& path, bool path_is_directory);

// bytes x multiplier, computed in 128 bits.
__int128 credit_bytes(long long bytes, long long multiplier);

// KiB of credits for `bytes` at `multiplier`: the product / 1024, truncated,
// held to the range of the userfile's credits.
int32_t earned_credits_kib(long long bytes, long long multiplier);

// The product in bytes with ',' every three digits ("31,457,280").
std::string credit_bytes_text(long long bytes, long long multiplier);

}  // namespace transfer
