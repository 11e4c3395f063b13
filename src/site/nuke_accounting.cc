// Charging and refunding the uploaders of a nuked release.
#include "site/nuke_accounting.h"

#include <algorithm>
#include <limits>

#include "config/access_rules.h"
#include "core/session.h"
#include "core/time_helpers.h"
#include "transfer/download_accounting.h"
#include "transfer/upload_credits.h"
#include "userdb/userfile.h"

namespace site {
namespace {

constexpr double kMiB = 1048576.0;

bool in_period(time_t stamp, time_t start) { return stamp >= start; }

// The average seconds one file of a period took, 0 without files.
long long average_seconds(const core::TransferStats& stats) {
  return stats.files > 0 ? static_cast<long long>(stats.time) / stats.files : 0;
}

void take_one(core::TransferStats& stats, uint64_t bytes) {
  const long long seconds = average_seconds(stats);
  transfer::add_clamped(stats.files, -1);
  transfer::add_clamped(stats.amount, -static_cast<long long>(bytes / 1024));
  transfer::add_clamped(stats.time, -seconds);
}

void give_one(core::TransferStats& stats, uint64_t bytes) {
  transfer::add_clamped(stats.time, average_seconds(stats));
  transfer::add_clamped(stats.files, 1);
  transfer::add_clamped(stats.amount, static_cast<long long>(bytes / 1024));
}

// The periods a file modified at `stamp` was counted in, besides allup.
template <typename Apply>
void for_each_period(core::SectionRecord& section, time_t stamp, const PeriodStarts& starts, Apply apply) {
  if (in_period(stamp, starts.week)) apply(section.wkup);
  if (in_period(stamp, starts.today)) apply(section.dayup);
  if (in_period(stamp, starts.month)) apply(section.monthup);
}

bool anonymous(const core::UserRecord& user) { return core::has_flag(user.flags, core::flag::kAnonymous); }

time_t with_offset(time_t modified) { return modified + core::session().tz_offset; }

}  // namespace

void NukeeTable::count_file(uint64_t bytes) {
  ++files_;
  bytes_ += bytes;
}

void NukeeTable::add_file(std::string_view owner, bool known, uint64_t bytes, time_t modified) {
  count_file(bytes);
  if (bytes == 0) return;
  Nukee& entry = nukee(owner, known);
  entry.bytes += bytes;
  entry.files.push_back(NukedFile{bytes, modified});
}

Nukee& NukeeTable::nukee(std::string_view owner, bool known) {
  const auto found = std::find_if(nukees_.begin(), nukees_.end(),
                                  [&](const Nukee& n) { return n.known == known && n.name == owner; });
  if (found != nukees_.end()) return *found;
  Nukee& added = nukees_.emplace_back();
  added.name = std::string(owner);
  added.known = known;
  return added;
}

double mib_of(uint64_t bytes) { return static_cast<double>(bytes) / kMiB; }

long long credit_factor(long long multiplier, long long uploader_multiplier, long long ratio) {
  if (multiplier == 0 || uploader_multiplier == 0 || ratio == 0) return 0;
  return multiplier - 1 + uploader_multiplier;
}

long long clamped_product(long long a, long long b) {
  const __int128 product = static_cast<__int128>(a) * b;
  const __int128 most = std::numeric_limits<long long>::max();
  return static_cast<long long>(product > most ? most : (product < -most ? -most : product));
}

long long file_credit_kib(uint64_t bytes, long long factor) {
  return clamped_product(static_cast<long long>(bytes / 1024), factor);
}

PeriodStarts current_period_starts() {
  return PeriodStarts{core::start_of_today(), core::start_of_week(), core::start_of_month()};
}

void take_upload(core::SectionRecord& section, uint64_t bytes, time_t stamp, const PeriodStarts& starts) {
  take_one(section.allup, bytes);
  for_each_period(section, stamp, starts, [&](core::TransferStats& stats) {
    if (stats.amount != 0) take_one(stats, bytes);
  });
}

void give_back_upload(core::SectionRecord& section, uint64_t bytes, time_t stamp, const PeriodStarts& starts) {
  give_one(section.allup, bytes);
  for_each_period(section, stamp, starts, [&](core::TransferStats& stats) { give_one(stats, bytes); });
}

void count_nuke(core::SectionRecord& section, time_t when, uint64_t bytes) {
  section.last_nuked = static_cast<uint32_t>(when);
  transfer::add_clamped(section.times_nuked, 1);
  transfer::add_clamped(section.nuked_mb, static_cast<long long>(bytes / 1048576));
}

void uncount_nuke(core::SectionRecord& section, uint64_t bytes) {
  transfer::add_clamped(section.times_nuked, -1);
  transfer::add_clamped(section.nuked_mb, -static_cast<long long>(bytes / 1048576));
}

ReleaseBooks release_books(const std::string& path, long long multiplier) {
  ReleaseBooks books;
  books.path = path;
  books.multiplier = multiplier;
  books.counts_stats = !config::path_allowed("nostats", path.c_str(), config::kPathIsDirectory);
  books.stats_section = books.counts_stats ? config::section_of(path.c_str()) : 0;
  books.credit_section = config::credit_section_of(path.c_str());
  return books;
}

namespace {

// Applies `change` to the nukee's userfile under its lock and writes it.
template <typename Change>
bool edit_userfile(const Nukee& nukee, Change change) {
  if (!nukee.known) return false;
  if (userdb::lock_and_load_user(nukee.name.c_str()) != 0) return false;
  core::UserRecord& user = userdb::work_user();
  change(user);
  return userdb::write_user(user) == 0;
}

// Credits and statistics of every file of `nukee`, one file at a time;
// `sign` -1 for a nuke, +1 for an unnuke.
void settle_files(core::UserRecord& user, Nukee& nukee, const ReleaseBooks& release, int sign) {
  if (anonymous(user)) return;
  nukee.uploader_multiplier = transfer::creditcheck_multiplier(user, release.path, true);
  const long long ratio = transfer::effective_ratio(user, config::section_of(release.path.c_str()));
  const long long factor = credit_factor(release.multiplier, nukee.uploader_multiplier, ratio);
  const PeriodStarts starts = current_period_starts();
  core::SectionRecord& stats = user.sections[release.stats_section];
  for (const NukedFile& file : nukee.files) {
    if (factor != 0)
      transfer::charge_credits(user.sections[release.credit_section].credits,
                               -sign * file_credit_kib(file.bytes, factor));
    if (!release.counts_stats) continue;
    if (sign < 0)
      take_upload(stats, file.bytes, with_offset(file.modified), starts);
    else
      give_back_upload(stats, file.bytes, with_offset(file.modified), starts);
  }
}

}  // namespace

bool book_nuke(Nukee& nukee, const ReleaseBooks& release) {
  return edit_userfile(nukee, [&](core::UserRecord& user) {
    settle_files(user, nukee, release, -1);
    count_nuke(user.sections[release.stats_section], ::time(nullptr), nukee.bytes);
  });
}

bool book_empty_nuke(const Nukee& nukee, const ReleaseBooks& release, long long kib) {
  return edit_userfile(nukee, [&](core::UserRecord& user) {
    transfer::charge_credits(user.sections[release.credit_section].credits, clamped_product(kib, release.multiplier));
    count_nuke(user.sections[release.stats_section], ::time(nullptr), static_cast<uint64_t>(clamped_product(kib, 1024)));
  });
}

bool book_unnuke(Nukee& nukee, const ReleaseBooks& release) {
  return edit_userfile(nukee, [&](core::UserRecord& user) {
    settle_files(user, nukee, release, +1);
    uncount_nuke(user.sections[release.stats_section], nukee.bytes);
  });
}

}  // namespace site
