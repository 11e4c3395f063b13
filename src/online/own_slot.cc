// The accessors through which the rest of the server writes its own slot
// of the online table.
#include <sys/time.h>

#include <cstring>

#include "core/format.h"
#include "core/session.h"
#include "online/online_table.h"

namespace online {

namespace {

OnlineTime time_of_day() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  return {static_cast<int32_t>(now.tv_sec), static_cast<int32_t>(now.tv_usec)};
}

}  // namespace

OnlineEntry* own_entry() {
  const int slot = core::session().online_slot;
  const std::span<OnlineEntry> entries = table();
  if (slot < 0 || static_cast<std::size_t>(slot) >= entries.size()) return nullptr;
  return &entries[static_cast<std::size_t>(slot)];
}

void set_own_status(const char* text) {
  OnlineEntry* own = own_entry();
  if (own == nullptr || text == nullptr) return;
  const bool marked = entry_is_protected(*own);
  copy_field(own->status, text);
  if (marked) set_own_protection(true);
}

void set_own_protection(bool is_protected) {
  OnlineEntry* own = own_entry();
  if (own == nullptr) return;
  // The terminator before the mark keeps the command line apart from it.
  char* mark = own->status + kProtectedMarkAt;
  if (is_protected) {
    mark[-1] = '\0';
    std::memcpy(mark, kProtectedMark, sizeof kProtectedMark);
  } else {
    std::memset(mark, 0, sizeof kProtectedMark);
  }
}

void set_own_command_start() {
  if (OnlineEntry* own = own_entry()) own->tstart = time_of_day();
}

void set_own_identity(const char* username, const char* tagline) {
  OnlineEntry* own = own_entry();
  if (own == nullptr) return;
  copy_field(own->username, username ? username : "");
  copy_field(own->tagline, tagline ? tagline : "");
}

void set_own_groupid(uint32_t groupid) {
  if (OnlineEntry* own = own_entry()) own->groupid = groupid;
}

void set_own_currentdir(const char* dir) {
  if (OnlineEntry* own = own_entry(); own != nullptr && dir != nullptr) copy_field(own->currentdir, dir);
}

void set_own_host(const char* ident_user, const char* remote_host) {
  if (OnlineEntry* own = own_entry()) {
    copy_field(own->host, core::format("%s@%s", {ident_user, remote_host}));
  }
}

void begin_own_transfer() {
  if (OnlineEntry* own = own_entry()) {
    own->tstart = time_of_day();
    own->bytes_xfer = 0;
  }
}

void add_own_transfer_bytes(uint64_t bytes) {
  // The field is 32 bits wide. It stops at its maximum rather than wrapping,
  // because a count that wrapped to 0 would read as "no transfer" and let
  // the simultaneous-transfer limits be passed.
  OnlineEntry* own = own_entry();
  if (own == nullptr) return;
  const uint64_t total = own->bytes_xfer + bytes;
  own->bytes_xfer = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}

void end_own_transfer() {
  if (OnlineEntry* own = own_entry()) own->bytes_xfer = 0;
}

}  // namespace online
