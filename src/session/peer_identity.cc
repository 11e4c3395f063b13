// Peer identification: reverse lookup, bouncer recognition, IDNT.
#include "session/peer_identity.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/idle_alarm.h"
#include "core/process_title.h"
#include "core/session.h"
#include "userdb/userfile.h"

namespace session {
namespace {

constexpr unsigned kLookupRetryPause = 3;

}  // namespace

bool is_dotted_address(std::string_view text) {
  return core::NetAddress::from_text(text, 0).has_value();
}

std::optional<std::string> reverse_lookup(const core::NetAddress& address, int retries) {
  if (retries <= 0 || address.empty()) return std::nullopt;
  char name[NI_MAXHOST];
  for (int tries = 0;; ++tries) {
    int result = ::getnameinfo(address.raw(), address.length(), name, sizeof name, nullptr, 0,
                               NI_NAMEREQD);
    if (result == 0) return std::string(name);
    if (result != EAI_AGAIN || tries >= retries) return std::nullopt;
    core::pause_seconds(kLookupRetryPause);
  }
}

void log_connection(const core::NetAddress& peer) {
  core::Session& s = core::session();
  const std::string dotted = peer.host_text();
  std::optional<std::string> name = reverse_lookup(peer, s.dns_retries);
  core::copy_field(s.remote_host, name ? std::string_view(*name) : std::string_view(dotted));
  core::copy_field(s.remote_ip, dotted);
  core::set_process_title("%s: connected", s.remote_host);
  if (s.debug) {
    time_t stamp = core::now();
    syslog(LOG_INFO, "connection from %s at %s", s.remote_host, std::ctime(&stamp));
  }
}

bool peer_is_bouncer() {
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config("bouncer_ip", cursor);
  if (line == nullptr) return false;
  for (int n = 1; n <= config::kMaxArgs && line->arg(n) != nullptr; ++n) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(line->arg(n), nullptr, &hints, &found) != 0 || found == nullptr) {
      syslog(LOG_ERR, "Can't resolve '%s' from the bouncer_ip line", line->arg(n));
      continue;
    }
    const std::string dotted =
        core::NetAddress::from_socket(found->ai_addr, found->ai_addrlen).host_text();
    ::freeaddrinfo(found);
    if (dotted == core::session().remote_ip) return true;
  }
  return false;
}

bool take_idnt_argument(std::string_view argument) {
  std::size_t at = argument.find('@');
  if (at == std::string_view::npos) return false;
  core::Session& s = core::session();
  core::copy_field(s.ident_user, argument.substr(0, at));
  std::string_view address_and_host = argument.substr(at + 1);
  std::size_t colon = address_and_host.find(':');
  core::copy_field(s.remote_ip, address_and_host.substr(0, colon));
  bool host_named = false;
  if (colon != std::string_view::npos) {
    std::string_view host = address_and_host.substr(colon + 1);
    core::copy_field(s.remote_host, host);
    host_named = !is_dotted_address(host);
  }
  if (!host_named) {
    std::optional<std::string> name;
    if (std::optional<core::NetAddress> address = core::NetAddress::from_text(s.remote_ip, 0))
      name = reverse_lookup(*address, s.dns_retries);
    core::copy_field(s.remote_host, name ? std::string_view(*name) : std::string_view(s.remote_ip));
  }
  s.ident_known = 1;
  s.bouncer_mode = 0;
  return true;
}

}  // namespace session
