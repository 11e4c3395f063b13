// throttle_transfer: keeps a transfer within the user's own speed limit and
// shares an area's `speed_limit` among the transfers inside it.
#include "online/throttle.h"

#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/match.h"
#include "core/session.h"
#include "online/online_table.h"

namespace online {

namespace {

// Rates are measured from the transfer's start to the microsecond, so the
// first second of a transfer is held to the limit like every other.
constexpr double kShortestElapsed = 0.001;

// The pause after which bytes sent so far, over the time since the start,
// average exactly `limit` bytes/s.
int64_t pause_against(const BandwidthLoad& load, long limit) {
  if (limit <= 0) return 0;
  const double due = load.own_bytes / static_cast<double>(limit);
  const double pause = due - load.own_elapsed;
  // Rounded to the nearest microsecond (the pause is positive here).
  return pause > 0 ? static_cast<int64_t>(pause * 1000000.0 + 0.5) : 0;
}

}  // namespace

int64_t throttle_pause_us(const BandwidthLoad& load) {
  if (load.area_limit != 0 && load.own_limit != 0 && load.own_limit < load.area_limit &&
      load.own_rate > load.own_limit) {
    return pause_against(load, load.own_limit);
  }
  if (load.area_limit != 0) {
    if (load.area_total < load.area_limit) return 0;
    long share = load.area_limit / (load.sharers > 0 ? load.sharers : 1);
    if (share < 1) share = 1;
    return load.own_rate <= share ? 0 : pause_against(load, share);
  }
  if (load.own_limit != 0 && load.own_rate > load.own_limit) {
    return pause_against(load, load.own_limit);
  }
  return 0;
}

namespace {

bool moves_like(const OnlineEntry& entry, Direction direction) {
  const bool retrieving = field_text(entry.status).starts_with("RETR");
  return direction == Direction::Download ? retrieving : !retrieving;
}

void pause_for(int64_t microseconds) {
  timespec pause{static_cast<time_t>(microseconds / 1000000),
                 static_cast<long>(microseconds % 1000000) * 1000};
  // A signal (ABOR, STAT through urgent data) ends the pause early, so the
  // transfer loop can act on it at once.
  ::nanosleep(&pause, nullptr);
}

}  // namespace

AreaLimit governing_speed_limit(const char* path, Direction direction) {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("speed_limit", cursor)) {
    if (line->arg(1) == nullptr) continue;
    if (line->arg(4) != nullptr && config::acl_match("speed_limit", 4, line) != 1) continue;
    if (!core::wildcard_match(line->arg(1), path, false)) continue;
    const char* limit = line->arg(direction == Direction::Download ? 2 : 3);
    return {line->arg(1), limit ? std::strtol(limit, nullptr, 10) : 0};
  }
  return {};
}

BandwidthLoad measure_load(const AreaLimit& area, long own_limit, Direction direction,
                            const timeval& now) {
  BandwidthLoad load;
  load.own_limit = own_limit;
  load.area_limit = area.limit;
  const std::span<OnlineEntry> entries = table();
  const int own_slot = core::session().online_slot;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const OnlineEntry& entry = entries[i];
    const uint32_t bytes = entry.bytes_xfer;
    if (bytes == 0 || entry.procid == 0 || !moves_like(entry, direction)) continue;
    double elapsed = static_cast<double>(now.tv_sec - entry.tstart.tv_sec) +
                     static_cast<double>(now.tv_usec - entry.tstart.tv_usec) / 1e6;
    if (elapsed < kShortestElapsed) elapsed = kShortestElapsed;
    const long rate = static_cast<long>(static_cast<double>(bytes) / elapsed);
    if (static_cast<int>(i) == own_slot) {
      load.own_rate = rate;
      load.own_bytes = static_cast<double>(bytes);
      load.own_elapsed = elapsed;
    } else if (area.pattern != nullptr) {
      const std::string dir(field_text(entry.currentdir));
      if (core::wildcard_match(area.pattern, dir, false)) {
        load.area_total += rate;
        ++load.sharers;
      }
    }
  }
  load.area_total += load.own_rate;
  return load;
}

void throttle_transfer(const char* path, long own_limit, Direction direction) {
  throttle_transfer(governing_speed_limit(path ? path : "", direction), own_limit, direction);
}

void throttle_transfer(const AreaLimit& area, long own_limit, Direction direction) {
  if (area.pattern == nullptr && own_limit == 0) return;
  timeval now{};
  ::gettimeofday(&now, nullptr);
  const BandwidthLoad load = measure_load(area, own_limit, direction, now);
  if (const int64_t pause = throttle_pause_us(load); pause > 0) pause_for(pause);
}

}  // namespace online
