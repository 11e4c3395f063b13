// After an upload's data: the site's upload checker (post_check) decides
// whether the file stays. An accepted file becomes 0644 and is booked in
// the directory log, the uploader's statistics and credits; a rejected one
// is removed with its dupe entry. The same runs, without replies, when the
// session ends in the middle of an upload.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "core/unique_fd.h"
#include "transfer/transfer_timing.h"

namespace transfer {

// Permission bits of an upload still being received (0600 when the site
// hides incomplete uploads) and of an accepted one. Downloads treat 0755
// files as still growing; only 0644 files may be resumed.
inline constexpr mode_t kIncompleteUploadMode = 0755;
inline constexpr mode_t kHiddenUploadMode = 0600;
inline constexpr mode_t kAcceptedUploadMode = 0644;

// The upload the session is receiving or post-processing.
struct Upload {
  std::string path;       // resolved path of the file
  std::string directory;  // the path up to its last '/'
  core::UniqueFd file;    // open until post-processing has ended
  dev_t device = 0;       // what `file` is, to tell whether the path
  ino_t inode = 0;        // still names it when the upload ends
  bool created = false;     // this command made the file
  bool whole_file = false;  // made or truncated by this command: counts as a file
  bool dupe_recorded = false;
  bool crc_wanted = false;
  uint32_t crc = 0;          // running CRC-32 (complemented once the data ended)
  long long bytes = 0;       // received by this command
  TransferClock clock;        // started when the data connection opened
  TransferTime time;
  enum Phase {
    Idle,
    Opening,         // the data connection is opening
    Receiving,       // data is coming in
    PostProcessing,  // the data has ended
  } phase = Idle;
};
Upload& current_upload();

struct PostUploadVerdict {
  enum Kind {
    Accepted,  // kept and booked
    Untested,  // the checker could not run: kept, 0644, not booked
    Removed,   // rejected and deleted
    Moved,     // the path no longer names the file: nothing booked
  } kind = Accepted;
  int delay_seconds = 0;  // the penalty before the final reply
};

// Runs the checker on `upload` and acts on its verdict. Continuation
// lines (the checker's output, strings 517 and 59) go out with the code of
// the reply that follows; the caller sends it. Never runs twice at once.
PostUploadVerdict post_upload(Upload& upload, bool interactive);

// Books an accepted upload: its bytes (and, for a whole file, one file) in
// the directory log; statistics unless `nostats` covers it; credits at the
// section's ratio or the path's `creditcheck` multiplier; the session's
// totals. The userfile is written once, under its lock.
void account_upload(const Upload& upload);

}  // namespace transfer
