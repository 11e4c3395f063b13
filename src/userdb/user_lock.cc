// Per-user lock files. The lock is made exclusively, so two processes
// that find the user unlocked at the same moment cannot both take it: the
// loser goes back to waiting. Waiters sleep until the kernel reports a
// removal in the users directory, never longer than the stale limit.
//
// A process makes its lock files as links to its lock seed (see
// process_files.h), which holds its process id just as a lock file does;
// where links cannot be made the lock file is created as a file of its own.
#include "userdb/user_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_io.h"
#include "core/logs.h"
#include "core/own_pid.h"
#include "core/privilege.h"
#include "userdb/process_files.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

// A lock held by the same owner for four seconds is stale once that owner
// is gone. A live owner is only slow (a busy machine can keep a process
// off the processor for seconds): forcing its lock would let two writers
// rewrite the userfile from the same old state, and one change would be
// lost. Only a live owner that holds on for a minute is overruled.
constexpr long kStaleNs = 4L * 1000 * 1000 * 1000;
constexpr long kLiveOwnerStaleNs = 60L * 1000 * 1000 * 1000;
constexpr long kLiveOwnerLookNs = 200L * 1000 * 1000;
// Without a kernel notice (no inotify descriptor left) the lock is looked
// at this often instead.
constexpr int kLookIntervalMs = 10;
constexpr int kCreateTries = 5;
// Losing the race for a freshly released lock is normal under contention;
// this only bounds a pathological loop.
constexpr int kLostRaces = 1000;

std::string lock_path_of(const char* name) { return userfile_path(name) + ".lock"; }

std::string own_pid_text() { return std::to_string(static_cast<long>(core::own_pid())); }

