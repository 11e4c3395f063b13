// The nuke log "<datapath>/logs/nukelog": one fixed record per uploader of
// every nuke, oldest first; an unnuke turns the records of its path into
// unnuked ones in place.
//
// NUKE and UNNUKE run one at a time on a site: each holds the exclusive
// lock of "<datapath>/logs/nukelog.lock" from its checks to its last
// record, so a second nuke of one release finds it gone instead of charging
// its uploaders twice, and the appends and in-place changes below never
// meet each other. Readers (NUKES, UNNUKES, the text-file lists) take no
// lock: they read whole records and ignore a partial one at the end.
//
// This is a store: it returns what it found or changed and never replies.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/unique_fd.h"

namespace releases {

enum NukelogStatus : uint16_t {
  kNuked = 0,
  kUnnuked = 1,
};

// One record as it lies on disk (376 bytes, little-endian, no header).
// Text fields are NUL-padded and not terminated when full.
struct NukelogEntry {
  uint16_t status;      // a NukelogStatus
  uint16_t pad1;        // written as 0
  int32_t time;         // of the nuke, or of the unnuke once unnuked (core::now())
  char nuker[12];
  char unnuker[12];
  char nukee[12];       // the uploader charged
  uint16_t multiplier;  // the nuke multiplier, never above 65535
  uint16_t pad2;        // written as 0
  float amount;         // MiB of the nukee's files (bytes / 1,048,576)
  char reason[60];      // the nuke reason, the unnuke reason once unnuked
  char path[255];       // the directory as it was named before the nuke
  char pad3;            // written as 0
  uint32_t link1;       // reserved, 0
  uint32_t link2;       // reserved, 0
};
static_assert(sizeof(float) == 4);
static_assert(sizeof(NukelogEntry) == 376);
static_assert(offsetof(NukelogEntry, status) == 0);
static_assert(offsetof(NukelogEntry, pad1) == 2);
static_assert(offsetof(NukelogEntry, time) == 4);
static_assert(offsetof(NukelogEntry, nuker) == 8);
static_assert(offsetof(NukelogEntry, unnuker) == 20);
static_assert(offsetof(NukelogEntry, nukee) == 32);
static_assert(offsetof(NukelogEntry, multiplier) == 44);
static_assert(offsetof(NukelogEntry, pad2) == 46);
static_assert(offsetof(NukelogEntry, amount) == 48);
static_assert(offsetof(NukelogEntry, reason) == 52);
static_assert(offsetof(NukelogEntry, path) == 112);
static_assert(offsetof(NukelogEntry, pad3) == 367);
static_assert(offsetof(NukelogEntry, link1) == 368);
static_assert(offsetof(NukelogEntry, link2) == 372);
// Records are read and written as they lie in memory.
static_assert(std::endian::native == std::endian::little);

inline constexpr uint16_t kMaxNukeMultiplier = 65535;
inline constexpr std::size_t kMaxNukeReason = sizeof(NukelogEntry{}.reason);

// "<datapath>/logs/nukelog".
std::string nukelog_path();

// A fresh nuke record: status nuked, time core::now(), the texts cut to
// their fields.
NukelogEntry make_nuke_record(std::string_view nuker, std::string_view nukee, uint16_t multiplier, float amount_mib,
                              std::string_view path, std::string_view reason);

// Text fields are read back with core::full_width_text.

// The lock NUKE and UNNUKE hold from their checks to their last record,
// waited for; an empty descriptor when the lock file cannot be made or
// locked.
core::UniqueFd lock_nukes();

// Appends `record` with one write; a write cut short is taken back, so the
// log never keeps half a record. Creates the log root-owned 0644. Call
// under lock_nukes.
bool nukelog_add(const NukelogEntry& record);

// Every still-nuked record of exactly `path` becomes unnuked by `unnuker`
// with `reason` and the current time. Gives the number changed. Call under
// lock_nukes.
int nukelog_unnuke(std::string_view path, std::string_view unnuker, std::string_view reason);

// The multiplier of the newest still-nuked record of `path`.
std::optional<uint16_t> nuke_multiplier_of(std::string_view path);

// The `count` newest records with `status` (10 when count < 1), newest
// first. A missing or unreadable log gives none.
std::vector<NukelogEntry> recent_nukes(NukelogStatus status, int count);

}  // namespace releases
