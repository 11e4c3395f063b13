// Atomic slot claim and release on the shared online table.
#include "online/slot_claim.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace online {

namespace {

// The field lives in memory shared with other processes; atomic_ref on an
// aligned int32_t is lock-free on x86_64, so the layout stays unchanged.
std::atomic_ref<int32_t> procid_of(OnlineEntry& entry) {
  static_assert(std::atomic_ref<int32_t>::is_always_lock_free);
  return std::atomic_ref<int32_t>(entry.procid);
}

// Every field before `procid`: written after the claim, so a reader never
// sees a half-copied record belonging to nobody.
constexpr std::size_t kFieldsBeforeProcid = offsetof(OnlineEntry, procid);
static_assert(kFieldsBeforeProcid + sizeof(int32_t) == sizeof(OnlineEntry));

}  // namespace

bool slot_is_free(int32_t procid) {
  if (procid == 0) return true;
  // Only a negative pid would make kill() reach a whole process group.
  if (procid < 0) return true;
  return ::kill(procid, 0) != 0 && errno == ESRCH;
}

int claim_slot(std::span<OnlineEntry> table, const OnlineEntry& prepared) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    auto procid = procid_of(table[i]);
    int32_t seen = procid.load();
    if (!slot_is_free(seen)) continue;
    // Another starter may take the same slot between the check and here;
    // then the exchange fails and the scan moves on.
    if (!procid.compare_exchange_strong(seen, prepared.procid)) continue;
    std::memcpy(&table[i], &prepared, kFieldsBeforeProcid);
    return static_cast<int>(i);
  }
  return -1;
}

void release_slot(OnlineEntry& entry, int32_t owner) {
  auto procid = procid_of(entry);
  if (procid.load() != owner) return;
  std::memset(&entry, 0, kFieldsBeforeProcid);
  int32_t expected = owner;
  procid.compare_exchange_strong(expected, 0);
}

void clear_slot(OnlineEntry& entry) {
  std::memset(&entry, 0, kFieldsBeforeProcid);
  procid_of(entry).store(0);
}

}  // namespace online
