// A database file a session changes again and again (the dupe file, the
// directory log): opened once, as root, and kept open, so that a change
// costs no open, close or privilege switch. Each change locks the file
// exclusively and checks that its name still leads to it: a tool that wrote
// a new file and renamed it over the old one (as SITE UPDATE does) gets the
// new one opened instead.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "core/unique_fd.h"

namespace core {

class KeptFile {
 public:
  // The file locked for one change, from construction to destruction.
  class Change {
   public:
    // `create`: a missing file is made, mode 0644 and root's; otherwise a
    // missing file is no file to change.
    Change(KeptFile& kept, const std::string& path, bool create);
    ~Change();
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The file's status as locked (its size tells the whole records).
    const struct stat& status() const { return status_; }

   private:
    int fd_ = -1;
    struct stat status_ {};
  };

 private:
  // Locks the descriptor kept from before; false (unlocked) when there is
  // none or the name leads elsewhere now.
  bool lock_kept(const std::string& path, struct stat& status);
  // Opens `path` afresh, as root, and locks it.
  bool open_and_lock(const std::string& path, bool create, struct stat& status);

  UniqueFd fd_;
  pid_t owner_ = 0;  // a forked child's copy is not its own
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace core
