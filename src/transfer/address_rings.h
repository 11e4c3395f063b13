// The outbound-address rings of `pasv_addr` and `active_addr`: each data
// connection takes the address under its ring's cursor, and the cursor moves
// on, so connections spread over the configured addresses.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace transfer {

struct AddrRingNode {
  // Dotted IPv4 text; empty: no override. IPv4 sessions only: an IPv6
  // session binds and announces its own control address.
  char addr[20] = {};
  int nat_only = 0;    // passive only: announce the address, never bind it
};

// A ring with at least one node; without configuration one empty node.
class AddressRing {
 public:
  AddressRing() : nodes_(1) {}
  explicit AddressRing(std::vector<AddrRingNode> nodes);

  const AddrRingNode& current() const { return nodes_[cursor_]; }
  void advance() { cursor_ = (cursor_ + 1) % nodes_.size(); }
  // Moves the cursor `steps` nodes forward.
  void skip(std::size_t steps) { cursor_ = (cursor_ + steps) % nodes_.size(); }
  std::size_t size() const { return nodes_.size(); }

 private:
  std::vector<AddrRingNode> nodes_;
  std::size_t cursor_ = 0;
};

AddressRing& passive_ring();
AddressRing& active_ring();

// The starting node of a process's ring of `lines` configured addresses:
// the integer part of lines * random / 2^31, for random in [0, 2^31).
std::size_t random_start(std::size_t lines, long random);

// Builds both rings from the configuration, resolving host names while the
// real root is still visible. A name that cannot be resolved ends the
// session (syslog "Couldn't canonicalize local hostname (%d)").
void init_address_rings();

// One node's address text: a word beginning with a digit is taken as it
// stands; a host name is resolved (retried once after 3 s when the resolver
// says "try again"). Returns the resolver error (0 on success).
int ring_address_of(const char* word, char (&addr)[20]);

}  // namespace transfer
