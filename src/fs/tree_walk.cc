// The descriptor-bounded, link-refusing tree walk and the tree removal
// built on it.
#include "fs/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "core/file_io.h"
#include "core/unique_fd.h"

namespace fs {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC;

// All names of an open directory but "." and "..". The directory is read
// through a duplicate, since closedir closes the descriptor it was given.
int read_names(int dir_fd, std::vector<std::string>& names) {
  const int copy = ::fcntl(dir_fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return errno;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    const int error = errno;
    ::close(copy);
    return error;
  }
  ::rewinddir(dir);
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return error;
}

// A directory the walk is in: the names still to visit and what it needs
// to climb back out.
struct Frame {
  std::string name;  // in its parent
  struct stat status {};
  std::vector<std::string> names;
  std::size_t next = 0;
  std::size_t path_length = 0;
};

class Walker {
 public:
  Walker(const std::string& root, const WalkVisitor& visitor) : visitor_(visitor), path_(root) {
    while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
    relative_start_ = path_ == "/" ? 1 : path_.size() + 1;
  }

  WalkResult run() {
    if (!open_root()) return result_;
    while (!stack_.empty() && result_.outcome == WalkOutcome::complete) {
      Frame& top = stack_.back();
      if (top.next < top.names.size()) {
        const std::string name = std::move(top.names[top.next++]);
        visit_child(name);
      } else {
        leave_top();
      }
    }
    return result_;
  }

 private:
  void fail(int error, std::size_t depth) {
    result_.outcome = WalkOutcome::failed;
    result_.error = error;
    result_.failed_path = path_;
    result_.failed_depth = depth;
  }

  std::string_view relative() const {
    return path_.size() > relative_start_ ? std::string_view(path_).substr(relative_start_)
                                          : std::string_view();
  }

  WalkAction call(WalkEvent event, int parent_fd, std::string_view name, const struct stat& status,
                  int fd, std::size_t depth) {
    const WalkEntry entry{event, parent_fd, name, path_, relative(), status, fd, depth};
    const WalkAction action = visitor_(entry);
    if (action == WalkAction::stop) result_.outcome = WalkOutcome::stopped;
    return action;
  }

  // Reads the names of the directory just opened and makes it the one the
  // walk is in.
  bool push(std::string name, const struct stat& status, core::UniqueFd fd, std::size_t depth) {
    Frame frame;
    frame.name = std::move(name);
    frame.status = status;
    frame.path_length = path_.size();
    if (const int error = read_names(fd.get(), frame.names); error != 0) {
      fail(error, depth);
      return false;
    }
    stack_.push_back(std::move(frame));
    current_ = std::move(fd);
    return true;
  }

