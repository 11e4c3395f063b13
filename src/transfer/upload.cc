// The upload commands.
#include "transfer/upload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/idle_alarm.h"
#include "core/logs.h"
#include "core/match.h"
#include "core/path_text.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "fs/path.h"
#include "online/online_table.h"
#include "releases/dupe_file.h"
#include "text/name_filter_reply.h"
#include "transfer/crc32.h"
#include "transfer/data_connection.h"
#include "transfer/post_upload.h"
#include "transfer/receive_data.h"
#include "transfer/status_line.h"
#include "transfer/transfer_commands.h"
#include "transfer/transfer_complete.h"
#include "transfer/transfer_control.h"
#include "transfer/upload_dupe_check.h"
#include "transfer/xferlog.h"

namespace transfer {
namespace {

constexpr int kMissingDirectory = 550;
constexpr int kRefused = 553;
constexpr int kBadRestart = 554;
constexpr int kMostUniqueSuffix = 99;

// What the checks found out about the target before anything is opened.
struct Target {
  std::string name;  // as shown in replies
  std::string path;
  std::string directory;
  bool exists = false;
  bool resume = false;     // REST or APPE onto an existing file
  bool overwrite = false;  // STOR over an existing file, with the right to
  bool dupe_exempt = false;
  bool dupe_recorded = false;  // entered in the dupe file by the check
  fs::PathLook look;  // what resolving the path saw of it and its directory
};

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path, const fs::PathLook& look = {}) {
  struct stat st {};
  return look.stat(path, st) && S_ISDIR(st.st_mode);
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

// The first `nodupecheck` line whose pattern matches exempts the path; a
// line without a pattern ends the walk.
bool dupe_check_exempt(const std::string& path) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("nodupecheck", cursor)) {
    if (line->arg(1) == nullptr) return false;
    if (core::wildcard_match(line->arg(1), path, true)) return true;
  }
  return false;
}

// `calc_crc` patterns: one beginning with '/' is matched against the whole
// path, any other against the file name.
bool crc_wanted_for(const std::string& path) {
  const std::string name(core::last_component(path));
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("calc_crc", cursor)) {
    for (int n = 1; const char* pattern = line->arg(n); ++n) {
      const bool matched = pattern[0] == '/' ? core::wildcard_match(pattern, path, true) : core::name_match(name, pattern);
      if (matched) return true;
    }
  }
  return false;
}

mode_t incomplete_mode() {
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config("dl_incomplete", cursor);
  if (line != nullptr && line->arg(1) != nullptr && std::atoi(line->arg(1)) <= 0) return kHiddenUploadMode;
  return kIncompleteUploadMode;
}

