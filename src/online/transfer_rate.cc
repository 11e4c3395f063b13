// transfer_speed and online_since_text: rates and ages shown to users.
#include "online/transfer_rate.h"

#include <sys/time.h>

#include "core/format.h"
#include "core/session.h"
#include "online/online_table.h"

namespace online {

double elapsed_tenths(OnlineTime start, OnlineTime now) {
  const int64_t from = int64_t{start.tv_sec} * 10 + start.tv_usec / 100000;
  const int64_t to = int64_t{now.tv_sec} * 10 + now.tv_usec / 100000;
  return static_cast<double>(to - from) / 10.0;
}

double rate_kib(uint32_t bytes, double elapsed) {
  if (bytes < 500) return 0.0;
  if (!(elapsed >= 0.1)) elapsed = 0.1;
  const double rate = bytes * (1.0 / 1024.0) / elapsed;
  return rate == 0.0 ? 1.0 : rate;
}

double transfer_speed(int slot, double stored_elapsed) {
  const std::span<OnlineEntry> entries = table();
  if (slot < 0 || static_cast<std::size_t>(slot) >= entries.size()) return 0.0;
  // Another process writes this slot while it is read: take each field once.
  const OnlineEntry& entry = entries[static_cast<std::size_t>(slot)];
  const uint32_t bytes = entry.bytes_xfer;
  const OnlineTime start = entry.tstart;
  if (stored_elapsed > 0) return rate_kib(bytes, stored_elapsed);
  timeval now{};
  ::gettimeofday(&now, nullptr);
  return rate_kib(bytes, elapsed_tenths(start, {static_cast<int32_t>(now.tv_sec),
                                                static_cast<int32_t>(now.tv_usec)}));
}

std::string online_since_text(time_t t) {
  long seconds = static_cast<long>(core::now() - t);
  if (seconds < 0) seconds = 0;  // a stamp from the future is "just now"
  const long hours = seconds / 3600;
  const long minutes = seconds % 3600 / 60;
  seconds %= 60;
  if (hours > 0) return core::format("%02d:%02d:%02d", {hours, minutes, seconds});
  return core::format("   %02d:%02d", {minutes, seconds});
}

}  // namespace online
