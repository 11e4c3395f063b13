// Which command lines count as activity for the idle time-out.
#include "protocol/idle_timer.h"

#include <unistd.h>

#include "config/config_store.h"
#include "core/idle_alarm.h"
#include "core/match.h"
#include "core/session.h"

namespace protocol {

bool is_idle_command(std::string_view line) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* entry = config::next_config("idle_commands", cursor)) {
    for (int n = 1; entry->arg(n) != nullptr; ++n)
      if (core::wildcard_match(entry->arg(n), line, false)) return true;
  }
  return false;
}

void rearm_idle_alarm(std::string_view line) {
  const int timeout = core::session().idle_timeout;
  const bool idle_command = is_idle_command(line);
  const unsigned left = ::alarm(timeout > 0 ? static_cast<unsigned>(timeout) : 0);
  if (!idle_command) return;
  // The alarm had already run out: the session has been idle too long.
  if (left == 0 && timeout > 0) core::idle_timeout_handler();
  ::alarm(left);
}

}  // namespace protocol
