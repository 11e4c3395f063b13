// Counting sessions in the online table: the site, group, user and
// per-host login limits and the simultaneous-transfer limits.
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "core/session.h"
#include "online/online_table.h"
#include "online/visibility.h"

namespace online {

namespace {

bool is_user(const OnlineEntry& entry, const char* username) {
  return username != nullptr && field_text(entry.username) == std::string_view(username);
}

bool moves_in(const OnlineEntry& entry, Direction direction) {
  const std::string_view status = field_text(entry.status);
  if (direction == Direction::Download) return status.starts_with("RETR");
  return status.starts_with("STOR") || status.starts_with("APPE");
}

}  // namespace

int online_count(bool visible_only) {
  const int32_t own = static_cast<int32_t>(::getpid());
  int count = 0;
  for (const OnlineEntry& entry : table()) {
    if (entry.procid == 0) continue;
    if (visible_only && entry.procid != own) {
      if (in_hidden_directory(entry) || user_is_hidden(field_text(entry.username))) continue;
    }
    ++count;
  }
  return count;
}

int online_count_group(uint32_t groupid) {
  int count = 0;
  for (const OnlineEntry& entry : table()) {
    if (entry.procid != 0 && entry.groupid == groupid) ++count;
  }
  return count;
}

int online_count_user(const char* username) {
  int count = 0;
  for (const OnlineEntry& entry : table()) {
    if (entry.procid != 0 && is_user(entry, username)) ++count;
  }
  return count;
}

bool online_user_host_full(const char* username, int limit) {
  const std::string_view remote_host = core::session().remote_host;
  int count = 0;
  for (const OnlineEntry& entry : table()) {
    if (!is_user(entry, username)) continue;
    const std::string_view host = field_text(entry.host);
    const std::size_t at = host.find('@');
    if (at != std::string_view::npos && host.substr(at + 1) == remote_host) ++count;
  }
  return count >= limit;
}

bool online_transfers_full(const char* username, int limit, Direction direction) {
  if (limit < 0) return false;  // unlimited
  if (limit == 0) return true;  // no transfer allowed at all
  int count = 0;
  for (const OnlineEntry& entry : table()) {
    if (username != nullptr && !is_user(entry, username)) continue;
    if (entry.bytes_xfer != 0 && moves_in(entry, direction)) ++count;
  }
  return count >= limit;
}

}  // namespace online
