// Path resolution and the name-rewriting rules.
#include "fs/path.h"

#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "config/config_store.h"
#include "core/path_text.h"
#include "core/session.h"

namespace fs {
namespace {

// readlink of `path`; empty when it is no symbolic link (or unreadable).
std::string read_link(const std::string& path) {
  char target[4096];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return {};
  return std::string(target, static_cast<std::size_t>(n));
}

// The link target of the component `path`, empty when it is no symbolic
// link; with `look`, asked with lstat first, and the status kept.
std::string look_at(const std::string& path, PathLook* look) {
  if (look == nullptr) return read_link(path);
  struct stat status {};
  const int error = ::lstat(path.c_str(), &status) == 0 ? 0 : errno;
  if (error == 0 && S_ISLNK(status.st_mode)) return read_link(path);
  look->note(path, error, status);
  return {};
}

// Removes every "/.." component, never cutting into the first `floor`
// characters (the home directory), so ".." cannot climb above home.
void remove_dot_dots(std::string& path, std::size_t floor) {
  // A trailing "/.." is handled like an inner one: left to the system it
  // would name the parent of home while the text still looks inside it.
  if (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0) path += '/';
  for (std::size_t at = path.find("/../"); at != std::string::npos; at = path.find("/../")) {
    const std::string tail = path.substr(at + 3);  // begins with '/'
    std::size_t cut = path.rfind('/', at == 0 ? 0 : at - 1);
    if (cut == std::string::npos || at == 0) cut = 0;
    if (cut < floor) cut = floor;
    if (cut > at) cut = at;
    path.resize(cut);
    path += tail;
  }
}

void remove_dots(std::string& path) {
  for (std::size_t at = path.find("/./"); at != std::string::npos; at = path.find("/./"))
    path.erase(at, 2);
  // "dir/." is the directory itself.
  if (path.size() >= 2 && path.compare(path.size() - 2, 2, "/.") == 0) {
    path.resize(path.size() - 2);
    if (path.empty()) path.push_back('/');
  }
}

void strip_trailing_slashes(std::string& path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
}

}  // namespace

std::string path_join(std::string_view dir, std::string_view name) {
  std::string joined;
  if (dir == ".") dir = {};
  joined.reserve(dir.size() + 1 + name.size());
  joined.append(dir);
  if (!dir.empty() && dir.back() != '/') joined += '/';
  joined.append(name);
  return joined;
}

bool PathLook::stat(const std::string& path, struct stat& status) const {
  for (const Seen& seen : seen_) {
    if (seen.path != path || seen.path.empty()) continue;
    if (seen.error != 0) {
      errno = seen.error;
      return false;
    }
    status = seen.status;
    return true;
  }
  return ::stat(path.c_str(), &status) == 0;
}

void PathLook::note(std::string_view path, int error, const struct stat& status) {
  seen_[next_] = Seen{std::string(path), error, status};
  next_ = (next_ + 1) % 2;
}

std::string resolve_links(std::string_view path, int& link_depth, PathLook* look) {
  std::string out = "/";
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);

  std::string rest(path);
  std::size_t position = 0;
  while (position < rest.size()) {
    if (link_depth > kMaxSymlinks) return std::string(kTooManySymlinks);
    std::size_t slash = rest.find('/', position);
    if (slash == std::string::npos) slash = rest.size();
    const std::string_view component(rest.data() + position, slash - position);
    const std::size_t next = slash < rest.size() ? slash + 1 : slash;
    if (component.empty()) {
      position = next;
      continue;
    }
    out.append(component);
    std::string target = look_at(out, look);
    if (target.empty()) {
      out += '/';
      position = next;
      continue;
    }
    ++link_depth;
    if (target.front() == '/') {
      out = resolve_links(target, link_depth, look);
      position = next;
      continue;
    }
    // A relative target stands in for the link's own name: process it
    // before whatever followed the link.
    std::string remaining = rest.substr(next);
    rest = remaining.empty() ? target : target + "/" + remaining;
    position = 0;
    out.resize(out.size() - component.size());
  }
  if (link_depth > kMaxSymlinks) return std::string(kTooManySymlinks);
  return out;
}

std::string resolve_path_in(std::string_view home, std::string_view cwd, std::string_view name,
                            bool follow_links, PathLook* look) {
  int link_depth = 0;
  std::string path;
  if (!name.empty() && name.front() == '/') {
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    path = path_join(home, name);
  } else {
    path = path_join(cwd, name);
  }
  if (follow_links) path = resolve_links(path, link_depth, look);
  // The cut keeps the home text; a home of "/" keeps nothing, since the
  // text after the cut begins with its own '/'.
  while (!home.empty() && home.back() == '/') home.remove_suffix(1);
  remove_dot_dots(path, home.size());
  remove_dots(path);
  strip_trailing_slashes(path);
  // Longer results are kept whole: the system refuses them, where a cut
  // text could name a different, existing file.
  return path;
}

std::string resolve_path(std::string_view name, bool follow_links, PathLook* look) {
  const core::Session& s = core::session();
  return resolve_path_in(s.home_dir, s.cwd, name, follow_links, look);
}

bool inside_home_of(std::string_view home, std::string_view path) {
  return core::path_within(path, home);
}

bool inside_home(std::string_view path) { return inside_home_of(core::session().home_dir, path); }

std::string visible_path_of(std::string_view home, std::string_view path) {
  while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
  if (home.empty() || home == "/" || !core::path_within(path, home)) return std::string(path);
  const std::string_view rest = path.substr(home.size());
  return rest.empty() ? std::string("/") : std::string(rest);
}

std::string visible_path(std::string_view path) {
  const core::Session& s = core::session();
  return visible_path_of(s.account.dir.empty() ? s.home_dir : s.account.dir, path);
}

void rewrite_name(const char* key, std::string& name) {
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config(key, cursor);
  if (!line || !line->arg(1)) return;
  const bool capitalise = std::strtol(line->arg(1), nullptr, 10) != 0;
  const char* case_word = line->arg(2);
  const bool upper = case_word && strcasecmp(case_word, "upper") == 0;
  const bool lower = case_word && strcasecmp(case_word, "lower") == 0;

  const std::size_t slash = name.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  std::string rewritten;
  for (std::size_t i = start; i < name.size(); ++i) {
    const char c = name[i];
    bool mapped = false;
    for (int n = 3; n <= config::kMaxArgs && line->arg(n); ++n) {
      const std::string_view map = line->arg(n);
      if (map.empty() || map.front() != c) continue;
      if (map.size() == 2) {
        rewritten += map[1];
        mapped = true;
        break;
      }
      if (map.size() == 5 && strcasecmp(map.data() + 1, "NULL") == 0) {
        mapped = true;
        break;
      }
    }
    if (!mapped) rewritten += c;
  }
  if (rewritten.empty()) rewritten = "invalid_filename";
  for (char& c : rewritten) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (upper) c = static_cast<char>(std::toupper(u));
    if (lower) c = static_cast<char>(std::tolower(u));
  }
  if (capitalise) rewritten[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(rewritten[0])));
  name.replace(start, std::string::npos, rewritten);
}

}  // namespace fs
