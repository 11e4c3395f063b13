// Socket addresses of both families, with mapped IPv4 taken as IPv4.
#include "core/net_address.h"

#include <arpa/inet.h>
#include <netinet/ip.h>

#include <cstring>

namespace core {

NetAddress NetAddress::from_socket(const sockaddr* address, socklen_t length) {
  NetAddress result;
  if (address == nullptr) return result;
  if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
    std::memcpy(&result.storage_, address, sizeof(sockaddr_in));
    return result;
  }
  if (address->sa_family != AF_INET6 || length < sizeof(sockaddr_in6)) return result;
  sockaddr_in6 six{};
  std::memcpy(&six, address, sizeof six);
  if (!IN6_IS_ADDR_V4MAPPED(&six.sin6_addr)) {
    result.as_ipv6() = six;
    return result;
  }
  in_addr four{};
  std::memcpy(&four, &six.sin6_addr.s6_addr[12], sizeof four);
  return from_ipv4(four, ntohs(six.sin6_port));
}

std::optional<NetAddress> NetAddress::from_text(std::string_view host, uint16_t port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (host.empty() || host.size() >= sizeof text || host.find('\0') != std::string_view::npos)
    return std::nullopt;
  std::memcpy(text, host.data(), host.size());
  in_addr four{};
  if (::inet_pton(AF_INET, text, &four) == 1) return from_ipv4(four, port);
  in6_addr six{};
  if (::inet_pton(AF_INET6, text, &six) != 1) return std::nullopt;
  sockaddr_in6 whole{};
  whole.sin6_family = AF_INET6;
  whole.sin6_addr = six;
  whole.sin6_port = htons(port);
  return from_socket(reinterpret_cast<const sockaddr*>(&whole), sizeof whole);
}

NetAddress NetAddress::from_ipv4(const in_addr& host, uint16_t port) {
  NetAddress result;
  sockaddr_in& four = result.as_ipv4();
  four.sin_family = AF_INET;
  four.sin_addr = host;
  four.sin_port = htons(port);
  return result;
}

uint16_t NetAddress::port() const {
  if (family() == AF_INET) return ntohs(as_ipv4().sin_port);
  if (family() == AF_INET6) return ntohs(as_ipv6().sin6_port);
  return 0;
}

void NetAddress::set_port(uint16_t port) {
  if (family() == AF_INET) as_ipv4().sin_port = htons(port);
  if (family() == AF_INET6) as_ipv6().sin6_port = htons(port);
}

std::string NetAddress::host_text() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (family() == AF_INET) ::inet_ntop(AF_INET, &as_ipv4().sin_addr, text, sizeof text);
  if (family() == AF_INET6) ::inet_ntop(AF_INET6, &as_ipv6().sin6_addr, text, sizeof text);
  return text;
}

bool NetAddress::same_host(const NetAddress& other) const {
  if (family() != other.family()) return false;
  if (family() == AF_INET) return as_ipv4().sin_addr.s_addr == other.as_ipv4().sin_addr.s_addr;
  if (family() == AF_INET6)
    return std::memcmp(&as_ipv6().sin6_addr, &other.as_ipv6().sin6_addr, sizeof(in6_addr)) == 0;
  return false;
}

bool NetAddress::is_loopback() const {
  if (family() == AF_INET) return as_ipv4().sin_addr.s_addr == htonl(INADDR_LOOPBACK);
  if (family() == AF_INET6) return IN6_IS_ADDR_LOOPBACK(&as_ipv6().sin6_addr);
  return false;
}

bool NetAddress::set_host_text(std::string_view host) {
  std::optional<NetAddress> parsed = from_text(host, port());
  if (!parsed || parsed->family() != family()) return false;
  *this = *parsed;
  return true;
}

socklen_t NetAddress::length() const {
  if (family() == AF_INET) return sizeof(sockaddr_in);
  if (family() == AF_INET6) return sizeof(sockaddr_in6);
  return 0;
}

bool set_type_of_service(int fd, int value, const NetAddress& own) {
  // A v4-mapped address reads as IPv4 here, and takes IP_TOS.
  if (own.is_ipv6()) return ::setsockopt(fd, IPPROTO_IPV6, IPV6_TCLASS, &value, sizeof value) == 0;
  return ::setsockopt(fd, IPPROTO_IP, IP_TOS, &value, sizeof value) == 0;
}

bool set_type_of_service(int fd, int value) {
  sockaddr_storage own{};
  socklen_t length = sizeof own;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length) != 0) return false;
  return set_type_of_service(fd, value, NetAddress::from_socket(reinterpret_cast<const sockaddr*>(&own), length));
}

}  // namespace core