// Where REST must point for a resume: the file's end, counted as the
// client counts it (in ASCII every LF travels as CR LF). -1 when the file
// cannot be read.
off_t resume_offset(const std::string& path, off_t size) {
  if (core::session().type != 1) return size;
  core::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return -1;
  std::string block(1 << 16, '\0');
  off_t newlines = 0;
  for (;;) {
    const ssize_t got = ::read(fd.get(), block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    newlines += std::count(block.data(), block.data() + got, '\n');
  }
  return size + newlines;
}

// Steps 3-5: the path and a directory that exists, inside the user's area,
// spelt by the `dir_names` rule when the client's spelling is missing.
bool locate_target(Target& target) {
  target.path = fs::resolve_path(target.name, true, &target.look);
  target.directory = directory_of(target.path);
  if (!is_directory(target.directory, target.look)) {
    std::string respelt = target.directory;
    fs::rewrite_name("dir_names", respelt);
    if (!is_directory(respelt, target.look)) {
      core::string_reply(kMissingDirectory, 167, 0);
      return false;
    }
    target.directory = respelt;
    target.path = respelt + "/" + std::string(core::last_component(target.path));
  }
  if (!config::privpath_allowed(target.directory.c_str()) || !fs::inside_home(target.directory)) {
    core::string_reply(kMissingDirectory, 167, 0);
    return false;
  }
  return true;
}

// Step 8: what an existing file allows. A resume must start exactly at
// the file's end: anything else would credit bytes twice or leave a hole.
bool check_existing(Target& target, StoreMode mode) {
  core::Session& s = core::session();
  struct stat st {};
  target.exists = target.look.stat(target.path, st);
  if (!target.exists) {
    if (s.restart_point != 0) {
      core::string_reply(kBadRestart, 583, 0, static_cast<long long>(s.restart_point), 0LL);
      return false;
    }
    return true;
  }
  target.resume = s.restart_point != 0 || mode == StoreMode::Append;
  if (target.resume) {
    if (!config::path_allowed("resume", target.path.c_str(), config::kPathIsFile)) {
      core::string_reply(kRefused, 513, 0);
      return false;
    }
    if ((st.st_mode & 07777) != kAcceptedUploadMode) {
      core::string_reply(kRefused, 514, 0);
      return false;
    }
    if (s.restart_point != 0) {
      const off_t end = resume_offset(target.path, st.st_size);
      if (s.restart_point != end) {
        core::string_reply(kBadRestart, 583, 0, static_cast<long long>(s.restart_point), static_cast<long long>(end));
        return false;
      }
    }
    return true;
  }
  // A file that is not 0644 is still being received (or was never
  // accepted): replacing it would pull it from under its upload.
  target.overwrite = (st.st_mode & 07777) == kAcceptedUploadMode &&
                     config::path_allowed("overwrite", target.path.c_str(), config::kPathIsFile);
  return true;
}

// Steps 1-12: every refusal before a file is opened.
bool may_store(Target& target, StoreMode mode, bool unique) {
  core::Session& s = core::session();
  fs::rewrite_name("file_names", target.name);
  if (unique) {
    const std::string wanted = fs::resolve_path(target.name, true);
    if (exists(wanted)) {
      const std::optional<std::string> free_name = make_unique_name(wanted);
      if (!free_name) return false;
      target.name += free_name->substr(wanted.size());
    }
  }
  if (!locate_target(target)) return false;
  if (!text::name_passes_filter(target.path)) return false;
  if (!config::path_allowed("upload", target.path.c_str(), config::kPathIsFile)) {
    core::string_reply(kRefused, 168, 0);
    return false;
  }
  if (!check_existing(target, mode)) return false;
  target.dupe_exempt = dupe_check_exempt(target.path);
  // A new file's name is entered as it is looked up; one refused below
  // takes it out again.
  if (!target.dupe_exempt && !target.overwrite && !target.resume &&
      upload_dupe_check(target.path, !target.exists, target.dupe_recorded))
    return false;
  if (target.exists && !target.resume && !target.overwrite) {
    core::string_reply(kRefused, 515, 0);
    return false;
  }
  // Without a `free_space` floor there is nothing to measure against.
  if (s.free_space <= 0) return true;
  session::compute_free_space(target.directory.c_str());
  if (s.free_space_mb < static_cast<float>(s.free_space)) {
    if (target.dupe_recorded) releases::dupe_remove(target.path, true);
    core::string_reply(kRefused, 516, 0);
    return false;
  }
  return true;
}

// Adds what a resumed file holds already to the upload's CRC.
bool crc_of_existing_part(Upload& upload) {
  char* block = receive_buffer();
  if (block == nullptr) return false;
  off_t at = 0;
  for (;;) {
    const ssize_t got = ::pread(upload.file.get(), block, kReceiveChunk, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    upload.crc = crc_update(upload.crc, block, static_cast<std::size_t>(got));
    at += got;
  }
}

// Steps 13-17: the file opened (an overwrite is truncated only once the
// data connection is open), positioned at its end for a resume, with the
// CRC of what it holds already so the checker sees the whole file's.
bool open_target(const Target& target, StoreMode mode, Upload& upload) {
  int flags = O_RDWR | O_CLOEXEC;
  if (!target.exists) flags |= O_CREAT | O_EXCL;
  if (mode == StoreMode::Append) flags |= O_APPEND;
  const mode_t create_mode = incomplete_mode();
  upload.file = core::UniqueFd(::open(target.path.c_str(), flags, create_mode));
  if (!upload.file) {
    core::perror_reply(550, "System Error- " + target.name.substr(0, 80));
    return false;
  }
  upload.created = !target.exists;
  struct stat st {};
  ::fstat(upload.file.get(), &st);
  // Exactly the incomplete mode, whatever the umask.
  if (upload.created && (st.st_mode & 07777) != create_mode && ::fchmod(upload.file.get(), create_mode) != 0)
    core::error_log("upload %s: cannot set mode %o: %m", target.path.c_str(), create_mode);
  upload.device = st.st_dev;
  upload.inode = st.st_ino;
  upload.whole_file = !target.resume;
  upload.crc_wanted = core::session().type != 1 && crc_wanted_for(target.path);
  upload.crc = upload.crc_wanted ? 0xFFFFFFFFu : 0;

  if (target.resume) {
    if (upload.crc_wanted && !crc_of_existing_part(upload)) {
      core::perror_reply(550, target.name);
      upload.file.reset();
      return false;
    }
    if (::lseek(upload.file.get(), 0, SEEK_END) < 0) {
      core::perror_reply(550, target.name);
      upload.file.reset();
      return false;
    }
  }
  return true;
}

// The data connection never opened (or the session ended while it
// opened): nothing of this command stays behind.
void undo_unstarted_upload(Upload& upload) {
  if (upload.dupe_recorded) releases::dupe_remove(upload.path, true);
  if (upload.created && ::unlink(upload.path.c_str()) != 0 && errno != ENOENT)
    core::error_log("upload %s: cannot remove the unused file: %m", upload.path.c_str());
  upload = Upload{};
  core::session().transfer_in_progress = 0;
}

// The data has ended: the CRC completed, the rate for the scripts and the
// transfer log.
void finish_receiving(Upload& upload) {
  if (upload.crc_wanted) upload.crc = ~upload.crc;
  upload.bytes = progress().byte_count;
  upload.time = upload.clock.stop();
  export_transfer_speed(upload.time.elapsed);
  if (core::session().log_uploads) xferlog_write(upload.time.seconds, upload.bytes, upload.path, 'i');
  upload.phase = Upload::PostProcessing;
}

// The command's last reply, after post-processing, so that every
// continuation line before it carries its code. An aborted upload has had
// its replies.
void send_final_reply(const Target& target, const ReceiveResult& received, const PostUploadVerdict& verdict) {
  if (received.outcome == ReceiveResult::Aborted) {
    core::discard_held_continuations();
    return;
  }
  int code = 226;
  if (received.outcome == ReceiveResult::InputError) code = 426;
  if (received.outcome == ReceiveResult::OutputError) code = 452;
  if (code == 226 && verdict.kind == PostUploadVerdict::Removed) code = kRefused;
  if (verdict.delay_seconds > 0) {
    core::string_reply(code, 518, 1, verdict.delay_seconds);
    core::pause_seconds(static_cast<unsigned>(verdict.delay_seconds));
  }
  errno = received.error;
  if (code == 426)
    core::perror_reply(code, "Data Connection");
  else if (code == 452)
    core::perror_reply(code, "Error writing file");
  else if (code == kRefused)
    core::string_reply(code, 584, 0, target.name);
  else
    transfer_complete_reply();
}

// Steps 18-26: the data connection, the data, post-processing and the
// reply.
int receive_upload(const Target& target, Upload& upload) {
  core::Session& s = core::session();
  s.transfer_in_progress = 2;
  upload.phase = Upload::Opening;
  if (open_data_connection(target.name.c_str(), -1, XferDirection::Upload) < 0) {
    undo_unstarted_upload(upload);
    return 1;
  }

  ReceiveResult received;
  upload.clock = TransferClock();
  upload.phase = Upload::Receiving;
  online::begin_own_transfer();
  if (target.overwrite && ::ftruncate(upload.file.get(), 0) != 0) {
    received.outcome = ReceiveResult::OutputError;
    received.error = errno;
  } else {
    received = receive_data(s.data_fd, upload.file.get(), upload.path, s.type == 1,
                            upload.crc_wanted ? &upload.crc : nullptr);
  }
  close_data_connection();
  finish_receiving(upload);

  core::hold_continuations(true);
  if (received.bare_linefeeds > 0) {
    core::string_reply(226, 524, 1, received.bare_linefeeds);
    core::string_reply(226, 525, 1);
  }
  const PostUploadVerdict verdict = post_upload(upload, true);
  core::hold_continuations(false);
  upload = Upload{};
  send_final_reply(target, received, verdict);

  online::set_own_command_start();
  s.data_fd = -1;
  s.pasv_fd = -1;
  s.transfer_in_progress = 0;
  return 0;
}

}  // namespace

std::optional<std::string> make_unique_name(const std::string& path) {
  const std::string directory = directory_of(path);
  if (!is_directory(directory)) {
    core::perror_reply(kRefused, directory);
    return std::nullopt;
  }
  for (int n = 1; n <= kMostUniqueSuffix; ++n) {
    std::string candidate = path + "." + std::to_string(n);
    if (!exists(candidate)) return candidate;
  }
  core::string_reply(452, 569, 0);
  return std::nullopt;
}

int store_file(const std::string& name, StoreMode mode, bool unique) {
  Target target;
  target.name = name;
  if (!may_store(target, mode, unique)) return 1;
  Upload& upload = current_upload();
  upload = Upload{};
  upload.path = target.path;
  upload.directory = target.directory;
  upload.dupe_recorded = target.dupe_recorded;
  if (!open_target(target, mode, upload)) {
    undo_unstarted_upload(upload);
    return 1;
  }
  return receive_upload(target, upload);
}

void settle_interrupted_upload() {
  Upload& upload = current_upload();
  switch (upload.phase) {
    case Upload::Idle:
    case Upload::PostProcessing:
      // Post-processing that was cut short is not started again.
      break;
    case Upload::Opening:
      undo_unstarted_upload(upload);
      break;
    case Upload::Receiving:
      finish_receiving(upload);
      core::restart_idle_time_out();
      core::hold_continuations(true);
      post_upload(upload, false);
      core::discard_held_continuations();
      core::hold_continuations(false);
      upload = Upload{};
      break;
  }
  core::session().transfer_in_progress = 0;
}

}  // namespace transfer

namespace transfer::commands {

int stor(const CommandArgs& args) { return transfer::store_file(args.text.value_or(""), transfer::StoreMode::Write, false); }
int appe(const CommandArgs& args) { return transfer::store_file(args.text.value_or(""), transfer::StoreMode::Append, false); }
int stou(const CommandArgs& args) { return transfer::store_file(args.text.value_or(""), transfer::StoreMode::Write, true); }

}  // namespace transfer::commands
