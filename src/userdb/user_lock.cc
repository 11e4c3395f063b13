// Per-user lock files. The lock is created exclusively, so two processes
// that find the user unlocked at the same moment cannot both take it: the
// loser goes back to waiting.
#include "userdb/user_lock.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "core/file_io.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

// A lock held by the same owner for four seconds is stale. It is looked at
// every 10 ms, so a waiter takes over a released lock at once instead of
// sleeping out a long interval (many sessions of one account log in and
// out at the same moment).
constexpr long kLookIntervalNs = 10L * 1000 * 1000;
constexpr int kStaleLooks = 400;
constexpr int kCreateTries = 5;
// Losing the race for a freshly released lock is normal under contention;
// this only bounds a pathological loop.
constexpr int kLostRaces = 1000;

std::string lock_path_of(const char* name) { return userfile_path(name) + ".lock"; }

std::string own_pid_text() { return std::to_string(static_cast<long>(getpid())); }

void sleep_ns(long ns) {
  struct timespec request{ns / 1000000000L, ns % 1000000000L};
  while (nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

}  // namespace

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

void wait_for_user_lock(const char* name) {
  const std::string path = lock_path_of(name);
  const std::string me = own_pid_text();
  std::string owner;
  std::string watched;
  int looks = 0;
  for (;;) {
    if (!read_lock_owner(path, owner) || owner == me) return;
    // A lock passed on to another owner is not stale: start counting again.
    if (looks == 0 || owner != watched) {
      watched = owner;
      looks = 0;
    }
    if (++looks > kStaleLooks) break;
    sleep_ns(kLookIntervalNs);
  }
  core::PrivilegeBracket privileged;
  if (read_lock_owner(path, owner) && owner == watched) {
    (void)unlink(path.c_str());
    core::error_log(" --> WARNING: Forcing unlock for %s! <--- ", name);
  }
}

bool take_user_lock(const char* name) {
  const std::string path = lock_path_of(name);
  const std::string me = own_pid_text();
  int failures = 0;
  int lost_races = 0;
  while (failures < kCreateTries && lost_races < kLostRaces) {
    wait_for_user_lock(name);
    std::string owner;
    if (read_lock_owner(path, owner) && owner == me) return true;
    int error = 0;
    {
      core::PrivilegeBracket privileged;
      core::UniqueFd fd = core::open_file(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (fd) {
        if (core::write_all(fd.get(), me) && fd.close()) return true;
        error = EIO;
        fd.reset();
        (void)unlink(path.c_str());
      } else {
        error = errno;
      }
    }
    if (error == EEXIST) {
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
  std::string owner;
  if (!read_lock_owner(path, owner) || owner != own_pid_text()) return;
  core::PrivilegeBracket privileged;
  (void)unlink(path.c_str());
}

}  // namespace userdb
