// Database files kept open between a session's changes.
#include "core/kept_file.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "core/file_io.h"
#include "core/own_pid.h"
#include "core/privilege.h"

namespace core {

KeptFile::Change::Change(KeptFile& kept, const std::string& path, bool create) {
  if (kept.lock_kept(path, status_) || kept.open_and_lock(path, create, status_)) fd_ = kept.fd_.get();
}

KeptFile::Change::~Change() {
  if (fd_ >= 0) ignore_failure(::flock(fd_, LOCK_UN));
}

bool KeptFile::lock_kept(const std::string& path, struct stat& status) {
  if (!fd_ || owner_ != own_pid() || !lock_file(fd_.get(), LOCK_EX)) return false;
  if (::stat(path.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_) return true;
  ignore_failure(::flock(fd_.get(), LOCK_UN));
  return false;
}

bool KeptFile::open_and_lock(const std::string& path, bool create, struct stat& status) {
  fd_.reset();
  PrivilegeBracket root;
  // Each pass that finds the file replaced starts over; the bound only
  // guards against a file renamed over without end.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    UniqueFd fd = open_file(path.c_str(), O_RDWR);
    if (!fd && errno == ENOENT && create) {
      fd = open_file(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
      if (!fd && errno == EEXIST) continue;  // another session made it first
      if (fd) {
        // The process umask must not narrow it, nor the caller own it.
        ignore_failure(::fchmod(fd.get(), 0644));
        ignore_failure(::fchown(fd.get(), 0, 0));
      }
    }
    struct stat held {};
    if (!fd || !lock_file(fd.get(), LOCK_EX) || ::fstat(fd.get(), &held) != 0) return false;
    if (::stat(path.c_str(), &status) != 0) {
      if (errno == ENOENT) continue;
      return false;
    }
    if (!same_file(held, status)) continue;
    fd_ = std::move(fd);
    owner_ = own_pid();
    device_ = held.st_dev;
    inode_ = held.st_ino;
    return true;
  }
  return false;
}

}  // namespace core
