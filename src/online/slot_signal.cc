// SIGTERM to a slot's owner, with the checks a root signal needs.
#include "online/slot_signal.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "core/privilege.h"
#include "online/slot_claim.h"

namespace online {

bool may_signal(long pid, long parent) { return pid > 1 && pid != parent; }

bool slot_owner_signallable(int32_t pid) { return may_signal(pid, static_cast<long>(::getppid())); }

bool end_slot_owner(OnlineEntry& entry, int32_t pid) {
  if (!slot_owner_signallable(pid)) return false;
  core::PrivilegeBracket privileged;
  // The owner may have left and a new session taken the slot since the
  // caller looked; that session is not the one asked for.
  if (std::atomic_ref<int32_t>(entry.procid).load() != pid) return false;
  ::kill(static_cast<pid_t>(pid), SIGTERM);
  release_slot(entry, pid);
  return true;
}

}  // namespace online
