// The passive and active address rings, built once at start-up.
#include "transfer/address_rings.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/idle_alarm.h"
#include "core/session_end.h"
#include "userdb/userfile.h"

namespace transfer {
namespace {

constexpr unsigned kResolverRetryPause = 3;

AddressRing build_ring(const char* key, bool with_nat_flag) {
  std::vector<AddrRingNode> nodes;
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config(key, cursor)) {
    const char* word = line->arg(1);
    if (word == nullptr) continue;
    AddrRingNode node;
    if (const int error = ring_address_of(word, node.addr); error != 0) {
      syslog(LOG_ERR, "Couldn't canonicalize local hostname (%d)", error);
      core::end_session(-1);
    }
    if (with_nat_flag && line->arg(2) != nullptr && std::atoi(line->arg(2)) == 1) node.nat_only = 1;
    nodes.push_back(node);
  }
  if (nodes.empty()) return AddressRing();
  const std::size_t lines = nodes.size();
  AddressRing ring(std::move(nodes));
  ring.skip(random_start(lines, ::random()));
  return ring;
}

}  // namespace

AddressRing::AddressRing(std::vector<AddrRingNode> nodes) : nodes_(std::move(nodes)) {
  if (nodes_.empty()) nodes_.resize(1);
}

AddressRing& passive_ring() {
  static AddressRing ring;
  return ring;
}

AddressRing& active_ring() {
  static AddressRing ring;
  return ring;
}

std::size_t random_start(std::size_t lines, long random) {
  // 64-bit product: lines * (2^31 - 1) cannot overflow for any real count.
  return static_cast<std::size_t>((static_cast<unsigned long long>(lines) *
                                   static_cast<unsigned long long>(random)) >> 31);
}

int ring_address_of(const char* word, char (&addr)[20]) {
  if (std::isdigit(static_cast<unsigned char>(word[0]))) {
    core::copy_field(addr, word);
    return 0;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int error = ::getaddrinfo(word, nullptr, &hints, &found);
  if (error == EAI_AGAIN) {
    core::pause_seconds(kResolverRetryPause);
    error = ::getaddrinfo(word, nullptr, &hints, &found);
  }
  if (error != 0) return error;
  char dotted[INET_ADDRSTRLEN] = {};
  const auto* first = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  ::inet_ntop(AF_INET, &first->sin_addr, dotted, sizeof dotted);
  ::freeaddrinfo(found);
  core::copy_field(addr, dotted);
  return 0;
}

void init_address_rings() {
  // Seeded once per process, so each process starts its rings elsewhere
  // and picks its own passive ports.
  ::srandom(static_cast<unsigned>(::time(nullptr)) ^ static_cast<unsigned>(::getpid()));
  passive_ring() = build_ring("pasv_addr", true);
  active_ring() = build_ring("active_addr", false);
}

}  // namespace transfer
