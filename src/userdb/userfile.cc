// Userfiles on disk: reading into the work record, writing through a
// temporary file and rename, and the work and pending-account state.
#include "userdb/userfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "core/file_io.h"
#include "core/fixed_field.h"
#include "core/logs.h"
#include "core/own_pid.h"
#include "core/privilege.h"
#include "core/session.h"
#include "userdb/process_files.h"
#include "userdb/user_cache.h"
#include "userdb/user_lock.h"

namespace userdb {

core::UserRecord& work_user() {
  static core::UserRecord record;
  return record;
}

std::string& pending_home_dir() {
  static std::string dir;
  return dir;
}

std::string& account_being_created() {
  static std::string name;
  return name;
}

std::string userfile_path(std::string_view name) {
  std::string path = core::session().data_path;
  path += "/users/";
  path += name;
  return path;
}

namespace {

// Whether `name` can name a userfile at all (lock files never do).
bool could_be_user(const char* name) {
  if (!name || !valid_user_name(name)) return false;
  std::string_view view(name);
  return !(view.size() >= 5 && view.substr(view.size() - 5) == ".lock");
}

}  // namespace

int user_exists(const char* name) {
  if (!could_be_user(name)) return 0;
  struct stat st{};
  if (stat(userfile_path(name).c_str(), &st) != 0) return 0;
  return S_ISREG(st.st_mode) ? 1 : 0;
}

namespace {

// Gives this process a spare before its first write (SpareUserfiles).
void make_spare_ahead();

// The userfile this process wrote last stays open: the spare its text went
// into, opened for writing as root. While the name still leads to that
// file, a read of the user takes the text from the descriptor; the user's
// next write exchanges the file out and keeps the descriptor as the spare's,
// ready for the text after that. Sessions read and write their own userfile
// over and over, and every open and close is a system call.
struct WrittenUserfile {
  std::string path;
  core::UniqueFd fd;
  dev_t device = 0;
  ino_t inode = 0;
  pid_t owner = 0;  // a forked child's copy is not its own
};

WrittenUserfile& written_userfile() {
  static WrittenUserfile written;
  return written;
}

// What the read under a user's lock saw of the userfile through the kept
// descriptor, for the one write that follows under the same lock: the
// status (owner, mode and size carry over) of the very file that
// descriptor holds.
struct SeenUserfile {
  std::string path;
  struct stat status {};
  bool valid = false;
};

SeenUserfile& seen_userfile() {
  static SeenUserfile seen;
  return seen;
}

// The text of the userfile at `path` from the kept descriptor, when the
// name still leads to the file it holds; false otherwise.
bool read_written_userfile(const std::string& path, std::string& text, SeenUserfile* seen) {
  const WrittenUserfile& written = written_userfile();
  if (!written.fd || written.owner != core::own_pid() || written.path != path) return false;
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0 || status.st_dev != written.device || status.st_ino != written.inode)
    return false;
  if (!core::pread_regular_file(written.fd.get(), text)) return false;
  if (seen != nullptr) *seen = SeenUserfile{path, status, true};
  return true;
}

// read_userfile; with `quiet_if_missing` a userfile that does not exist
// fails without an error-log line. `seen`: see SeenUserfile.
int read_userfile_text(const char* name, bool quiet_if_missing, SeenUserfile* seen = nullptr) {
  core::UserRecord& work = work_user();
  work = core::UserRecord{};
  if (!name) return 1;
  core::copy_field(work.name, name);
  // A name that cannot be a userfile would otherwise reach outside the
  // users directory, or be cut and written back under another name.
  if (!valid_user_name(name)) {
    core::error_log("Err: Userfile for %s could not be opened.", name);
    return 1;
  }
  const std::string path = userfile_path(name);
  std::string text;
  if (!read_written_userfile(path, text, seen)) {
    core::UniqueFd fd = core::open_file(path.c_str(), O_RDONLY);
    if (!fd) {
      if (errno != ENOENT || !quiet_if_missing) core::error_log("Err: Userfile for %s could not be opened.", name);
      return 1;
    }
    // Userfiles are regular files (every writer makes them so).
    if (!core::read_regular_file(fd.get(), text)) return 1;
  }

  parse_userfile(text, name, userfile_section_count(), core::now(), work, &pending_home_dir());

  core::Session& s = core::session();
  if (std::strcmp(work.name, s.user.name) == 0 && !core::has_flag(work.flags, core::flag::kAnonymous)) s.user = work;
  return 0;
}

}  // namespace

