// How long a download or upload took: whole seconds for the statistics and
// the transfer log, the exact time for the rate, and the SPEED variable the
// site's scripts (post_check) read after a transfer.
#pragma once

#include <ctime>

namespace transfer {

struct TransferTime {
  int seconds = 0;       // wall-clock seconds, as the statistics count them
  double elapsed = 0.0;  // seconds on the monotonic clock
};

class TransferClock {
 public:
  TransferClock();
  TransferTime stop() const;

 private:
  timespec started_;
  time_t started_seconds_;
};

// Sets SPEED to the own online slot's rate (KiB/s) over `elapsed` seconds.
void export_transfer_speed(double elapsed);

}  // namespace transfer
