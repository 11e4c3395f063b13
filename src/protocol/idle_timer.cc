// Which command lines count as activity for the idle time-out.
#include "protocol/idle_timer.h"

#include "config/config_store.h"
#include "core/idle_alarm.h"
#include "core/match.h"

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
  if (!is_idle_command(line)) {
    core::restart_idle_time_out();
    return;
  }
  // The deadline stays; one already passed means the session has been
  // idle too long.
  if (core::idle_deadline_passed()) core::idle_timeout_handler();
}

}  // namespace protocol
