// Credits and statistics of downloads.
#include "transfer/download_accounting.h"

#include <strings.h>

#include <climits>
#include <limits>
#include <cstdlib>
#include <cstring>

#include "config/access_rules.h"
#include "core/logs.h"
#include "core/match.h"
#include "core/privilege.h"
#include "core/session.h"
#include "userdb/userfile.h"

namespace transfer {
namespace {

constexpr int kMostSeconds = 100000;

// One transfer more in a period; counters stop at their maximum.
void add_transfer(core::TransferStats& stats, bool whole_file, long long bytes, int seconds) {
  if (whole_file) add_clamped(stats.files, 1);
  add_clamped(stats.amount, bytes / 1024);
  add_clamped(stats.time, seconds);
}

}  // namespace

DownloadTerms& download_terms() {
  static DownloadTerms terms;
  return terms;
}

bool is_free_file(const std::string& file_name) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("freefile", cursor)) {
    if (line->arg(2) == nullptr) return false;
    if (core::name_match(file_name, line->arg(1))) return config::acl_match(nullptr, 2, line) != 0;
  }
  return false;
}

const config::ConfigEntry* governing_creditloss(const std::string& path) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("creditloss", cursor)) {
    if (line->arg(4) == nullptr) return nullptr;
    if (core::wildcard_match(line->arg(3), path, true))
      return config::acl_match(nullptr, 4, line) ? line : nullptr;
  }
  return nullptr;
}

long long creditloss_multiplier(const config::ConfigEntry& line) {
  const char* word = line.arg(1);
  char* end = nullptr;
  const long long value = word ? std::strtoll(word, &end, 10) : -1;
  if (word == nullptr || end == word || *end != '\0' || value < 0) {
    static bool logged = false;
    if (!logged) core::error_log("creditloss: bad multiplier '%s', using 1", word ? word : "");
    logged = true;
    return 1;
  }
  return value;
}

long long credit_cost_kib(long long bytes, long long multiplier) {
  const __int128 cost = static_cast<__int128>(bytes) * multiplier / 1024;
  return cost > LLONG_MAX ? LLONG_MAX : static_cast<long long>(cost);
}

int effective_ratio(const core::UserRecord& user, int section) {
  if (section < 0 || section >= core::kMaxSections) section = 0;
  const int ratio = user.sections[section].ratio;
  return ratio == -1 ? user.sections[0].ratio : ratio;
}

void add_download_stats(core::SectionRecord& section, bool whole_file, long long bytes, int seconds) {
  for (core::TransferStats* stats : {&section.alldn, &section.wkdn, &section.daydn, &section.monthdn})
    add_transfer(*stats, whole_file, bytes, seconds);
}

void add_upload_stats(core::SectionRecord& section, bool whole_file, long long bytes, int seconds) {
  for (core::TransferStats* stats : {&section.allup, &section.wkup, &section.dayup, &section.monthup})
    add_transfer(*stats, whole_file, bytes, seconds);
}

void charge_credits(int32_t& credits, long long cost) {
  const __int128 left = static_cast<__int128>(credits) - cost;
  credits = static_cast<int32_t>(left < INT32_MIN ? INT32_MIN : (left > INT32_MAX ? INT32_MAX : left));
}

void account_download(long long bytes) {
  core::Session& s = core::session();
  DownloadTerms& terms = download_terms();
  if (terms.xfer_seconds < 1) terms.xfer_seconds = 1;
  if (terms.xfer_seconds > kMostSeconds) terms.xfer_seconds = kMostSeconds;
  if (terms.restart_point == 0) ++s.session_files_down;
  s.session_bytes_down += static_cast<uint64_t>(bytes);

  // One switch to root for the whole booking (the lock, the reading and
  // the writing of the userfile each need it): every switch is four
  // system calls. The termination signals it holds back only set flags.
  core::PrivilegeBracket root;
  const bool locked = userdb::lock_and_load_user(s.user.name) == 0;
  if (locked && !config::path_allowed("nostats", terms.path.c_str(), config::kPathIsFile)) {
    const int section = config::section_of(terms.path.c_str());
    add_download_stats(s.user.sections[section], terms.restart_point == 0, bytes, terms.xfer_seconds);
  }

  long long cost = bytes / 1024;
  if (const config::ConfigEntry* line = governing_creditloss(terms.path))
    cost = credit_cost_kib(bytes, creditloss_multiplier(*line));
  if (!terms.file_is_free && terms.file_ratio != 0)
    charge_credits(s.user.sections[config::credit_section_of(terms.path.c_str())].credits, cost);

  // Without the lock another process may be rewriting the userfile: the
  // charge stays in the session's record, which logout saves under the
  // lock, instead of overwriting the file (and removing the other
  // process's lock) now.
  if (locked) userdb::write_user(s.user);
}

}  // namespace transfer
