// Taking and giving back a slot of the online table. There is no lock on
// the table, so a slot changes hands only through an atomic compare-and-swap
// on its `procid`: two processes starting at the same moment can never both
// take the same free or ghost slot.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>

#include "online/online_entry.h"

namespace online {

// True when the slot has no living owner: `procid` 0, or a process that no
// longer exists (a ghost left by a session that died without logging out).
bool slot_is_free(int32_t procid);

// Claims the first free slot for `prepared.procid` and copies the prepared
// record into it; the slot index, or -1 when every slot is taken.
int claim_slot(std::span<OnlineEntry> table, const OnlineEntry& prepared);

// Zeroes the slot if `owner` still owns it. A KICK or KILL may already have
// zeroed it and a new session taken it; that session's record stays intact.
void release_slot(OnlineEntry& entry, int32_t owner);

// Zeroes a slot whatever its owner (KICK, KILL and the ghost kill).
void clear_slot(OnlineEntry& entry);

}  // namespace online
