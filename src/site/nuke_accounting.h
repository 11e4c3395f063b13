// What a nuke takes from its uploaders and an unnuke gives back: the table
// of nukees with their files, the arithmetic on a userfile's credits and
// statistics, and booking it all under each userfile's lock.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/user_record.h"

namespace site {

// Files of owners the passwd file does not know are collected under this
// name; no userfile is read or written for them.
inline constexpr std::string_view kUnknownNukee = "UNKNOWN";

struct NukedFile {
  uint64_t bytes = 0;
  time_t modified = 0;  // seconds since the epoch, without the offset
};

struct Nukee {
  std::string name;
  bool known = true;  // false: collected under kUnknownNukee
  uint64_t bytes = 0;
  std::vector<NukedFile> files;  // files of non-zero size, charged one by one
  // The uploader's own multiplier where the release lies (0 until the
  // userfile was read).
  long long uploader_multiplier = 0;
};

// The uploaders of one release in the order their first file was met,
// with the totals of every file.
class NukeeTable {
 public:
  // A regular file of `bytes`: counted in the totals; a file of size 0
  // changes nothing else.
  void add_file(std::string_view owner, bool known, uint64_t bytes, time_t modified);
  // A file counted in the totals only.
  void count_file(uint64_t bytes);
  // An uploader with no files (the owner of an empty nuke's directory).
  Nukee& nukee(std::string_view owner, bool known);

  std::vector<Nukee>& nukees() { return nukees_; }
  const std::vector<Nukee>& nukees() const { return nukees_; }
  long long files() const { return files_; }
  uint64_t bytes() const { return bytes_; }

 private:
  std::vector<Nukee> nukees_;
  long long files_ = 0;
  uint64_t bytes_ = 0;
};

// ---- Arithmetic (no files) ----

// bytes / 1,048,576.
double mib_of(uint64_t bytes);

// The credit factor of a nuke: multiplier - 1 + the uploader's multiplier,
// or 0 (nothing charged) when either multiplier or the ratio is 0.
long long credit_factor(long long multiplier, long long uploader_multiplier, long long ratio);

// a x b, held to the 64-bit range.
long long clamped_product(long long a, long long b);

// KiB of credits one file is worth at `factor`: (bytes / 1024) x factor.
long long file_credit_kib(uint64_t bytes, long long factor);

// The starts of the current statistics periods (with the timezone offset).
struct PeriodStarts {
  time_t today = 0;
  time_t week = 0;
  time_t month = 0;
};
PeriodStarts current_period_starts();

// One nuked file taken from a section's upload statistics: allup loses a
// file, its KiB and the average seconds of a file; the day, week and month
// the same when the file was modified (`stamp`, with the offset) in that
// period and the period has KiB. Every counter stops at 0.
void take_upload(core::SectionRecord& section, uint64_t bytes, time_t stamp, const PeriodStarts& starts);

// One unnuked file given back: a file, its KiB and the average seconds of
// a file (when there are files) to allup and to each period the file was
// modified in. Counters stop at their maximum.
void give_back_upload(core::SectionRecord& section, uint64_t bytes, time_t stamp, const PeriodStarts& starts);

// The nuke triplet: one nuke more at `when` (without the offset) with
// bytes / 1 MiB more nuked; an unnuke takes both back, stopping at 0.
void count_nuke(core::SectionRecord& section, time_t when, uint64_t bytes);
void uncount_nuke(core::SectionRecord& section, uint64_t bytes);

// ---- Userfiles ----

// Where a release lies, as the books see it.
struct ReleaseBooks {
  std::string path;        // the release directory
  long long multiplier = 0;  // the nuke multiplier
  int stats_section = 0;   // 0 when `nostats` covers the release
  int credit_section = 0;
  bool counts_stats = true;  // `nostats` does not cover it
};
ReleaseBooks release_books(const std::string& path, long long multiplier);

// Charges `nukee`'s files and counts the nuke in its userfile, under its
// lock: credits and statistics (anonymous uploaders keep theirs), then the
// nuke triplet. Sets nukee.uploader_multiplier. False when the userfile
// could not be locked, read or written; unknown owners are left alone.
bool book_nuke(Nukee& nukee, const ReleaseBooks& release);

// An empty nuke: the owner of the release loses `kib` x multiplier KiB of
// credits and has the nuke (of kib x 1024 bytes) counted.
bool book_empty_nuke(const Nukee& nukee, const ReleaseBooks& release, long long kib);

// The reverse of book_nuke for an unnuke.
bool book_unnuke(Nukee& nukee, const ReleaseBooks& release);

}  // namespace site
