// How the built-in listing prints its entries: the long line, one name per
// line and columns, with mode texts, dates, colours by type and the
// classification characters.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "fs/listing_options.h"
#include "fs/machine_listing.h"
#include "fs/listing_output.h"

namespace fs {

enum class EntryKind { Symlink, Directory, ArgumentDirectory, Other };

// The status fields a listing shows, kept small so that a directory of
// many thousand entries stays compact.
struct EntryStatus {
  mode_t mode = 0;
  nlink_t links = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  dev_t rdev = 0;
  off_t size = 0;
  time_t atime = 0, mtime = 0, ctime = 0;
  dev_t dev = 0;  // with ino, the "unique" fact of a machine listing
  ino_t ino = 0;
};

struct ListEntry {
  std::string name;  // as printed: a bare name, or a visible path for an explicit item
  EntryStatus status;
  bool has_status = false;  // false when collected from the name alone
  std::string link_target;  // empty when not read
  mode_t link_mode = 0;
  bool link_target_exists = false;
  EntryKind kind = EntryKind::Other;
  uint64_t blocks = 0;
  bool show_dir_size = false;
  uint64_t dir_size = 0;  // in the unit of use_dir_size
};

// User and group names of ids, each looked up once per listing.
class IdNames {
 public:
  // The name, or an empty view when the id has none.
  std::string_view user(unsigned uid);
  std::string_view group(unsigned gid);

 private:
  std::unordered_map<unsigned, std::string> users_, groups_;
};

// What stays fixed while one listing prints.
struct PrintContext {
  const ListOptions* options = nullptr;
  time_t now = 0;          // seconds since the epoch plus the timezone offset
  int tz_offset = 0;       // applied to file times, so they read as site time
  bool download_counts = false;  // `file_dl_count` on
  IdNames* names = nullptr;
  unsigned machine_facts = 0;  // ListFormat::Machine: the facts shown
  FactViewer viewer;           // ListFormat::Machine: whose "perm" it is
};

// "drwxr-xr-x": the type letter and three rwx triplets with set-id and
// sticky bits.
std::string mode_text(mode_t mode);

// "Mmm dd hh:mm" within the last 180 days and at most an hour ahead,
// otherwise "Mmm dd  yyyy"; `when` and `now` are both site time.
void append_time(std::string& out, time_t when, time_t now);

// The ls-style block column width for the largest count: 4 to 7.
int block_width(uint64_t largest_blocks);

// The colour code of an entry's name ("01;34" for a directory ...).
std::string_view colour_of(mode_t mode, bool orphan_link);

// Writes the entries in the format of ctx.options, each line ending in
// CR LF.
void print_entries(ListingOutput& out, std::span<const ListEntry> entries, const PrintContext& ctx);

}  // namespace fs
