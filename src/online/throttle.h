// The bandwidth decision of throttle_transfer, apart from the table, the
// configuration and the clock, so each case can be checked on its own.
#pragma once

#include <cstdint>
#include <sys/time.h>

#include <ctime>

#include "online/online_table.h"

namespace online {

// What the table says about one moment of a transfer.
struct BandwidthLoad {
  long own_rate = 0;    // bytes/s of the own transfer since it began
  double own_bytes = 0;    // bytes of the own transfer so far
  double own_elapsed = 0;  // seconds since the own transfer began
  long own_limit = 0;   // the user's own limit, 0 none
  long area_limit = 0;  // the governing speed_limit for this direction, 0 none
  long area_total = 0;  // own rate plus the rates of the sharers in the area
  long sharers = 1;     // transfers in the area, the own one included
};

// The `speed_limit` line that governs a path: the first, in configuration
// order, whose access list (from its fourth argument, when present) admits
// the session user and whose pattern matches the path without regard to
// case.
struct AreaLimit {
  const char* pattern = nullptr;  // nullptr: no line governs
  long limit = 0;                 // bytes/s in the asked direction, 0 none
};
AreaLimit governing_speed_limit(const char* path, Direction direction);

// throttle_transfer for a loop that looked up its governing line once.
void throttle_transfer(const AreaLimit& area, long own_limit, Direction direction);

// Reads the table at time `now`: the own rate, and the transfers in the
// same direction whose directory lies in the governed area.
BandwidthLoad measure_load(const AreaLimit& area, long own_limit, Direction direction,
                            const timeval& now);

// Microseconds to pause, 0 for none: exactly long enough that the own
// transfer's average since it began comes down to the limit that applies.
// A limit of 0 means "no limit" and never divides; a share smaller than one
// byte/s counts as one.
int64_t throttle_pause_us(const BandwidthLoad& load);

}  // namespace online
