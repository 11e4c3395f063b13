// Shared by the online table tests: a segment under a random key of its
// own, removed when the test ends, pass or fail.
#pragma once

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <random>

#include "online/online_entry.h"
#include "online/online_segment.h"

namespace online_test {

inline key_t unused_ipc_key() {
  std::random_device random;
  for (;;) {
    const key_t key = static_cast<key_t>(0x4D000000u | (random() & 0x00FFFFFFu));
    if (::shmget(key, 0, 0) == -1) return key;
  }
}

inline void remove_segment(key_t key) {
  const int id = ::shmget(key, 0, 0);
  if (id != -1) ::shmctl(id, IPC_RMID, nullptr);
}

inline bool segment_exists(key_t key) { return ::shmget(key, 0, 0) != -1; }

// A record as start-up prepares it, owned by `pid`.
inline online::OnlineEntry record_for(pid_t pid, const char* username = "-NEW-") {
  online::OnlineEntry entry{};
  online::copy_field(entry.username, username);
  online::copy_field(entry.status, "Connecting...");
  entry.procid = static_cast<int32_t>(pid);
  return entry;
}

class ScratchSegment {
 public:
  ScratchSegment() : key(unused_ipc_key()) {}
  ~ScratchSegment() {
    online::detach_table();
    remove_segment(key);
  }
  ScratchSegment(const ScratchSegment&) = delete;
  ScratchSegment& operator=(const ScratchSegment&) = delete;

  const key_t key;
};

}  // namespace online_test
