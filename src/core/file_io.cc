// Whole-file reads and writes for the user database.
#include "core/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace core {
namespace {

// Larger files (none the daemon reads whole should be) go by the loop.
constexpr off_t kOneCallReadLimit = off_t{64} << 20;

}  // namespace

UniqueFd open_file(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return UniqueFd(fd);
}

bool read_all(int fd, std::string& out) {
  out.clear();
  struct stat st{};
  // A regular file is read in one call of its size and a byte more; a read
  // that comes back short has met the end. A file that grew meanwhile is
  // read on in the loop below.
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size < kOneCallReadLimit) {
    out.resize(static_cast<std::size_t>(st.st_size) + 1);
    ssize_t n;
    do {
      n = ::read(fd, out.data(), out.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    const bool at_end = static_cast<std::size_t>(n) < out.size();
    out.resize(static_cast<std::size_t>(n));
    if (at_end) return true;
  }
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool read_regular_file(int fd, std::string& out) {
  char first[4096];
  ssize_t n;
  do {
    n = ::read(fd, first, sizeof first);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  std::string rest;
  if (static_cast<std::size_t>(n) == sizeof first && !read_all(fd, rest)) return false;
  out.assign(first, static_cast<std::size_t>(n));
  out += rest;
  return true;
}

bool pread_regular_file(int fd, std::string& out) {
  out.clear();
  char block[4096];
  for (;;) {
    const ssize_t n = ::pread(fd, block, sizeof block, static_cast<off_t>(out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    out.append(block, static_cast<std::size_t>(n));
    // A read that comes back short has met the end of a regular file.
    if (static_cast<std::size_t>(n) < sizeof block) return true;
  }
}

bool read_file(const char* path, std::string& out) {
  UniqueFd fd = open_file(path, O_RDONLY);
  return fd && read_all(fd.get(), out);
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool pwrite_all(int fd, std::string_view data, off_t offset) {
  while (!data.empty()) {
    const ssize_t n = ::pwrite(fd, data.data(), data.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

bool replace_file_keeping_old(const std::string& staged, const std::string& path, bool& old_kept) {
  old_kept = ::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0;
  // No `path` yet, or a file system without exchange.
  return old_kept || ::rename(staged.c_str(), path.c_str()) == 0;
}

bool lock_file(int fd, int operation) {
  int result;
  do {
    result = ::flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

std::size_t whole_records(const struct stat& status, std::size_t record_size) {
  return status.st_size > 0 ? static_cast<std::size_t>(status.st_size) / record_size : 0;
}

std::size_t whole_records(int fd, std::size_t record_size) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? whole_records(st, record_size) : 0;
}

}  // namespace core
