// Bounded copies into the fixed-width text fields of records.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace core {

// Copies `source` into a field of `size` bytes, always NUL-terminated and
// cut at an embedded NUL, so the field never hides text behind it.
inline void copy_field(char* field, std::size_t size, std::string_view source) {
  if (size == 0) return;
  std::size_t n = source.size() < size - 1 ? source.size() : size - 1;
  const void* nul = std::memchr(source.data(), '\0', n);
  if (nul) n = static_cast<std::size_t>(static_cast<const char*>(nul) - source.data());
  std::memcpy(field, source.data(), n);
  field[n] = '\0';
}

template <std::size_t N>
void copy_field(char (&field)[N], std::string_view source) {
  copy_field(field, N, source);
}

}  // namespace core