int read_userfile(const char* name) { return read_userfile_text(name, false); }

int load_user(const char* name) {
  if (user_cache_enabled()) return user_exists(name) ? load_user_cached(name) : 1;
  if (!could_be_user(name)) return 1;
  (void)wait_for_user_lock(name);
  // A user who is not there fails the read, quietly.
  return read_userfile_text(name, true);
}

int lock_and_load_user(const char* name) {
  if (user_cache_enabled()) {
    if (!user_exists(name)) return 1;
    return load_user_cached(name);
  }
  if (!could_be_user(name)) return 1;
  make_spare_ahead();
  if (!take_user_lock(name)) return 1;
  // A user who does not exist, or was removed while this process waited
  // for the lock, fails the read: the userfile is not looked for first, as
  // an account that takes its lock exists far more often than not.
  seen_userfile() = SeenUserfile{};
  if (read_userfile_text(name, true, &seen_userfile()) != 0) {
    unlock_user(name);
    return 1;
  }
  return 0;
}

void unlock_user(const char* name) {
  seen_userfile().valid = false;
  if (!name || user_cache_enabled()) return;
  release_user_lock(name);
}

namespace {

// Owner, group and mode the rewritten file gets; 1 when the target is
// unusable.
struct KeptAttributes {
  uid_t owner = 0;
  gid_t group = 0;
  mode_t mode = 0644;
  mode_t old_mode = 0;  // as the file has it now
  off_t old_size = 0;
  dev_t device = 0;
  ino_t inode = 0;
  bool held_by_written = false;  // the file the WrittenUserfile descriptor holds
};

bool keep_attributes(const std::string& path, KeptAttributes& kept) {
  SeenUserfile& seen = seen_userfile();
  kept.held_by_written = seen.valid && seen.path == path;
  seen.valid = false;  // good for one write
  struct stat st{};
  if (kept.held_by_written)
    st = seen.status;
  else if (lstat(path.c_str(), &st) != 0)
    return true;  // a new file
  if (!S_ISREG(st.st_mode)) {
    core::error_log("Error: userfile %s is not a regular file", path);
    return false;
  }
  kept.owner = st.st_uid;
  kept.group = st.st_gid;
  kept.old_mode = st.st_mode & 07777;
  kept.old_size = st.st_size;
  kept.device = st.st_dev;
  kept.inode = st.st_ino;
  kept.mode = st.st_mode & 07777 & ~S_ISVTX;  // the sticky bit marks a replaced text
  if ((kept.mode & 0644) != 0644) {
    core::error_log("Permissions on userfile %s were %o instead of 644 or better",
                    path, static_cast<unsigned>(st.st_mode & 0777));
    kept.mode = 0644;
  }
  return true;
}

}  // namespace

namespace {

// A file's owner and group.
struct Ownership {
  uid_t owner = 0;
  gid_t group = 0;
  bool operator==(const Ownership&) const = default;
};

// What a spare holds: an old text, as it was when exchanged out.
struct OldText {
  Ownership ownership;
  mode_t mode = 0;
  off_t size = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

OldText old_text_of(const KeptAttributes& kept) {
  return {{kept.owner, kept.group}, kept.old_mode, kept.old_size, kept.device, kept.inode};
}

// A record's new file, written in full beside its userfile and waiting for
// the rename that makes it the userfile.
struct StagedUserfile {
  std::string temporary;
  std::string path;
  mode_t mode = 0644;
  Ownership owner;       // the userfile's
  OldText replaced;      // the userfile being replaced
  bool skipped = false;  // the anonymous rule: nothing to write
  core::UniqueFd fd;     // open from open_stage to fill_stage
  std::optional<Ownership> reused;  // a spare's ownership, when one was taken
};

// An anonymous session leaves its own record as it found it; the records
// of others it changes (an uploader's refund when it deletes a file) and an
// administrator's changes to an anonymous account are written.
bool left_unwritten(const core::UserRecord& record) {
  const core::Session& s = core::session();
  return s.logged_in && std::strcmp(record.name, s.user.name) == 0 &&
         core::has_flag(record.flags, core::flag::kAnonymous);
}

// Old texts this process exchanged out, kept as its spare userfiles (see
// process_files.h) to be written over by its next ones. Two, since a GIVE
// writes two userfiles at once. A forked child starts without any.
class SpareUserfiles {
 public:
  struct Spare {
    std::string path;
    bool held = false;
    OldText text;
    core::UniqueFd fd;  // open on the held spare, when this process has one
  };

