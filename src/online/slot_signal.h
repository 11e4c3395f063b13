// Ending the process that owns a slot of the online table (KICK, KILL and
// the ghost kill). Signals go out as root, so a slot's `procid`, which any
// process of the site can write, is never trusted to name a session: ids
// that would reach a process group, init or the super-server that started
// this process are refused.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "online/online_entry.h"

namespace online {

// Whether `pid` may receive SIGTERM from a session whose parent is
// `parent`: above 1 and not the parent.
bool may_signal(long pid, long parent);

// Whether the slot's owner may be signalled by this process.
bool slot_owner_signallable(int32_t pid);

// As root: when the slot still holds `pid` (read again just before the
// signal) and it may be signalled, sends SIGTERM and frees the slot while
// it still holds that pid. True when the signal went out.
bool end_slot_owner(OnlineEntry& entry, int32_t pid);

}  // namespace online
