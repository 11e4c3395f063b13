// Client paths to absolute paths inside the root: the home directory is the
// client's "/", ".." never climbs above it, symbolic links are followed
// lexically with a hard limit; plus the name-rewriting rules of uploads and
// new directories.
#pragma once

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

// Follows the symbolic links of an absolute path component by component;
// `link_depth` counts the links followed (shared with recursive calls). The
// result ends in '/' after a last component that is not a link.
std::string resolve_links(std::string_view path, int& link_depth);

// Turns a client path into an absolute path inside the root for a user with
// `home` and current directory `cwd`. Never fails; the result may name
// nothing. Pure apart from the readlink calls when `follow_links`.
std::string resolve_path_in(std::string_view home, std::string_view cwd, std::string_view name,
                            bool follow_links);

// The same for the session user.
std::string resolve_path(std::string_view name, bool follow_links);

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
