// Text operations on paths that every layer shares.
#pragma once

#include <string_view>

namespace core {

// What follows the last "/" of `path` (all of it when there is none).
inline std::string_view last_component(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Whether `path` is `prefix` or lies below it: the prefix must end at a
// "/" of `path` or at its end, so "/site/rel" holds "/site/rel/CD1" but not
// "/site/rel2". The prefix "/" holds everything; a trailing "/" on
// any other prefix is not part of the name.
inline bool path_within(std::string_view path, std::string_view prefix) {
  while (prefix.size() > 1 && prefix.back() == '/') prefix.remove_suffix(1);
  if (prefix == "/") return true;
  if (path.size() < prefix.size() || path.substr(0, prefix.size()) != prefix) return false;
  return path.size() == prefix.size() || path[prefix.size()] == '/';
}

}  // namespace core