// This process's seed, made on its first lock. A forked child has a seed
// of its own, never its parent's.
class LockSeed {
 public:
  // True when the seed exists (made now if need be); the caller holds root.
  bool ready() {
    const pid_t me = core::own_pid();
    const std::string path = process_file_path(kLockSeedRole);
    if (owner_ == me && path == path_) return usable_;
    owner_ = me;
    path_ = path;
    // A seed of a dead process that had our process id goes first.
    (void)unlink(path_.c_str());
    core::UniqueFd fd = core::open_file(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    struct stat status{};
    usable_ = fd && core::write_all(fd.get(), own_pid_text()) && fstat(fd.get(), &status) == 0 && fd.close();
    if (!usable_) {
      (void)unlink(path_.c_str());
      return false;
    }
    device_ = status.st_dev;
    inode_ = status.st_ino;
    return true;
  }

  // The link failed with `error`. A seed removed under us is made again
  // for the next lock; where links cannot be made (another file system,
  // no hard links) locks are created as files of their own from now on.
  void give_up(int error) {
    (void)unlink(path_.c_str());
    if (error == ENOENT)
      owner_ = 0;
    else
      usable_ = false;
  }

  // True when the lock file at `lock_path` is a link to this seed.
  bool holds(const std::string& lock_path) const {
    if (owner_ != core::own_pid() || !usable_) return false;
    struct stat status{};
    return lstat(lock_path.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_;
  }

  const std::string& path() const { return path_; }

 private:
  pid_t owner_ = 0;
  bool usable_ = false;
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

LockSeed& lock_seed() {
  static LockSeed seed;
  return seed;
}

// Makes the lock file at `path` holding our process id: 0, or the error
// number (EEXIST: the lock is held). The caller holds root.
int make_lock_file(const std::string& path, const std::string& me) {
  LockSeed& seed = lock_seed();
  if (seed.ready()) {
    if (link(seed.path().c_str(), path.c_str()) == 0) return 0;
    if (errno == EEXIST) return EEXIST;
    seed.give_up(errno);
  }
  core::UniqueFd fd = core::open_file(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (!fd) return errno;
  if (core::write_all(fd.get(), me) && fd.close()) return 0;
  fd.reset();
  (void)unlink(path.c_str());
  return EIO;
}

void sleep_ns(long ns) {
  struct timespec request{ns / 1000000000L, ns % 1000000000L};
  while (nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

long monotonic_ns() {
  struct timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000L + now.tv_nsec;
}

// Wakes a waiter as soon as a file of the users directory is removed or
// renamed away, so a released lock is taken over at once: many sessions of
// one account log in and out at the same moment, and a waiter that slept
// through the release would keep a login waiting for nothing.
//
// One inotify instance serves every wait of a process and is never closed:
// closing one makes the kernel wait for a grace period, milliseconds and
// tens of them on a busy machine, which a waiter paid after every wake
// while the lock it was waiting for lay free. The watch is on only while
// waiting, so the rest of the session queues no events.
class LockReleaseWatch {
 public:
  explicit LockReleaseWatch(const std::string& lock_path) : fd_(notice_descriptor()) {
    const std::size_t slash = lock_path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : lock_path.substr(0, slash);
    if (fd_ < 0) return;
    drain();  // notices left from an earlier wait
    watch_ = inotify_add_watch(fd_, directory.c_str(), IN_DELETE | IN_MOVED_FROM);
  }
  ~LockReleaseWatch() {
    if (watch_ >= 0) (void)inotify_rm_watch(fd_, watch_);
  }
  LockReleaseWatch(const LockReleaseWatch&) = delete;
  LockReleaseWatch& operator=(const LockReleaseWatch&) = delete;

  // Waits up to `timeout_ms` for a removal in the directory (any file:
  // the caller looks at its lock again either way).
  void wait(int timeout_ms) {
    if (watch_ < 0) {
      sleep_ns(std::min(timeout_ms, kLookIntervalMs) * 1000L * 1000);
      return;
    }
    struct pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, timeout_ms) > 0) drain();
  }

 private:
  // This process's instance, made on its first wait (-1 when none can be
  // had: instances are limited per user, 128 by default, and a process
  // past the limit looks at the lock every 10 ms, asking again at its next
  // wait). A forked child makes its own: reading the parent's would take
  // the parent's notices.
  static int notice_descriptor() {
    static pid_t owner = 0;
    static int fd = -1;
    if (owner != core::own_pid() || fd < 0) {
      owner = core::own_pid();
      fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    }
    return fd;
  }

  void drain() {
    alignas(struct inotify_event) char events[4096];
    while (read(fd_, events, sizeof events) > 0) {
    }
  }

  int fd_;
  int watch_ = -1;
};

// The process id a lock file holds, or 0 when it holds none.
pid_t owner_pid(const std::string& owner) {
  if (owner.empty() || owner.size() > 9 || owner.find_first_not_of("0123456789") != std::string::npos) return 0;
  return static_cast<pid_t>(std::stol(owner));
}

bool owner_alive(const std::string& owner) {
  const pid_t pid = owner_pid(owner);
  return pid > 0 && (kill(pid, 0) == 0 || errno != ESRCH);
}

// A writer killed between making its new userfiles and putting them in
// place leaves them as "%s.%u" (userfile path, its process id); nobody else
// would ever remove them. A file that has its final mode was written in
// full (the mode goes on after the text); one with the sticky bit is an
// old text already replaced (see the commit in userfile.cc) and is dropped.
// When every new file the dead writer left is whole, its change is
// completed; otherwise none of it is kept, so the two userfiles of a GIVE
// change together or not at all. The caller holds root.
void settle_dead_writers_files(const std::string& owner) {
  if (owner_pid(owner) <= 0 || owner_alive(owner)) return;
  const std::string directory = userfile_path("");
  const std::string suffix = "." + owner;
  struct LeftFile {
    std::string path;
    bool replaced;  // an old text, exchanged out
  };
  std::vector<LeftFile> left;
  bool all_whole = true;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.c_str()), closedir);
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix) continue;
    struct stat status{};
    const std::string path = directory + std::string(name);
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    left.push_back({path, (status.st_mode & S_ISVTX) != 0});
    if ((status.st_mode & 0044) == 0) all_whole = false;  // still the 0600 it was made with
  }
  for (const LeftFile& file : left) {
    const std::string& path = file.path;
    const std::string userfile = path.substr(0, path.size() - suffix.size());
    if (all_whole && !file.replaced && rename(path.c_str(), userfile.c_str()) == 0) {
      core::error_log("Completed the userfile %s that process %s left unfinished", userfile, owner);
    } else {
      (void)unlink(path.c_str());
    }
  }
}