  // Moves a spare to `staged_path` and gives its ownership; nothing when
  // there is none. The caller holds root. The spare is marked as being
  // written (0600) under its own name first: under the staged name, an old
  // text with a userfile's mode would count as a whole new file if this
  // process were killed there.
  std::optional<Ownership> take(const std::string& staged_path) {
    refresh();
    for (Spare& spare : spares_) {
      if (!spare.held) continue;
      spare.held = false;
      spare.fd.reset();
      if (chmod(spare.path.c_str(), 0600) == 0 && rename(spare.path.c_str(), staged_path.c_str()) == 0)
        return spare.text.ownership;
    }
    return std::nullopt;
  }

  // Keeps the old text at `staged_path` as a spare, or removes it when
  // both are held. The caller holds root.
  void keep(const std::string& staged_path, const OldText& text) {
    refresh();
    for (Spare& spare : spares_) {
      if (spare.held) continue;
      spare.fd.reset();
      spare.held = rename(staged_path.c_str(), spare.path.c_str()) == 0;
      spare.text = text;
      if (spare.held) return;
    }
    (void)unlink(staged_path.c_str());
  }

  // A spare to be written over where it lies: a held one if there is one,
  // else the first, made ahead (an open empty file) or a free name.
  Spare& in_place() {
    refresh();
    for (Spare& spare : spares_)
      if (spare.held) return spare;
    return spares_[0];
  }

