// The end of an upload: checker, then books.
#include "transfer/post_upload.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "config/access_rules.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/tls_control.h"
#include "releases/dirlog.h"
#include "releases/dupe_file.h"
#include "text/external.h"
#include "transfer/download_accounting.h"
#include "transfer/upload_credits.h"
#include "userdb/userfile.h"

namespace transfer {
namespace {

constexpr int kMostSeconds = 100000;
// The checker's "could not run" status; a shell's "not found" counts so too.
constexpr int kUncheckable = 1;
constexpr int kShellNotFound = 127;
// Statuses 10-1010 ask for a penalty of status - 10 seconds.
constexpr int kPenaltyBase = 10;
constexpr int kPenaltyLast = 1010;

// SIGPIPE, which ends a session, is held off while the books are written:
// a client that went away must not leave an upload half-booked. Only TLS
// writes to the control connection can raise it (clear replies are sent
// without it), so a clear session has nothing to hold off.
class SigpipeIgnored {
 public:
  SigpipeIgnored() : engaged_(core::control_protected()) {
    if (!engaged_) return;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &saved_);
  }
  ~SigpipeIgnored() {
    if (engaged_) ::sigaction(SIGPIPE, &saved_, nullptr);
  }
  SigpipeIgnored(const SigpipeIgnored&) = delete;
  SigpipeIgnored& operator=(const SigpipeIgnored&) = delete;

 private:
  bool engaged_;
  struct sigaction saved_ {};
};

// A file deleted or renamed while it was received earns nothing, and its
// path may name another file by now.
bool still_at_path(const Upload& upload) {
  struct stat st {};
  return ::stat(upload.path.c_str(), &st) == 0 && st.st_dev == upload.device && st.st_ino == upload.inode;
}

void mark_complete(const Upload& upload) {
  // As root: an overwritten file may belong to someone else.
  core::PrivilegeBracket root;
  if (::fchmod(upload.file.get(), kAcceptedUploadMode) != 0)
    core::error_log("upload %s: cannot set mode 0644: %m", upload.path.c_str());
}

void remove_rejected(const Upload& upload) {
  {
    core::PrivilegeBracket root;
    if (::unlink(upload.path.c_str()) != 0 && errno != ENOENT)
      core::error_log("upload %s: cannot remove the rejected file: %m", upload.path.c_str());
  }
  if (upload.dupe_recorded) releases::dupe_remove(upload.path, true);
}

}  // namespace

Upload& current_upload() {
  static Upload upload;
  return upload;
}

void account_upload(const Upload& upload) {
  core::Session& s = core::session();
  const char* path = upload.path.c_str();
  releases::dirlog_add_bytes(upload.directory, static_cast<uint64_t>(upload.bytes), false, upload.whole_file);
  if (upload.whole_file) ++s.session_files_up;
  s.session_bytes_up += static_cast<uint64_t>(upload.bytes);

  // Without the lock another session may be rewriting the userfile: the
  // upload keeps its file but earns nothing rather than overwrite theirs.
  if (userdb::lock_and_load_user(s.user.name) != 0) {
    core::error_log("%.23s: userfile locked, upload of %s not booked", s.user.name, path);
    return;
  }
  const int section = config::section_of(path);
  if (!config::path_allowed("nostats", path, config::kPathIsFile)) {
    const int seconds = upload.time.seconds < 1 ? 1 : (upload.time.seconds > kMostSeconds ? kMostSeconds : upload.time.seconds);
    add_upload_stats(s.user.sections[section], upload.whole_file, upload.bytes, seconds);
  }
  const long long multiplier = upload_multiplier(s.user, upload.path);
  if (multiplier != 0 && effective_ratio(s.user, section) != 0) {
    // A negative charge is a gain; the sum stops at the credits' maximum.
    charge_credits(s.user.sections[config::credit_section_of(path)].credits,
                   -static_cast<long long>(earned_credits_kib(upload.bytes, multiplier)));
  }
  if (userdb::write_user(s.user) != 0) core::string_reply(226, 59, 1, s.user.name);
}

PostUploadVerdict post_upload(Upload& upload, bool interactive) {
  static bool running = false;
  PostUploadVerdict verdict;
  if (running) return verdict;
  running = true;
  const SigpipeIgnored no_sigpipe;

  if (!still_at_path(upload)) {
    mark_complete(upload);
    verdict.kind = PostUploadVerdict::Moved;
  } else {
    int status = 0;
    {
      const text::ProgramsRunToTheEnd whole_verdict;
      status = text::post_check(upload.path.c_str(), upload.crc);
    }
    if (status == kShellNotFound) status = kUncheckable;
    if (status == 0) {
      // One switch to root for the whole booking (the file's mode, the
      // dirlog, the lock and the userfile each need it).
      const core::PrivilegeBracket root;
      mark_complete(upload);
      account_upload(upload);
      verdict.kind = PostUploadVerdict::Accepted;
    } else if (status == kUncheckable && interactive) {
      core::string_reply(226, 517, 1, status);
      core::error_log("Error: zipscript could not be executed, file %s not tested. Return value %d",
                      upload.path.c_str(), kUncheckable);
      mark_complete(upload);
      verdict.kind = PostUploadVerdict::Untested;
    } else {
      remove_rejected(upload);
      verdict.kind = PostUploadVerdict::Removed;
      if (interactive && status >= kPenaltyBase && status <= kPenaltyLast) verdict.delay_seconds = status - kPenaltyBase;
    }
  }
  core::session().transfer_in_progress = 0;
  running = false;
  return verdict;
}

}  // namespace transfer