// The lock file's owner text (its first line, at most 50 characters), or
// false when there is no lock file.
bool read_lock_owner(const std::string& lock_path, std::string& owner) {
  core::UniqueFd fd = core::open_file(lock_path.c_str(), O_RDONLY);
  if (!fd) return errno != ENOENT;  // unreadable but present: treat as held
  char buffer[51];
  ssize_t n;
  do {
    n = ::read(fd.get(), buffer, sizeof buffer - 1);
  } while (n < 0 && errno == EINTR);
  owner.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  std::size_t end = owner.find_first_of("\n\r");
  if (end != std::string::npos) owner.resize(end);
  return true;
}

}  // namespace

bool wait_for_user_lock(const char* name) {
  const std::string path = lock_path_of(name);
  const std::string me = own_pid_text();
  std::string owner;
  if (!read_lock_owner(path, owner) || owner == me) return true;

  // The watch goes on before the lock is looked at again, so a release
  // between the look and the wait still wakes the wait.
  LockReleaseWatch watch(path);
  std::string watched;
  long watched_since = 0;
  for (;;) {
    if (!read_lock_owner(path, owner) || owner == me) return true;
    const long now = monotonic_ns();
    // A lock passed on to another owner is not stale: start counting again.
    if (watched_since == 0 || owner != watched) {
      watched = owner;
      watched_since = now;
    }
    const bool alive = owner_alive(owner);
    const long left_ns = watched_since + (alive ? kLiveOwnerStaleNs : kStaleNs) - now;
    if (left_ns <= 0) break;
    // A live owner may die without a word: look at it again now and then.
    const long wait_ns = alive ? std::min(left_ns, kLiveOwnerLookNs) : left_ns;
    watch.wait(static_cast<int>(wait_ns / (1000 * 1000)) + 1);
  }
  core::PrivilegeBracket privileged;
  if (read_lock_owner(path, owner) && owner == watched) {
    core::error_log(" --> WARNING: Forcing unlock for %s! <--- ", name);
    // Before the lock goes: the next owner must read the settled file.
    settle_dead_writers_files(owner);
    remove_dead_processes_files();
    // A lock that cannot be removed (a directory in its place, a
    // read-only users directory) would make every taker wait forever.
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return false;
  }
  return true;
}

bool take_user_lock(const char* name) {
  const std::string path = lock_path_of(name);
  const std::string me = own_pid_text();
  int failures = 0;
  int lost_races = 0;
  // The lock is tried first and looked at only when it is held: an
  // account's lock is free far more often than not.
  while (failures < kCreateTries && lost_races < kLostRaces) {
    int error = 0;
    {
      core::PrivilegeBracket privileged;
      error = make_lock_file(path, me);
    }
    if (error == 0) return true;
    if (error == EEXIST) {
      std::string owner;
      if (read_lock_owner(path, owner) && owner == me) return true;
      if (!wait_for_user_lock(name)) return false;
      ++lost_races;
      continue;
    }
    if (++failures < kCreateTries) sleep_ns(1000L * 1000 * 1000);
  }
  return false;
}

// Only our own lock is removed: when ours was forced open after a long
// stall, the file may by now be another process's lock.
void release_user_lock(const char* name) {
  const std::string path = lock_path_of(name);
  if (!lock_seed().holds(path)) {
    std::string owner;
    if (!read_lock_owner(path, owner) || owner != own_pid_text()) return;
  }
  core::PrivilegeBracket privileged;
  (void)unlink(path.c_str());
}

}  // namespace userdb