  // Makes the first spare, empty, when this process has none yet: making a
  // file in a users directory where many have just been removed takes long,
  // and under a user's lock other sessions of the account would wait for it.
  void make_ahead() {
    refresh();
    for (const Spare& spare : spares_)
      if (spare.held || spare.fd) return;
    Spare& first = spares_[0];
    core::PrivilegeBracket root;
    core::UniqueFd fd = core::open_file(first.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    struct stat made {};
    if (!fd || fstat(fd.get(), &made) != 0) return;  // the write tries again and says why
    first.fd = std::move(fd);
    first.text = {{}, 0600, 0, made.st_dev, made.st_ino};
  }

 private:
  void refresh() {
    const pid_t me = core::own_pid();
    std::string first = process_file_path(kSpareUserfileRoles[0]);
    if (owner_ == me && first == spares_[0].path) return;
    owner_ = me;
    spares_[0] = {std::move(first), false, {}, {}};
    spares_[1] = {process_file_path(kSpareUserfileRoles[1]), false, {}, {}};
  }

  pid_t owner_ = 0;
  Spare spares_[std::size(kSpareUserfileRoles)];
};

SpareUserfiles& spare_userfiles() {
  static SpareUserfiles spares;
  return spares;
}

void make_spare_ahead() { spare_userfiles().make_ahead(); }

// Opens "%s.%u" (userfile path, process id) for a new text, 0600 until it
// is written in full: a spare moved there, or a new file. `reused` gives the
// spare's ownership, or nothing for a new file.
core::UniqueFd open_staged(const std::string& temporary, std::optional<Ownership>& reused) {
  reused = spare_userfiles().take(temporary);
  if (reused) {
    core::UniqueFd fd = core::open_file(temporary.c_str(), O_WRONLY | O_NOFOLLOW);
    if (fd) return fd;
    reused.reset();
    (void)unlink(temporary.c_str());
  }
  return core::open_file(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
}

// The first step of staging a record: its staged file made and open, still
// 0600. The caller holds root. False after logging why not.
bool open_stage(const core::UserRecord& record, StagedUserfile& staged) {
  if (left_unwritten(record)) {
    staged.skipped = true;
    return true;
  }
  if (!valid_user_name(record.name)) {
    core::error_log("Unable to create userfile %s", record.name);
    return false;
  }
  staged.path = userfile_path(record.name);
  KeptAttributes kept;
  if (!keep_attributes(staged.path, kept)) return false;
  staged.mode = kept.mode;
  staged.owner = {kept.owner, kept.group};
  staged.replaced = old_text_of(kept);
  staged.temporary = staged.path + "." + std::to_string(static_cast<unsigned>(core::own_pid()));
  staged.fd = open_staged(staged.temporary, staged.reused);
  if (!staged.fd) {
    core::error_log("Unable to create userfile %s", staged.temporary);
    return false;
  }
  return true;
}

// The second step: the record's text written into the staged file, with
// the userfile's owner and mode. The caller holds root. False after logging
// why not; the caller discards the staged file then.
bool fill_stage(const core::UserRecord& record, StagedUserfile& staged) {
  if (staged.skipped) return true;
  const std::string text = format_userfile(record, userfile_section_count());
  const int fd = staged.fd.get();
  // A spare is cut to the new text's length after it, never to nothing
  // first: ext4 writes out at its close a file that was cut to nothing.
  const bool written =
      core::write_all(fd, text) && (!staged.reused || ftruncate(fd, static_cast<off_t>(text.size())) == 0);
  // Owner and mode go on before the rename: a reader that opens the name
  // never meets the temporary file's 0600. The mode goes on after the text,
  // so a file left by a killed writer tells whether it was written in full.
  // A spare is mostly an old text of the same owner's: nothing to change.
  if (staged.reused != staged.replaced.ownership && fchown(fd, staged.owner.owner, staged.owner.group) != 0)
    core::error_log("Chown on userfile %s failed", staged.path);
  if (written && fchmod(fd, staged.mode) != 0) core::error_log("Chmod on userfile %s failed", staged.path);
  if (!staged.fd.close() || !written) {
    // The old file is whole, but the change was not made: say so.
    core::error_log("Creation of userfile for %s failed.", staged.path);
    return false;
  }
  return true;
}

void discard_staged(const StagedUserfile& staged) {
  if (staged.skipped || staged.temporary.empty()) return;
  core::PrivilegeBracket privileged;
  if (unlink(staged.temporary.c_str()) != 0 && errno != ENOENT)
    core::error_log("Unable to remove temp userfile %s: %d", staged.temporary, errno);
}

// Puts the staged file in place; the caller holds root. The text being
// replaced is first marked with the sticky bit (no userfile keeps it): it
// is exchanged out under the staged name, and a writer killed before
// moving it to the spares must leave it as an old text, never to be
// completed.
bool commit_staged(const StagedUserfile& staged) {
  if (staged.skipped) return true;
  core::ignore_failure(chmod(staged.path.c_str(), staged.mode | S_ISVTX));  // fails for a new user
  bool old_kept = false;
  if (core::replace_file_keeping_old(staged.temporary, staged.path, old_kept)) {
    // Its mode now carries the mark: left unknown, so the next write sets it.
    OldText exchanged_out = staged.replaced;
    exchanged_out.mode = 0;
    if (old_kept) spare_userfiles().keep(staged.temporary, exchanged_out);
    return true;
  }
  core::error_log("Couldn't update userfile for %s, rename error is %d", staged.path, errno);
  core::ignore_failure(chmod(staged.path.c_str(), staged.mode));
  (void)unlink(staged.temporary.c_str());
  return false;
}

// One record's new text, written straight into a spare and exchanged with
// its userfile; the caller holds root. The spare's name is this process's
// own, so a writer killed before the exchange leaves the userfile as it was
// and nothing to settle (a GIVE, which must change two userfiles or
// neither, goes through staged files instead), and after the exchange the
// spare holds the old text. Only what differs from the old text the spare
// holds is changed: its length, owner and mode. The descriptor written
// through stays open as the WrittenUserfile's. False after logging why.
bool write_through_spare(const core::UserRecord& record) {
  if (!valid_user_name(record.name)) {
    core::error_log("Unable to create userfile %s", record.name);
    return false;
  }
  const std::string text = format_userfile(record, userfile_section_count());
  const std::string path = userfile_path(record.name);
  KeptAttributes kept;
  if (!keep_attributes(path, kept)) return false;

  SpareUserfiles::Spare& spare = spare_userfiles().in_place();
  core::UniqueFd fd;
  if (spare.fd)
    fd = std::move(spare.fd);  // held, or made ahead
  else if (spare.held)
    fd = core::open_file(spare.path.c_str(), O_RDWR | O_NOFOLLOW);
  if (!fd) {
    spare.held = false;
    spare.text = {{}, 0600, 0, 0, 0};
    fd = core::open_file(spare.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    struct stat made {};
    if (!fd || fstat(fd.get(), &made) != 0) {
      core::error_log("Unable to create userfile %s", spare.path);
      return false;
    }
    spare.text.device = made.st_dev;
    spare.text.inode = made.st_ino;
  }
  spare.held = false;  // from here on it holds no old text
  const OldText written_over = spare.text;
  // Cut after the text, never to nothing first: ext4 writes out at its
  // close a file that was cut to nothing.
  bool written = core::pwrite_all(fd.get(), text, 0);
  if (written && static_cast<off_t>(text.size()) < spare.text.size)
    written = ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0;
  const Ownership owner{kept.owner, kept.group};
  if (written && spare.text.ownership != owner && fchown(fd.get(), kept.owner, kept.group) != 0)
    core::error_log("Chown on userfile %s failed", path);
  if (written && spare.text.mode != kept.mode && fchmod(fd.get(), kept.mode) != 0)
    core::error_log("Chmod on userfile %s failed", path);
  bool old_kept = false;
  if (written && core::replace_file_keeping_old(spare.path, path, old_kept)) {
    spare.held = old_kept;
    spare.text = old_text_of(kept);
    WrittenUserfile& last = written_userfile();
    // The old text, exchanged out under the spare's name, is the file the
    // kept descriptor held when the read before this write went through it.
    if (old_kept && kept.held_by_written && last.owner == core::own_pid()) spare.fd = std::move(last.fd);
    last = WrittenUserfile{path, std::move(fd), written_over.device, written_over.inode, core::own_pid()};
    return true;
  }
  fd.reset();
  (void)unlink(spare.path.c_str());
  // The old file is whole, but the change was not made: say so.
  core::error_log("Creation of userfile for %s failed.", path);
  return false;
}

// After a successful write the session's copy of its own record follows.
void follow_own_record(const core::UserRecord& record, const StagedUserfile& staged) {
  core::Session& s = core::session();
  if (!staged.skipped && std::strcmp(record.name, s.user.name) == 0) s.user = record;
}

}  // namespace

int write_user(const core::UserRecord& record) {
  // One bracket for the new text, its exchange and the lock's release.
  core::PrivilegeBracket privileged;
  StagedUserfile staged;
  staged.skipped = left_unwritten(record);
  const bool done = staged.skipped || write_through_spare(record);
  if (done) follow_own_record(record, staged);
  unlock_user(record.name);
  return done ? 0 : 1;
}

int write_users_together(const core::UserRecord& first, const core::UserRecord& second) {
  // One bracket for both new files, their exchanges and the locks' release.
  core::PrivilegeBracket privileged;
  StagedUserfile staged_first;
  StagedUserfile staged_second;
  // Both staged files exist, 0600, before either text goes in: a process
  // killed before both are whole leaves one unfinished, and whoever forces
  // its locks completes neither change.
  bool done = open_stage(first, staged_first) && open_stage(second, staged_second) &&
              fill_stage(first, staged_first) && fill_stage(second, staged_second);
  if (!done) {
    discard_staged(staged_first);
    discard_staged(staged_second);
  } else {
    // Both new files are whole before either rename: a process killed
    // between the renames leaves the other one for whoever forces its
    // stale lock to complete (see the user locks).
    const bool first_done = commit_staged(staged_first);
    done = commit_staged(staged_second) && first_done;
  }
  if (done) {
    follow_own_record(first, staged_first);
    follow_own_record(second, staged_second);
  }
  unlock_user(first.name);
  unlock_user(second.name);
  return done ? 0 : 1;
}

}  // namespace userdb