  bool open_root() {
    std::string parent = ".";
    if (path_ == "/") {
      root_name_ = "/";
      root_parent_fd_ = AT_FDCWD;
    } else {
      const std::size_t slash = path_.rfind('/');
      if (slash != std::string::npos) parent = slash == 0 ? "/" : path_.substr(0, slash);
      root_name_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
      root_parent_ = core::UniqueFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!root_parent_) {
        fail(errno, 0);
        return false;
      }
      root_parent_fd_ = root_parent_.get();
    }
    core::UniqueFd fd(::openat(root_parent_fd_, root_name_.c_str(), kDirectoryFlags));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0) {
      fail(errno, 0);
      return false;
    }
    const WalkAction action =
        call(WalkEvent::enter_directory, root_parent_fd_, root_name_, status, fd.get(), 0);
    if (action != WalkAction::proceed) return false;
    return push(root_name_, status, std::move(fd), 0);
  }

  void visit_child(const std::string& name) {
    const std::size_t depth = stack_.size();
    const std::size_t parent_length = stack_.back().path_length;
    if (path_.back() != '/') path_ += '/';
    path_ += name;

    struct stat status {};
    if (::fstatat(current_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) fail(errno, depth);
      path_.resize(parent_length);
      return;
    }
    core::UniqueFd child;
    if (S_ISDIR(status.st_mode)) {
      child = core::UniqueFd(::openat(current_.get(), name.c_str(), kDirectoryFlags));
      if (!child) {
        const int error = errno;
        if (error == ENOENT) {
          path_.resize(parent_length);
          return;
        }
        // Replaced by a link or a file since the lstat: met as what it is now.
        const bool no_longer_directory =
            (error == ELOOP || error == ENOTDIR) &&
            ::fstatat(current_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISDIR(status.st_mode);
        if (!no_longer_directory) {
          fail(error, depth);
          return;
        }
      } else if (::fstat(child.get(), &status) != 0) {
        fail(errno, depth);
        return;
      }
    }

    if (!child) {
      call(WalkEvent::non_directory, current_.get(), name, status, -1, depth);
      path_.resize(parent_length);
      return;
    }
    const WalkAction action =
        call(WalkEvent::enter_directory, current_.get(), name, status, child.get(), depth);
    if (action == WalkAction::proceed) {
      push(name, status, std::move(child), depth);
    } else {
      path_.resize(parent_length);
    }
  }

  void leave_top() {
    Frame done = std::move(stack_.back());
    stack_.pop_back();
    const std::size_t depth = stack_.size();
    if (stack_.empty()) {
      call(WalkEvent::leave_directory, root_parent_fd_, root_name_, done.status, current_.get(), 0);
      current_.reset();
      return;
    }
    // Back up through "..", which must still be the directory the walk
    // came down from.
    core::UniqueFd parent(::openat(current_.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat parent_status {};
    if (!parent || ::fstat(parent.get(), &parent_status) != 0) {
      fail(errno, depth);
      return;
    }
    if (!core::same_file(parent_status, stack_.back().status)) {
      fail(ESTALE, depth);
      return;
    }
    call(WalkEvent::leave_directory, parent.get(), done.name, done.status, current_.get(), depth);
    current_ = std::move(parent);
    path_.resize(stack_.back().path_length);
  }

  const WalkVisitor& visitor_;
  WalkResult result_;
  std::string path_;
  std::size_t relative_start_ = 0;
  core::UniqueFd root_parent_;
  int root_parent_fd_ = AT_FDCWD;
  std::string root_name_;
  core::UniqueFd current_;
  std::vector<Frame> stack_;
};

}  // namespace

WalkResult walk_tree(const std::string& root, const WalkVisitor& visitor) {
  return Walker(root, visitor).run();
}

RemoveTreeResult remove_tree(const std::string& root, const RemoveTreeOptions& options) {
  RemoveTreeResult removal;
  WalkResult removal_failure;

  const auto remove = [&](const WalkEntry& entry, int flags, RemoveStep step) {
    if (::unlinkat(entry.parent_fd, std::string(entry.name).c_str(), flags) != 0) {
      if (errno == ENOENT) return WalkAction::proceed;
      removal.failed_step = step;
      removal_failure = {WalkOutcome::failed, errno, std::string(entry.path), entry.depth};
      return WalkAction::stop;
    }
    if (step == RemoveStep::unlink_entry) {
      ++removal.files_removed;
      if (options.file_removed) options.file_removed(entry);
    } else {
      ++removal.directories_removed;
      if (options.directory_removed) options.directory_removed(entry);
    }
    return WalkAction::proceed;
  };

  removal.walk = walk_tree(root, [&](const WalkEntry& entry) {
    switch (entry.event) {
      case WalkEvent::enter_directory:
        return WalkAction::proceed;
      case WalkEvent::non_directory:
        return remove(entry, 0, RemoveStep::unlink_entry);
      case WalkEvent::leave_directory:
        if (entry.depth == 0 && !options.remove_root) return WalkAction::proceed;
        return remove(entry, AT_REMOVEDIR, RemoveStep::remove_directory);
    }
    return WalkAction::proceed;
  });

  if (removal.failed_step != RemoveStep::none) {
    removal.walk = std::move(removal_failure);
  } else if (removal.walk.outcome == WalkOutcome::failed) {
    removal.failed_step = RemoveStep::open_directory;
  }
  return removal;
}

}  // namespace fs
