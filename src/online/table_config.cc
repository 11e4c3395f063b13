// Reads `ipc_key` and `max_users` from the configuration.
#include "online/table_config.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "config/config_store.h"
#include "core/logs.h"

namespace online {

namespace {

// A decimal argument as atoi reads it, but clamped instead of overflowing.
long whole_number(const char* text) {
  if (text == nullptr) return 0;
  const long value = std::strtol(text, nullptr, 10);
  return value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value;
}

}  // namespace

key_t configured_ipc_key() {
  const char* text = config::config_value("ipc_key");
  if (text == nullptr || *text == '\0') return kDefaultIpcKey;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 16);
  if (*end != '\0' || errno != 0 || value == 0 || value > UINT_MAX) {
    core::error_log("Bad ipc_key '%s': using %X.", text, static_cast<unsigned>(kDefaultIpcKey));
    return kDefaultIpcKey;
  }
  return static_cast<key_t>(static_cast<unsigned>(value));
}

TableSize configured_table_size() {
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config("max_users", cursor);
  if (line == nullptr) return {};
  TableSize size;
  const long users = whole_number(line->arg(1));
  const long slots = users + whole_number(line->arg(2));
  size.max_users = static_cast<int>(users);
  size.slots = static_cast<int>(slots < INT_MIN ? INT_MIN : slots > INT_MAX ? INT_MAX : slots);
  return size;
}

}  // namespace online
