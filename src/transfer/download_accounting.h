// What a download costs and counts: the credit rules of a path (free
// files, creditloss multipliers, leeches) and account_download, which
// books statistics and credits in the userfile once the bytes have moved.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "config/config_store.h"
#include "core/user_record.h"

namespace transfer {

// Set by the checks before a download, used by account_download.
struct DownloadTerms {
  std::string path;        // the resolved path of the file
  bool file_is_free = false;
  int file_ratio = 0;      // ratio of the path's section; 0 leech
  off_t restart_point = 0;
  int xfer_seconds = 0;
  double xfer_elapsed = 0;
};
DownloadTerms& download_terms();

// The `freefile` walk: true when the file name matches the first matching
// line's pattern and its access list admits the session user.
bool is_free_file(const std::string& file_name);

// The `creditloss` line that governs `path` and admits the session user,
// or nullptr.
const config::ConfigEntry* governing_creditloss(const std::string& path);

// The multiplier of a creditloss line: its first argument as a whole
// number; one that is missing, not a number or negative counts as 1 and
// is logged once.
long long creditloss_multiplier(const config::ConfigEntry& line);

// KiB charged for `bytes` at `multiplier`, truncated, without overflow.
long long credit_cost_kib(long long bytes, long long multiplier);

// The ratio that applies in `section`: -1 means section 0's.
int effective_ratio(const core::UserRecord& user, int section);

// Adds one download to a statistics triplet set of a section: a file (when
// `whole_file`), bytes / 1024 KiB and `seconds`; counters stop at their
// maximum rather than wrap.
void add_download_stats(core::SectionRecord& section, bool whole_file, long long bytes, int seconds);
// The same for an upload (allup, wkup, dayup, monthup).
void add_upload_stats(core::SectionRecord& section, bool whole_file, long long bytes, int seconds);

// Adds `amount` (negative: takes it) to a statistics counter, which stays
// between 0 and its maximum.
template <typename T>
void add_clamped(T& counter, long long amount) {
  const long long total = static_cast<long long>(counter) + amount;
  const long long most = static_cast<long long>(std::numeric_limits<T>::max());
  counter = static_cast<T>(total > most ? most : (total < 0 ? 0 : total));
}

// Subtracts `cost` KiB from `credits`, stopping at the lowest value.
void charge_credits(int32_t& credits, long long cost);

// Books a finished download of `bytes` bytes: session counters, statistics
// (unless `nostats` covers the file) and credits, under the userfile lock.
void account_download(long long bytes);

}  // namespace transfer
