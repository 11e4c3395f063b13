// Timing a transfer.
#include "transfer/transfer_timing.h"

#include <cstdlib>
#include <string>

#include "core/format.h"
#include "core/session.h"
#include "online/online_table.h"
#include "transfer/data_socket.h"

namespace transfer {

TransferClock::TransferClock() : started_(monotonic_now()), started_seconds_(::time(nullptr)) {}

TransferTime TransferClock::stop() const {
  TransferTime taken;
  taken.seconds = static_cast<int>(::time(nullptr) - started_seconds_);
  taken.elapsed = elapsed_ms(started_) / 1000.0;
  return taken;
}

void export_transfer_speed(double elapsed) {
  const double rate = online::transfer_speed(core::session().online_slot, elapsed > 0 ? elapsed : 0.001);
  // "SPEED=%.0f" within 20 bytes: the value gets 14 of them.
  std::string value = core::format("%.0f", {rate});
  if (value.size() > 14) value.resize(14);
  ::setenv("SPEED", value.c_str(), 1);
}

}  // namespace transfer
