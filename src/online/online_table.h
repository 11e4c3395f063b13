// The online user table: one OnlineEntry per server process in a System V
// shared-memory segment that every process of the site attaches. Each
// process writes only its own slot; everyone reads every slot without locks.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>

#include "online/online_entry.h"

namespace online {

enum class Direction { Download, Upload };

// --- The own slot. Before a slot is taken these do nothing (or return
// nullptr), so callers need not check.

// Copies the command line into the own `status`, bounded by its width.
void set_own_status(const char* text);
// Marks the own slot as a session with a protected control connection, or
// clears the mark (CCC).
void set_own_protection(bool is_protected);
// Stamps the own `tstart` with the current time of day.
void set_own_command_start();
// The own slot, or nullptr while none is held.
OnlineEntry* own_entry();
// Login fills the name and tagline; the group and directory have their own
// setters because group changes and CWD write them later.
void set_own_identity(const char* username, const char* tagline);
void set_own_groupid(uint32_t groupid);
void set_own_currentdir(const char* dir);
// "%s@%s" of the ident user and remote host (an IDNT line may change both).
void set_own_host(const char* ident_user, const char* remote_host);
// Transfer progress: begin stamps `tstart` and zeroes `bytes_xfer`, add
// advances it, end zeroes it again.
void begin_own_transfer();
void add_own_transfer_bytes(uint64_t bytes);
void end_own_transfer();

// --- The table.

// Frees the own slot; the last process attached marks the segment for
// removal. For a process about to end: the table stays mapped until its
// exit detaches it.
void online_release();

// Every slot, free ones included; empty before online_attach.
std::span<OnlineEntry> table();
// The first `max_users` argument (users allowed online).
int max_users();

// Sessions online; with `visible_only` sessions of others that are hidden
// (hideinwho directory or hideuser user) are left out.
int online_count(bool visible_only);
int online_count_group(uint32_t groupid);
int online_count_user(const char* username);
// True when `username` already has `limit` sessions from the caller's host.
bool online_user_host_full(const char* username, int limit);
// True when `username`'s (nullptr: everybody's) active transfers in
// `direction` number at least `limit`; a limit of 0 is always full.
bool online_transfers_full(const char* username, int limit, Direction direction);

// Transfer rate of a slot in KiB/s. `stored_elapsed` (seconds, > 0) replaces
// the clock for a transfer that has already ended.
double transfer_speed(int slot, double stored_elapsed = 0.0);
// Sleeps as needed to keep the own transfer within the user's own limit
// (bytes/s, 0 none) and the area's shared `speed_limit`.
void throttle_transfer(const char* path, long own_limit, Direction direction);
// Elapsed time since `t` (a time stamp with the timezone offset) as
// "hh:mm:ss", or "   mm:ss" below an hour.
std::string online_since_text(time_t t);

// Ends the oldest other session of `username` (a ghost left by a lost
// connection): how long ago that session started, in seconds, or nothing
// when the user has no other session.
std::optional<long> kill_ghost(const char* username);

}  // namespace online
