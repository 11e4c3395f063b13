// Walks a directory tree without following symbolic links and without
// recursion, holding a handful of descriptors whatever the depth; and
// removes a tree on top of that walk. WIPE and the nuke walks share it.
//
// Every directory is opened from its parent with
// openat(parent, name, O_NOFOLLOW | O_DIRECTORY), so a link (to "..", to a
// directory outside the tree) is always met as a non-directory and never
// entered. The walk reads a directory's names whole when it enters it and
// then keeps only the descriptor of the directory it is in: going back up
// opens ".." and checks that it is still the directory it came from (same
// device and inode), so a tree moved under the walk stops it with an error
// instead of sending it elsewhere.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace fs {

enum class WalkEvent {
  enter_directory,  // before the directory's content
  leave_directory,  // after its content (post-order: children come first)
  non_directory,    // a file, a symbolic link or anything else
};

// What the visitor sees of one entry.
struct WalkEntry {
  WalkEvent event;
  // The directory holding the entry, and its name there: unlinkat,
  // fstatat and fchmodat take the two. For the root itself this is the
  // root's parent (AT_FDCWD and the whole path for "/").
  int parent_fd;
  std::string_view name;
  // The root path as given, joined with the entry's root-relative path;
  // `relative_path` is empty for the root itself.
  std::string_view path;
  std::string_view relative_path;
  // The entry's lstat, taken as the walk met it (for a directory, checked
  // against the directory actually opened).
  const struct stat& status;
  // The open directory itself for enter_directory and leave_directory
  // (fchmod, fstatat of its content), -1 for a non-directory.
  int fd;
  // 0 for the root, 1 for its entries, and so on.
  std::size_t depth;
};

// The visitor's answer. `skip` on enter_directory does not descend and
// delivers no leave_directory for it (the visitor may have removed it);
// elsewhere it means `proceed`. `stop` ends the walk at once: no further
// event, not even the leave_directory of the directories still open.
enum class WalkAction { proceed, skip, stop };

using WalkVisitor = std::function<WalkAction(const WalkEntry&)>;

enum class WalkOutcome {
  complete,  // every entry visited
  stopped,   // the visitor answered `stop`
  failed,    // the tree could not be walked; see `error` and `failed_path`
};

struct WalkResult {
  WalkOutcome outcome = WalkOutcome::complete;
  int error = 0;            // errno of the failure
  std::string failed_path;  // the directory that could not be opened or read
  std::size_t failed_depth = 0;
};

// Walks the tree below the directory `root`, the root included (depth 0).
// The root's last component must be a directory, not a link to one;
// earlier components are followed. An entry that vanishes before the walk
// looks at it is passed over. A directory that cannot be opened or read,
// or a parent that changed while the walk was below it, fails the walk
// there; the entries visited before stay visited, so callers that must not
// act on half a tree (a nuke charging its uploaders) walk once read-only
// first.
WalkResult walk_tree(const std::string& root, const WalkVisitor& visitor);

// What remove_tree reports for each entry it took away.
using RemovedVisitor = std::function<void(const WalkEntry&)>;

struct RemoveTreeOptions {
  bool remove_root = true;        // false empties the root and keeps it
  RemovedVisitor file_removed;    // after each non-directory is unlinked
  RemovedVisitor directory_removed;  // after each directory is removed
};

enum class RemoveStep { none, open_directory, unlink_entry, remove_directory };

struct RemoveTreeResult {
  WalkResult walk;
  RemoveStep failed_step = RemoveStep::none;  // none while walk.outcome is complete
  std::size_t files_removed = 0;
  std::size_t directories_removed = 0;
  bool complete() const { return walk.outcome == WalkOutcome::complete; }
};

// Removes everything below `root` and, unless told otherwise, the root:
// every non-directory (links as links) is unlinked, every directory is
// removed with unlinkat(AT_REMOVEDIR) once its content is gone. An entry
// already gone counts as removed but is not reported to the visitors, since
// whoever removed it did the bookkeeping. The first entry that cannot be
// removed stops it; what was removed before stays removed. The result's
// walk names the failed entry's path, depth and errno.
RemoveTreeResult remove_tree(const std::string& root, const RemoveTreeOptions& options = {});

}  // namespace fs
