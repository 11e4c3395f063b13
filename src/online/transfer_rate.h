// The arithmetic behind transfer_speed, apart from the table and the clock.
#pragma once

#include <cstdint>

#include "online/online_entry.h"

namespace online {

// Seconds from `start` to `now`, both read to a tenth of a second.
double elapsed_tenths(OnlineTime start, OnlineTime now);

// KiB/s of `bytes` over `elapsed` seconds: 0.0 below 500 bytes, and 1.0
// for a rate that comes out as exactly 0.0. An elapsed time under a tenth
// of a second (a transfer that just began, or a clock set back) counts as
// one tenth instead of dividing by zero.
double rate_kib(uint32_t bytes, double elapsed);

}  // namespace online
