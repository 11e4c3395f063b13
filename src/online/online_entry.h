// OnlineEntry: one slot of the shared online table. Other programs of the
// site read the segment directly, so the layout is fixed to the byte
// (x86_64, little-endian, no padding) and checked below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace online {

// struct timeval with 32-bit members, as the table has always stored it.
struct OnlineTime {
  int32_t tv_sec;
  int32_t tv_usec;
};

struct OnlineEntry {
  char tagline[64];      // empty until login
  char username[24];     // "-NEW-" until login
  char status[256];      // last command line; never one holding a password
  char host[256];        // ident user "@" remote host
  char currentdir[256];
  uint32_t groupid;
  int32_t login_time;    // slot allocation, with the timezone offset
  OnlineTime tstart;     // last activity
  uint32_t bytes_xfer;   // bytes of the current transfer, 0 when none
  int32_t procid;        // owner; 0 marks a free slot
};

static_assert(sizeof(OnlineTime) == 8);
static_assert(sizeof(OnlineEntry) == 880);
static_assert(offsetof(OnlineEntry, tagline) == 0);
static_assert(offsetof(OnlineEntry, username) == 64);
static_assert(offsetof(OnlineEntry, status) == 88);
static_assert(offsetof(OnlineEntry, host) == 344);
static_assert(offsetof(OnlineEntry, currentdir) == 600);
static_assert(offsetof(OnlineEntry, groupid) == 856);
static_assert(offsetof(OnlineEntry, login_time) == 860);
static_assert(offsetof(OnlineEntry, tstart) == 864);
static_assert(offsetof(OnlineEntry, bytes_xfer) == 872);
static_assert(offsetof(OnlineEntry, procid) == 876);

// Fills a character field with the full width of `value`: a value that
// fills the field is not NUL-terminated, so readers bound every read by the
// width (see field_text).
template <std::size_t N>
void copy_field(char (&field)[N], std::string_view value) {
  const std::size_t n = value.size() < N ? value.size() : N;
  std::memcpy(field, value.data(), n);
  std::memset(field + n, 0, N - n);
}

// The text of a character field, never reading past its width.
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
  const void* end = std::memchr(field, 0, N);
  return std::string_view(field, end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : N);
}

}  // namespace online
