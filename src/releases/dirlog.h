// The directory log "<datapath>/logs/dirlog": one fixed record per release
// directory made in a logged area, oldest first, with its status, creation
// time, creator and running totals of files and bytes.
//
// Writers take an exclusive flock on the file and reopen it when the path
// has been replaced under them (SITE UPDATE renames a new file into place),
// so no record added or changed by another session is lost. Readers take no
// lock: they read whole records in large blocks and ignore a partial record
// at the end.
//
// This is a store: it returns what it found or changed. The command
// handlers above it reply to the client, expand the text files and run the
// bot announcements (NEWDIR after dirlog_add, DELDIR when dirlog_change
// says one is due).
#pragma once

#include <sys/stat.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/kept_file.h"
#include "core/unique_fd.h"

namespace releases {

enum DirlogStatus : uint16_t {
  kDirNew = 0,
  kDirNuked = 1,
  kDirUnnuked = 2,
  kDirDeleted = 3,
};

// One record as it lies on disk (284 bytes, little-endian, no header).
struct DirlogEntry {
  uint16_t status;      // a DirlogStatus
  uint16_t pad1;        // written as 0
  int32_t time;         // creation or last status change (core::now())
  uint16_t uid;         // creator's numeric user id
  uint16_t gid;         // creator's numeric group id
  uint16_t files;       // saturates at 65,535
  uint16_t pad2;        // written as 0
  uint32_t bytes;       // saturates at 4,294,967,295
  char path[255];       // path inside the root, NUL-padded, unterminated when full
  char pad3;            // written as 0
  uint32_t next_link;   // written as 0 by an add, kept by UPDATE
  uint32_t prev_link;   // same
};
static_assert(sizeof(DirlogEntry) == 284);
static_assert(offsetof(DirlogEntry, status) == 0);
static_assert(offsetof(DirlogEntry, pad1) == 2);
static_assert(offsetof(DirlogEntry, time) == 4);
static_assert(offsetof(DirlogEntry, uid) == 8);
static_assert(offsetof(DirlogEntry, gid) == 10);
static_assert(offsetof(DirlogEntry, files) == 12);
static_assert(offsetof(DirlogEntry, pad2) == 14);
static_assert(offsetof(DirlogEntry, bytes) == 16);
static_assert(offsetof(DirlogEntry, path) == 20);
static_assert(offsetof(DirlogEntry, pad3) == 275);
static_assert(offsetof(DirlogEntry, next_link) == 276);
static_assert(offsetof(DirlogEntry, prev_link) == 280);
// Records are read and written as they lie in memory.
static_assert(std::endian::native == std::endian::little);

inline constexpr uint16_t kMaxDirlogFiles = 65535;
inline constexpr uint32_t kMaxDirlogBytes = 4294967295u;

// "<datapath>/logs/dirlog".
std::string dirlog_path();

// The record's path, read without trusting a terminating NUL.
std::string_view entry_path(const DirlogEntry& entry);

// A fresh record: status new, time core::now(), the session user's passwd
// ids, no files; `path` cut to 255 bytes (and at an embedded NUL).
DirlogEntry make_entry(std::string_view path);

// The totals after one file of `bytes` is added or taken away: files and
// bytes saturate at their maxima and never drop below 0. Without
// `count_file` only the bytes change (a resumed or appended upload).
void apply_file(DirlogEntry& entry, uint64_t bytes, bool subtract, bool count_file = true);

// The size as users see it, leading blanks removed: "2.0M" in units of
// 1,024,000 bytes up to 1,073,741,824 bytes, above that "1.863G" in units
// of 1,073,741,824.
std::string size_text(uint64_t bytes);

// The files/size column of SITE NEW: "   =Empty= " without files, else
// "%3dF%7.7s" with the file count and size_text.
std::string files_size_text(unsigned files, uint64_t bytes);

// ---- File access shared by the writers ----

// The dirlog locked exclusively for one change. It stays open between a
// session's changes (every upload and DELE makes one); a file renamed over
// it meanwhile is opened instead. Created root-owned 0644 when `create` and
// missing.
core::KeptFile::Change lock_dirlog(bool create);

// Every whole record of `fd` in file order; false on a read error.
bool load_records(int fd, std::vector<DirlogEntry>& out);

// ---- Writers: each returns false when the dirlog cannot be written. ----

// Appends a new record for `path` (MKD in a logged area), creating the file
// root-owned with mode 0644 when it is missing. True means the record is on
// disk and the NEWDIR announcement is due.
bool dirlog_add(std::string_view path);

// Adds one file of `bytes` to (or, with `subtract`, takes it from) every
// record that is not deleted and whose path is `dir` or a parent directory
// of it; without `count_file` only the bytes (a resumed or appended
// upload). Gives the number of records changed.
int dirlog_add_bytes(std::string_view dir, uint64_t bytes, bool subtract, bool count_file = true);

struct DirlogChanged {
  DirlogEntry entry;        // the record as it was written
  bool deldir_due = false;  // status became deleted: announce DELDIR
};

// Changes the newest record whose path is exactly `path`: renames it to
// `new_path` when given, and with a non-zero `new_status` sets the status
// and restamps its time. Nothing when no record has that path.
std::optional<DirlogChanged> dirlog_change(std::string_view path, std::optional<std::string_view> new_path,
                                           uint16_t new_status);

// What a wipe took away: the files that were counted (with their
// directory) and the directories.
struct DirlogRemovals {
  struct File {
    std::string directory;
    uint64_t bytes = 0;
  };
  std::vector<File> files;
  std::vector<std::string> directories;
};

// Books a wipe in one pass over the dirlog under one lock, however many
// entries it removed: each file leaves the records of its directory and of
// the directories above it, as dirlog_add_bytes would take it away; then
// the newest record of each removed directory becomes deleted, as
// dirlog_change would mark it. Gives the number of records changed.
int dirlog_book_removals(const DirlogRemovals& removals);

// ---- Readers ----

// Whether a path may be shown to the session user: the handler passes its
// home-directory check. The private-path rule is applied here as well.
using PathFilter = std::function<bool(std::string_view path)>;

// One line of SITE NEW, newest first, numbered from 1. The handler fills
// the "new.body" cookies from it (uploader by entry.uid, age by age_since).
struct NewEntry {
  int number = 0;
  DirlogEntry entry{};
  std::string path;
  std::string name;        // last path component
  std::string files_size;  // files_size_text
};

// The newest `count` entries (10 when count < 1) that are neither nuked nor
// deleted, pass the private-path rule and lie within `base` (the user's home
// or current directory). A missing or unreadable dirlog gives none.
std::vector<NewEntry> dirlog_newest(std::string_view base, int count);

struct SearchHit {
  std::string path;  // full path; the handler shows it as the visible path
  std::string info;  // "!f*NUKED*", "!b=Empty=" or the colour-coded totals
};

// SITE SEARCH: every record, oldest first, whose lower-cased path contains
// each blank-separated word of `words` (compared without case) and that
// passes the private-path rule and `visible`. Nothing when the dirlog
// cannot be opened.
std::optional<std::vector<SearchHit>> dirlog_search(std::string_view words, const PathFilter& visible);

// The info text of one search hit.
std::string search_info(const DirlogEntry& entry);

// The numbered CWD: the `n`-th newest record that is neither nuked nor
// deleted and passes the private-path rule and `visible`.
struct NewestResult {
  enum Outcome { kFound, kNotFound, kOpenFailed, kReadFailed } outcome = kNotFound;
  std::string path;
};
NewestResult cwd_to_newest(int n, const PathFilter& visible);

// ---- SITE UPDATE ----

struct UpdateLine {
  enum Kind { kNoMatch, kUpdated, kSkipped } kind;  // strings 313, 314, 315
  std::string text;  // the entry name for kNoMatch, the path otherwise
};

struct UpdateResult {
  bool ok = false;  // the dirlog was rewritten
  std::vector<UpdateLine> lines;
  int added = 0;     // records new to the dirlog
  int replaced = 0;  // records whose fields were replaced
};

// Rebuilds the records of the directories in `dir` whose names match
// `pattern` (wildcard, without case) from the disk, then rewrites the whole
// dirlog sorted by time. Directories are read without following links; the
// totals count the regular files below each one except ".message" files.
// An UPDATE with no dirlog to replace reports its lines but writes nothing.
UpdateResult dirlog_update(const std::string& dir, std::string_view pattern);

}  // namespace releases
