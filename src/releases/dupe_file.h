// The dupe file "<datapath>/logs/dupefile": one fixed record per uploaded
// file name, so the same file is not uploaded twice within the `dupe_check`
// days. Records whose time fell out of that window are free slots that new
// names overwrite, so the file stays as large as the busiest window needed.
//
// This is a store: it returns what it found or changed and the command
// handlers above it decide what the client is told.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace releases {

// One record as it lies on disk (288 bytes, little-endian, no header).
struct DupefileEntry {
  char name[256];      // last path component, at most 254 bytes, NUL-padded
  int32_t time;        // upload time (local clock); 0 marks a deleted record
  char uploader[24];   // user name, at most 23 bytes, NUL-padded
  char reserved[4];    // written as 0
};
static_assert(sizeof(DupefileEntry) == 288);
static_assert(offsetof(DupefileEntry, name) == 0);
static_assert(offsetof(DupefileEntry, time) == 256);
static_assert(offsetof(DupefileEntry, uploader) == 260);
static_assert(offsetof(DupefileEntry, reserved) == 284);
// Records are read and written as they lie in memory.
static_assert(std::endian::native == std::endian::little);

// Names are stored and compared on this many leading bytes.
inline constexpr std::size_t kDupeNameLength = 254;

// The `dupe_check` line: days ≤ 0 (or no line) switch checking off;
// "yes" as the second word makes names compare without case.
struct DupeCheck {
  int days = 0;
  bool ignore_case = false;
  bool on() const { return days > 0; }
};
DupeCheck dupe_check_setting();

// The oldest upload time that still counts for `days`.
time_t dupe_cutoff(int days);

// Whether `name` matches an `ignore_type` pattern: such names are never
// entered, checked or removed.
bool ignored_type(std::string_view name);

// "<datapath>/logs/dupefile".
std::string dupe_file_path();

// Whether a record still counts: time 0 never does, nor a time before the
// cutoff. Every record that does not count is a free slot.
bool record_counts(const DupefileEntry& entry, time_t cutoff);

// The record's name and uploader, read without trusting a terminating NUL.
std::string_view record_name(const DupefileEntry& entry);
std::string_view record_uploader(const DupefileEntry& entry);

// Enters the last component of `path` with the session user and the current
// time, into the first free slot or at the end. Not added when checking is
// off, the name is an ignored type, or the dupe file does not exist (it is
// never created here) or cannot be written.
bool dupe_add(std::string_view path);

struct DupeHit {
  std::string name;
  std::string uploader;
  time_t time = 0;
};

// The first counting record named `name` (compared exactly, or without
// case), or nothing; a missing file finds nothing.
std::optional<DupeHit> dupe_find(std::string_view name, time_t cutoff, bool ignore_case);

// An upload's lookup and entry in one step under one lock, so that two
// sessions uploading the same name never both pass: the first counting
// record named like the last component of `path`, or else that name
// entered (`recorded`) in the first free slot or at the end. Checking must
// be on and the name not an ignored type; a missing file finds and records
// nothing.
struct DupeClaim {
  std::optional<DupeHit> hit;
  bool recorded = false;
};
DupeClaim dupe_claim(std::string_view path, time_t cutoff, bool ignore_case);

// Frees every counting record whose name matches `pattern`: as a shell
// pattern, or compared literally when `literal`. Gives the names freed.
std::vector<std::string> dupe_expire(std::string_view pattern, time_t cutoff, bool literal);

// Frees the last component of `path` within the `dupe_check` window. A
// rejected upload and DELE pass `literal`, so a file named "*" frees only
// itself; SITE UNDUPE passes a pattern. Gives the names freed.
std::vector<std::string> dupe_remove(std::string_view path, bool literal);

// The names of the non-empty regular files in `directory` that match an
// `xdupe` pattern, sorted; nothing when the directory cannot be read.
std::optional<std::vector<std::string>> xdupe_names(const std::string& directory);

// The "X-DUPE:" lines reporting `names` at `level` (1-4; others give none):
// 1 packs names into lines of at most 75 characters, 2 gives one line per
// name cut to 74, 3 one whole line per name, 4 packs what fits into one
// line of at most 1019 characters.
std::vector<std::string> xdupe_lines(const std::vector<std::string>& names, int level);

}  // namespace releases
