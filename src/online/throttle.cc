// throttle_transfer: keeps a transfer within the user's own speed limit and
// shares an area's `speed_limit` among the transfers inside it.
#include "online/throttle.h"

#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "fs/match.h"
#include "online/online_table.h"
#include "session/session.h"

namespace online {

double damping_factor(long limit) {
  if (limit <= 1999) return 4.0;
  if (limit <= 2999) return 3.5;
  if (limit <= 4999) return 1.8;
  if (limit <= 6999) return 1.2;
  if (limit <= 8095) return 1.1;
  if (limit <= 99999) return 0.8;
  if (limit <= 500000) return 0.7;
  return 0.5;
}

namespace {

int64_t pause_against(long rate, long limit) {
  if (limit <= 0) return 0;
  return static_cast<int64_t>(static_cast<double>(rate) / static_cast<double>(limit) * 1000000.0 *
                              damping_factor(limit));
}

}  // namespace

int64_t throttle_pause_us(const BandwidthLoad& load) {
  if (load.area_limit != 0 && load.own_limit != 0 && load.own_limit < load.area_limit &&
      load.own_rate > load.own_limit) {
    return pause_against(load.own_rate, load.own_limit);
  }
  if (load.area_limit != 0) {
    if (load.area_total < load.area_limit) return 0;
    long share = load.area_limit / (load.sharers > 0 ? load.sharers : 1);
    if (share < 1) share = 1;
    return load.own_rate <= share ? 0 : pause_against(load.own_rate, share);
  }
  if (load.own_limit != 0 && load.own_rate > load.own_limit) {
    return pause_against(load.own_rate, load.own_limit);
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
    if (line->arg(4) != nullptr && config::acl_match("speed_limit", 1, 4, line) != 1) continue;
    if (!fs::wildcard_match(line->arg(1), path, false)) continue;
    const char* limit = line->arg(direction == Direction::Download ? 2 : 3);
    return {line->arg(1), limit ? std::strtol(limit, nullptr, 10) : 0};
  }
  return {};
}

BandwidthLoad measure_load(const AreaLimit& area, long own_limit, Direction direction, time_t now) {
  BandwidthLoad load;
  load.own_limit = own_limit;
  load.area_limit = area.limit;
  const std::span<OnlineEntry> entries = table();
  const int own_slot = session::session().online_slot;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const OnlineEntry& entry = entries[i];
    const uint32_t bytes = entry.bytes_xfer;
    if (bytes == 0 || entry.procid == 0 || !moves_like(entry, direction)) continue;
    const long seconds = static_cast<long>(now - entry.tstart.tv_sec);
    const long rate = static_cast<long>(bytes) / (seconds >= 1 ? seconds : 1);
    if (static_cast<int>(i) == own_slot) {
      load.own_rate = rate;
    } else if (area.pattern != nullptr) {
      const std::string dir(field_text(entry.currentdir));
      if (fs::wildcard_match(area.pattern, dir, false)) {
        load.area_total += rate;
        ++load.sharers;
      }
    }
  }
  load.area_total += load.own_rate;
  return load;
}

void throttle_transfer(const char* path, long own_limit, Direction direction) {
  const AreaLimit area = governing_speed_limit(path ? path : "", direction);
  if (area.pattern == nullptr && own_limit == 0) return;
  const BandwidthLoad load = measure_load(area, own_limit, direction, ::time(nullptr));
  if (const int64_t pause = throttle_pause_us(load); pause > 0) pause_for(pause);
}

}  // namespace online
