// OnlineEntry: one slot of the shared online table. Other programs of the
// site read the segment directly, so the layout is fixed to the byte
// (x86_64, little-endian, no padding) and checked below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/fixed_field.h"

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

// Character fields are filled to their full width: a value that fills the
// field is not NUL-terminated, so readers bound every read by the width.
template <std::size_t N>
void copy_field(char (&field)[N], std::string_view value) {
  core::copy_full_width(field, value);
}

template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
  return core::full_width_text(field);
}

// A session whose control connection is protected by TLS says so in the
// last bytes of `status`, behind the command line's terminator: programs
// that read the status as text see the command line alone, as always, and
// the command line of such a session is cut to make room.
inline constexpr char kProtectedMark[] = "TLS";
inline constexpr std::size_t kProtectedMarkAt = sizeof(OnlineEntry::status) - sizeof kProtectedMark;

inline bool entry_is_protected(const OnlineEntry& entry) {
  return std::memcmp(entry.status + kProtectedMarkAt, kProtectedMark, sizeof kProtectedMark) == 0;
}

}  // namespace online
