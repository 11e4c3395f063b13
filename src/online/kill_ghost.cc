// kill_ghost: at login, ends the user's oldest other session, usually one
// whose connection died without the server noticing.
#include <unistd.h>

#include <ctime>
#include <optional>
#include <string_view>

#include "core/logs.h"
#include "core/session.h"
#include "online/online_table.h"
#include "online/slot_signal.h"

namespace online {

std::optional<long> kill_ghost(const char* username) {
  const std::span<OnlineEntry> entries = table();
  const int32_t own = static_cast<int32_t>(::getpid());
  const time_t now = ::time(nullptr);
  const std::string_view name = username ? username : "";
  OnlineEntry* oldest = nullptr;
  int32_t oldest_start = 0;
  int32_t victim = 0;
  for (OnlineEntry& entry : entries) {
    // Another process writes the slot meanwhile: each field is read once.
    const int32_t procid = entry.procid;
    const int32_t start = entry.tstart.tv_sec;
    if (procid == 0 || procid == own || field_text(entry.username) != name) continue;
    if (!slot_owner_signallable(procid) || start >= now) continue;
    if (oldest == nullptr || start < oldest_start) {
      oldest = &entry;
      oldest_start = start;
      victim = procid;
    }
  }
  if (oldest == nullptr || !end_slot_owner(*oldest, victim)) return std::nullopt;
  core::login_log("'%.23s' killed a ghost with PID %ld.", core::session().user.name, static_cast<long>(victim));
  return static_cast<long>(now - oldest_start);
}

}  // namespace online
