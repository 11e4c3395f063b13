// Small file helpers of the user database: an owning descriptor, whole-file
// reads and whole-buffer writes that retry on EINTR.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace userdb {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now; false when close reported an error.
  bool close();
  void reset() { (void)close(); }

 private:
  int fd_ = -1;
};

// open(2) with O_CLOEXEC, retried on EINTR.
UniqueFd open_file(const char* path, int flags, mode_t mode = 0);

// Reads an open file whole; false on a read error.
bool read_all(int fd, std::string& out);
// Reads a file whole; false when it cannot be opened or read.
bool read_file(const char* path, std::string& out);
// Writes the whole buffer; false on any error or short write.
bool write_all(int fd, std::string_view data);

}  // namespace userdb
