// The process's attachment to the shared online table: the segment id, the
// attached address, the table size and the own slot. Start-up and logout go
// through online_attach / online_release (online_table.h); tests and the
// site tool use these calls, which report failures instead of ending the
// process.
#pragma once

#include <sys/types.h>

#include <span>

#include "online/online_entry.h"

namespace online {

enum class AttachStatus { Attached, CreateFailed, AttachFailed, Full };

// Gets the segment of `key` sized for `slots` records (created with mode
// 0644 when missing), locks it in memory, attaches it and claims a slot
// with `prepared`. On success the slot index is stored in the session's
// `online_slot`. On Full the segment stays attached for the caller to
// show who is online; on the other failures nothing is attached.
AttachStatus attach_table(key_t key, int slots, const OnlineEntry& prepared);

// Releases the own slot (if held), removes the segment when this process is
// the last one attached, and detaches. Harmless when nothing is attached.
void detach_table();

// The attached table, empty when none.
std::span<OnlineEntry> attached_table();

// Sets the `max_users` value the login limit compares with.
void set_max_users(int users);

}  // namespace online
