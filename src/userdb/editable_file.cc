// The passwd/group editing library: lock, list, write-back.
#include "userdb/editable_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/file_io.h"
#include "core/privilege.h"

namespace userdb {
namespace {

std::string pid_text() { return std::to_string(static_cast<long>(getpid())); }

// The link succeeded and the temporary file now has two names.
bool linked_as_lock(const std::string& temporary, const std::string& lock_path) {
  if (link(temporary.c_str(), lock_path.c_str()) != 0) return false;
  struct stat st{};
  return stat(temporary.c_str(), &st) == 0 && st.st_nlink == 2;
}

// Sets umask for the length of a scope.
class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : previous_(umask(mask)) {}
  ~UmaskScope() { umask(previous_); }
  UmaskScope(const UmaskScope&) = delete;
  UmaskScope& operator=(const UmaskScope&) = delete;

 private:
  mode_t previous_;
};

}  // namespace

bool take_link_lock(const std::string& path) {
  const std::string temporary = path + "." + pid_text();
  const std::string lock_path = path + ".lock";
  {
    core::UniqueFd fd = core::open_file(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (!fd) return false;
    std::string content = pid_text();
    content.push_back('\0');
    bool written = core::write_all(fd.get(), content);
    if (!fd.close() || !written) {
      int saved = errno;
      unlink(temporary.c_str());
      errno = saved ? saved : EIO;
      return false;
    }
  }
  if (linked_as_lock(temporary, lock_path)) {
    unlink(temporary.c_str());
    return true;
  }
  int error = EEXIST;
  std::string held;
  // A lock that vanished between the link and the read counts as stale.
  bool vanished = !core::read_file(lock_path.c_str(), held) && errno == ENOENT;
  char* end = nullptr;
  long owner = vanished ? 0 : std::strtol(held.c_str(), &end, 10);
  if (!vanished && (end == held.c_str() || owner <= 0)) {
    error = EINVAL;
  } else if (!vanished && (kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM)) {
    error = EEXIST;
  } else {
    // The owner has gone: the lock is stale.
    unlink(lock_path.c_str());
    if (linked_as_lock(temporary, lock_path)) {
      unlink(temporary.c_str());
      return true;
    }
    error = EEXIST;
  }
  unlink(temporary.c_str());
  errno = error;
  return false;
}

void drop_link_lock(const std::string& path) { unlink((path + ".lock").c_str()); }

bool replace_file_contents(const std::string& path, const std::string& text) {
  struct stat original{};
  if (stat(path.c_str(), &original) != 0) return false;
  UmaskScope no_access(0777);

  // The backup keeps the previous version whole, whatever happens next.
  const std::string backup = path + "-";
  unlink(backup.c_str());
  {
    std::string previous;
    core::UniqueFd out = core::open_file(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (out && core::read_file(path.c_str(), previous) && core::write_all(out.get(), previous)) {
      core::ignore_failure(fchmod(out.get(), original.st_mode & 07777));
      core::ignore_failure(fchown(out.get(), original.st_uid, original.st_gid));
    }
  }

  const std::string staged = path + "+";
  core::UniqueFd out = core::open_file(staged.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!out) return false;
  core::ignore_failure(fchown(out.get(), 0, 0));
  core::ignore_failure(fchmod(out.get(), original.st_mode & 07777));
  bool ok = core::write_all(out.get(), text) && fsync(out.get()) == 0;
  ok = out.close() && ok;
  if (!ok || rename(staged.c_str(), path.c_str()) != 0) {
    int saved = errno;
    unlink(staged.c_str());
    errno = saved ? saved : EIO;
    return false;
  }
  return true;
}

template <typename Entry>
std::vector<LineNode<Entry>> split_into_nodes(std::string_view bytes, const LineFormat<Entry>& format) {
  std::vector<LineNode<Entry>> nodes;
  while (!bytes.empty()) {
    std::size_t end = bytes.find('\n');
    std::string raw(bytes.substr(0, end));
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    std::string logical = raw;
    while (format.continued_lines && !logical.empty() && logical.back() == '\\' && !bytes.empty()) {
      logical.pop_back();
      std::size_t next_end = bytes.find('\n');
      std::string_view piece = bytes.substr(0, next_end);
      bytes = next_end == std::string_view::npos ? std::string_view() : bytes.substr(next_end + 1);
      raw += '\n';
      raw += piece;
      logical += piece;
    }
    LineNode<Entry> node;
    node.entry = format.parse(logical);
    node.text = std::move(raw);
    nodes.push_back(std::move(node));
  }
  return nodes;
}

template <typename Entry>
int EditableFile<Entry>::lock() {
  if (locked_) return 1;
  core::PrivilegeBracket privileged;
  locked_ = take_link_lock(path_());
  return locked_ ? 1 : 0;
}

template <typename Entry>
int EditableFile<Entry>::unlock() {
  if (open_ && !close()) return 0;
  if (locked_) {
    core::PrivilegeBracket privileged;
    drop_link_lock(path_());
    locked_ = false;
  }
  return 1;
}

template <typename Entry>
int EditableFile<Entry>::open(OpenMode mode) {
  nodes_.clear();
  open_ = false;
  modified_ = false;
  cursor_ = 0;
  std::string bytes;
  {
    core::PrivilegeBracket privileged;
    core::UniqueFd fd = core::open_file(path_(), mode == OpenMode::Read ? O_RDONLY : O_RDWR);
    if (!fd || !core::read_all(fd.get(), bytes)) return 0;
  }
  try {
    nodes_ = split_into_nodes(bytes, format_);
  } catch (const std::bad_alloc&) {
    nodes_.clear();
    errno = ENOMEM;
    return 0;
  }
  open_ = true;
  writable_ = mode == OpenMode::ReadWrite;
  return 1;
}

template <typename Entry>
const Entry* EditableFile<Entry>::locate(std::string_view name) const {
  if (!open_) {
    errno = EINVAL;
    return nullptr;
  }
  for (const LineNode<Entry>& node : nodes_)
    if (node.entry && node.entry->name == name) return &*node.entry;
  errno = ENOENT;
  return nullptr;
}

template <typename Entry>
const Entry* EditableFile<Entry>::next() {
  while (open_ && cursor_ < nodes_.size()) {
    const LineNode<Entry>& node = nodes_[cursor_++];
    if (node.entry) return &*node.entry;
  }
  return nullptr;
}

template <typename Entry>
int EditableFile<Entry>::update(const Entry& entry) {
  if (!open_ || !writable_) {
    errno = EINVAL;
    return 0;
  }
  modified_ = true;
  for (LineNode<Entry>& node : nodes_) {
    if (node.entry && node.entry->name == entry.name) {
      node.entry = entry;
      node.changed = true;
      return 1;
    }
  }
  LineNode<Entry> node;
  node.entry = entry;
  node.changed = true;
  nodes_.push_back(std::move(node));
  return 1;
}

template <typename Entry>
int EditableFile<Entry>::remove(std::string_view name) {
  if (!open_ || !writable_) {
    errno = EINVAL;
    return 0;
  }
  for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
    if (it->entry && it->entry->name == name) {
      nodes_.erase(it);
      modified_ = true;
      cursor_ = 0;
      return 1;
    }
  }
  errno = ENOENT;
  return 0;
}

template <typename Entry>
int EditableFile<Entry>::rename(std::string_view old_name, std::string_view new_name) {
  if (!open_ || !writable_) {
    errno = EINVAL;
    return 0;
  }
  for (LineNode<Entry>& node : nodes_) {
    if (node.entry && node.entry->name == old_name) {
      node.entry->name = std::string(new_name);
      node.changed = true;
      modified_ = true;
      return 1;
    }
  }
  errno = ENOENT;
  return 0;
}

template <typename Entry>
int EditableFile<Entry>::close() {
  if (!open_) {
    errno = EINVAL;
    return 0;
  }
  if (writable_ && modified_) {
    // Writing without the lock could overwrite another process's edit.
    if (!locked_) {
      errno = EACCES;
      return 0;
    }
    std::string text;
    for (const LineNode<Entry>& node : nodes_) {
      text += node.changed && node.entry ? format_.format(*node.entry) : node.text;
      text += '\n';
    }
    core::PrivilegeBracket privileged;
    if (!replace_file_contents(path_(), text)) return 0;
  }
  nodes_.clear();
  open_ = false;
  modified_ = false;
  return 1;
}

template class EditableFile<core::PasswdEntry>;
template class EditableFile<core::GroupEntry>;
template std::vector<LineNode<core::PasswdEntry>> split_into_nodes(std::string_view, const LineFormat<core::PasswdEntry>&);
template std::vector<LineNode<core::GroupEntry>> split_into_nodes(std::string_view, const LineFormat<core::GroupEntry>&);

}  // namespace userdb
