// The System V shared-memory segment holding the online table, and the
// process-local state that goes with it.
#include "online/online_segment.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

#include "core/session.h"
#include "online/online_table.h"
#include "online/slot_claim.h"

namespace online {

namespace {

struct Attachment {
  int segment_id = -1;
  OnlineEntry* entries = nullptr;
  int slots = 0;
  int max_users = 1;
};

Attachment& attachment() {
  static Attachment instance;
  return instance;
}

// The last process leaving removes the segment; one that found it just
// before that would otherwise sit alone in a table nobody else can find.
// Such a segment is marked for destruction, so it is left for a fresh one.
bool segment_is_removed(int id) {
  shmid_ds status{};
  return ::shmctl(id, IPC_STAT, &status) == 0 && (status.shm_perm.mode & SHM_DEST) != 0;
}

constexpr int kRemovedSegmentRetries = 5;

}  // namespace

AttachStatus attach_table(key_t key, int slots, const OnlineEntry& prepared) {
  Attachment& a = attachment();
  // A table of no slots still gets a segment of one record, so that the
  // full site can be told apart from a missing segment.
  const std::size_t records = slots > 0 ? static_cast<std::size_t>(slots) : 1;
  int id = -1;
  void* address = nullptr;
  for (int attempt = 0;; ++attempt) {
    id = ::shmget(key, records * sizeof(OnlineEntry), IPC_CREAT | 0644);
    if (id == -1) return AttachStatus::CreateFailed;
    // Keeps the table out of swap; the system may refuse and that is fine.
    ::shmctl(id, SHM_LOCK, nullptr);
    address = ::shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) return AttachStatus::AttachFailed;
    if (attempt == kRemovedSegmentRetries || !segment_is_removed(id)) break;
    ::shmdt(address);
  }
  // One call maps every page of the table: a page fault for each page
  // the first scan touches costs a session far more.
  ::madvise(address, records * sizeof(OnlineEntry), MADV_POPULATE_WRITE);
  a.segment_id = id;
  a.entries = static_cast<OnlineEntry*>(address);
  a.slots = slots > 0 ? slots : 0;
  const int slot = claim_slot(attached_table(), prepared);
  if (slot < 0) return AttachStatus::Full;
  core::session().online_slot = slot;
  return AttachStatus::Attached;
}

namespace {

// Frees the process's slot; the last process attached marks the segment
// for removal (it goes when that process detaches).
void leave_table(Attachment& a) {
  int& slot = core::session().online_slot;
  if (slot >= 0 && slot < a.slots) release_slot(a.entries[slot], static_cast<int32_t>(::getpid()));
  slot = -1;
  shmid_ds status{};
  if (::shmctl(a.segment_id, IPC_STAT, &status) == 0 && status.shm_nattch <= 1) {
    ::shmctl(a.segment_id, IPC_RMID, nullptr);
  }
}

}  // namespace

// The process ends right after: its exit detaches the table together with
// the rest of its memory, where a detach of its own would cost a flush of
// the address translations (here ~0.6 ms, a twentieth of a short session).
void online_release() {
  Attachment& a = attachment();
  if (a.entries != nullptr) leave_table(a);
}

void detach_table() {
  Attachment& a = attachment();
  if (a.entries == nullptr) return;
  leave_table(a);
  ::shmdt(a.entries);
  a = Attachment{.max_users = a.max_users};
}

std::span<OnlineEntry> attached_table() {
  const Attachment& a = attachment();
  if (a.entries == nullptr) return {};
  return {a.entries, static_cast<std::size_t>(a.slots)};
}

void set_max_users(int users) { attachment().max_users = users; }

std::span<OnlineEntry> table() { return attached_table(); }

int max_users() { return attachment().max_users; }

}  // namespace online
