// Text operations on paths that every layer shares.
#pragma once

#include <string_view>

namespace core {

// What follows the last "/" of `path` (all of it when there is none).
inline std::string_view last_component(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace core
