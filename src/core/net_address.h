// NetAddress: one socket address of either family (IPv4 or IPv6), the way
// the session keeps its peer, local and data addresses. An IPv4 client
// reaching an IPv6 listener shows as an IPv4-mapped address; such an
// address is taken as the plain IPv4 address it stands for, so every log
// line, mask and comparison sees "192.0.2.7", never "::ffff:192.0.2.7".
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

class NetAddress {
 public:
  NetAddress() = default;

  // From what accept, getpeername or getsockname filled in; a mapped IPv4
  // address becomes plain IPv4. An unknown family gives an empty address.
  static NetAddress from_socket(const sockaddr* address, socklen_t length);
  // A numeric host text (dotted IPv4 or IPv6; never a name) and a port.
  static std::optional<NetAddress> from_text(std::string_view host, uint16_t port);
  static NetAddress from_ipv4(const in_addr& host, uint16_t port);

  bool empty() const { return family() == AF_UNSPEC; }
  int family() const { return storage_.ss_family; }
  bool is_ipv6() const { return family() == AF_INET6; }
  uint16_t port() const;  // host order
  void set_port(uint16_t port);
  // The host part as text: dotted IPv4 or RFC 5952 IPv6; empty when empty.
  std::string host_text() const;
  // Same family and same host part; ports are not compared.
  bool same_host(const NetAddress& other) const;
  bool is_loopback() const;
  // Replaces the host part by `host` (same family only); false otherwise.
  bool set_host_text(std::string_view host);

  // The IPv4 parts; meaningful only when family() is AF_INET.
  const in_addr& ipv4_host() const { return as_ipv4().sin_addr; }

  const sockaddr* raw() const { return reinterpret_cast<const sockaddr*>(&storage_); }
  socklen_t length() const;

 private:
  const sockaddr_in& as_ipv4() const { return reinterpret_cast<const sockaddr_in&>(storage_); }
  const sockaddr_in6& as_ipv6() const { return reinterpret_cast<const sockaddr_in6&>(storage_); }
  sockaddr_in& as_ipv4() { return reinterpret_cast<sockaddr_in&>(storage_); }
  sockaddr_in6& as_ipv6() { return reinterpret_cast<sockaddr_in6&>(storage_); }

  sockaddr_storage storage_{};
};

// Sets the IP type of service (IPv4) or traffic class (IPv6) of a socket;
// false, with errno, when the system refuses.
bool set_type_of_service(int fd, int value);
// The same for a socket whose own address is known.
bool set_type_of_service(int fd, int value, const NetAddress& own);

}  // namespace core
