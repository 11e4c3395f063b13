// Client paths to absolute paths inside the root: the home directory is the
// client's "/", ".." never climbs above it, symbolic links are followed
// lexically with a hard limit; plus the name-rewriting rules of uploads and
// new directories.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace fs {

// Every path the server builds fits a 4096-byte buffer: at most 4095 bytes.
inline constexpr std::size_t kPathLimit = 4095;
// Symbolic links one resolution may follow before giving up.
inline constexpr int kMaxSymlinks = 20;
// What a resolution that followed too many links turns into; it lies
// outside every home directory, so every rule that needs one refuses it.
inline constexpr std::string_view kTooManySymlinks = "/toomanysymlinks";

// `dir`, a separator and `name`: a dir of "." contributes nothing and no
// '/' is doubled.
std::string path_join(std::string_view dir, std::string_view name);

// What a resolution that follows links learnt on its way: the status of
// the last components it looked at, so that a caller about to stat the
// resolved path or its directory need not ask the system again. A
// component that is no symbolic link has the same status from lstat as
// from stat.
class PathLook {
 public:
  // stat(2) of `path`, as the resolution saw it when it looked at that very
  // path, from the system otherwise.
  bool stat(const std::string& path, struct stat& status) const;
  // Resolution's own: what lstat said of `path` (`error` 0 or its errno).
  void note(std::string_view path, int error, const struct stat& status);

 private:
  struct Seen {
    std::string path;
    int error = 0;
    struct stat status {};
  };
  Seen seen_[2];
  int next_ = 0;
};

// Follows the symbolic links of an absolute path component by component;
// `link_depth` counts the links followed (shared with recursive calls). The
// result ends in '/' after a last component that is not a link. With
// `look`, each component is looked at with lstat (readlink only for links)
// and `look` keeps what was seen.
std::string resolve_links(std::string_view path, int& link_depth, PathLook* look = nullptr);

// Turns a client path into an absolute path inside the root for a user with
// `home` and current directory `cwd`. Never fails; the result may name
// nothing. Pure apart from the readlink (or lstat) calls when `follow_links`.
std::string resolve_path_in(std::string_view home, std::string_view cwd, std::string_view name,
                            bool follow_links, PathLook* look = nullptr);

// The same for the session user.
std::string resolve_path(std::string_view name, bool follow_links, PathLook* look = nullptr);

// Whether `path` is `home` or lies below it ("/site2/x" is not inside
// "/site").
bool inside_home_of(std::string_view home, std::string_view path);
bool inside_home(std::string_view path);

// `path` without the home prefix (its following '/' kept), "/" when
// nothing is left; unchanged when the home is "/" or not a prefix.
std::string visible_path_of(std::string_view home, std::string_view path);
// The same with the session user's home from the passwd file.
std::string visible_path(std::string_view path);

// Applies the first `key` line ("file_names" or "dir_names") to the last
// component of `name`: character maps, then case, then a capital first
// letter. A component reduced to nothing becomes "invalid_filename".
void rewrite_name(const char* key, std::string& name);

}  // namespace fs
