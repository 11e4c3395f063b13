// kill_ghost: at login, ends the user's oldest other session, usually one
// whose connection died without the server noticing.
#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <optional>
#include <string_view>

#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "online/online_table.h"
#include "online/slot_claim.h"

namespace online {

std::optional<long> kill_ghost(const char* username) {
  const std::span<OnlineEntry> entries = table();
  const int32_t own = static_cast<int32_t>(::getpid());
  const time_t now = ::time(nullptr);
  const std::string_view name = username ? username : "";
  OnlineEntry* oldest = nullptr;
  int32_t oldest_start = 0;
  for (OnlineEntry& entry : entries) {
    const int32_t start = entry.tstart.tv_sec;
    if (entry.procid == 0 || entry.procid == own || field_text(entry.username) != name) continue;
    if (start >= now) continue;
    if (oldest == nullptr || start < oldest_start) {
      oldest = &entry;
      oldest_start = start;
    }
  }
  if (oldest == nullptr) return std::nullopt;
  const long victim = oldest->procid;
  {
    core::PrivilegeBracket privileged;
    // A negative id would reach a whole process group.
    if (victim > 0) ::kill(static_cast<pid_t>(victim), SIGTERM);
    core::login_log("'%.23s' killed a ghost with PID %ld.", core::session().user.name, victim);
    clear_slot(*oldest);
  }
  return static_cast<long>(now - oldest_start);
}

}  // namespace online
