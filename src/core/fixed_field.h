// Bounded copies into the fixed-width text fields of records, and the text
// of such a field read back without trusting a terminating NUL.
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

// Fills a field with the full width of `source`: a value that fills the
// field is not NUL-terminated (the layout of records other programs read),
// so readers bound every read by the width (full_width_text). The rest of
// the field is zeroed.
template <std::size_t N>
void copy_full_width(char (&field)[N], std::string_view source) {
  const std::size_t n = source.size() < N ? source.size() : N;
  std::memcpy(field, source.data(), n);
  std::memset(field + n, 0, N - n);
}

// The text of a field up to its first NUL, never past its width.
template <std::size_t N>
std::string_view full_width_text(const char (&field)[N]) {
  const void* end = std::memchr(field, 0, N);
  return std::string_view(field, end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : N);
}

}  // namespace core
