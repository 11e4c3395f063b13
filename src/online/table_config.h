// The two configuration lines that shape the online table: `ipc_key` (the
// segment key, hexadecimal) and `max_users` (users allowed, extra slots).
#pragma once

#include <sys/types.h>

namespace online {

inline constexpr key_t kDefaultIpcKey = 0xDEAD;

struct TableSize {
  int max_users = 1;  // users allowed online
  int slots = 1;      // max_users plus the extra slots
};

// The configured key; 0xDEAD without the line or with an empty argument.
// A key that is not a hexadecimal number is logged and replaced by 0xDEAD
// (key 0 would give every process a private table of its own).
key_t configured_ipc_key();

TableSize configured_table_size();

}  // namespace online
