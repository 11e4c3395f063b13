// EPRT and EPSV arguments, the bounce rule and mapped IPv4 addresses.
#include <gtest/gtest.h>
#include <arpa/inet.h>

#include "core/net_address.h"
#include "transfer/data_address.h"

namespace {

using transfer::EprtArgument;
using Error = EprtArgument::Error;

core::NetAddress at(const char* host, uint16_t port) { return *core::NetAddress::from_text(host, port); }

struct EprtRow {
  const char* text;
  Error error;
  const char* host;  // when accepted
  int port;
};

TEST(EprtArgument, AcceptsEitherFamilyUnderItsOwnNumberOnly) {
  const EprtRow rows[] = {
      {"|1|132.235.1.2|6275|", Error::kNone, "132.235.1.2", 6275},
      {"|2|1080::8:800:200C:417A|5282|", Error::kNone, "1080::8:800:200c:417a", 5282},
      {"!2!::1!65535!", Error::kNone, "::1", 65535},
      {"|2|::ffff:10.0.0.1|4000|", Error::kNone, "10.0.0.1", 4000},  // mapped: plain IPv4
      {"|3|10.0.0.1|4000|", Error::kUnsupportedProtocol, nullptr, 0},
      {"|1|::1|4000|", Error::kSyntax, nullptr, 0},
      {"|2|10.0.0.1|4000|", Error::kSyntax, nullptr, 0},
      {"|1|10.0.0.1|0|", Error::kSyntax, nullptr, 0},
      {"|1|10.0.0.1|65536|", Error::kSyntax, nullptr, 0},
      {"|1|10.0.0.1|4000", Error::kSyntax, nullptr, 0},
      {"|1|10.0.0.1|4000|5|", Error::kSyntax, nullptr, 0},
      {"|1|host.example|4000|", Error::kSyntax, nullptr, 0},
      {"1|10.0.0.1|4000|1", Error::kSyntax, nullptr, 0},
      {"||10.0.0.1|4000|", Error::kSyntax, nullptr, 0},
      {"", Error::kSyntax, nullptr, 0},
  };
  for (const EprtRow& row : rows) {
    const EprtArgument parsed = transfer::parse_eprt_argument(row.text);
    EXPECT_EQ(parsed.error, row.error) << row.text;
    if (row.error != Error::kNone) continue;
    EXPECT_EQ(parsed.address.host_text(), row.host) << row.text;
    EXPECT_EQ(parsed.address.port(), row.port) << row.text;
  }
}

TEST(EpsvArgument, NothingANumberOrAll) {
  using Kind = transfer::EpsvArgument::Kind;
  EXPECT_EQ(transfer::parse_epsv_argument(std::nullopt).kind, Kind::kAny);
  EXPECT_EQ(transfer::parse_epsv_argument(std::string("all")).kind, Kind::kAll);
  const transfer::EpsvArgument two = transfer::parse_epsv_argument(std::string("2"));
  EXPECT_EQ(two.kind, Kind::kProtocol);
  EXPECT_EQ(two.protocol, 2);
  EXPECT_EQ(transfer::parse_epsv_argument(std::string("ALL 1")).kind, Kind::kSyntax);
}

TEST(BounceRule, PrivilegedPortsOnlyAtTheClientsOwnAddress) {
  const core::NetAddress peer = at("127.0.0.1", 40000);
  EXPECT_TRUE(transfer::is_bounce_destination(at("127.0.0.2", 25), peer));
  EXPECT_TRUE(transfer::is_bounce_destination(at("127.0.0.2", 1023), peer));
  EXPECT_FALSE(transfer::is_bounce_destination(at("127.0.0.2", 1024), peer));
  EXPECT_FALSE(transfer::is_bounce_destination(at("127.0.0.1", 25), peer));
  EXPECT_TRUE(transfer::is_bounce_destination(at("::1", 25), peer));
  EXPECT_FALSE(transfer::is_bounce_destination(at("::1", 25), at("::1", 40000)));
}

TEST(NetAddress, AMappedPeerIsPlainIpv4) {
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = htons(2121);
  ::inet_pton(AF_INET6, "::ffff:192.0.2.7", &mapped.sin6_addr);
  const core::NetAddress peer =
      core::NetAddress::from_socket(reinterpret_cast<const sockaddr*>(&mapped), sizeof mapped);
  EXPECT_EQ(peer.family(), AF_INET);
  EXPECT_EQ(peer.host_text(), "192.0.2.7");
  EXPECT_EQ(peer.port(), 2121);
  EXPECT_TRUE(peer.same_host(at("192.0.2.7", 1)));
  EXPECT_FALSE(core::NetAddress::from_text("localhost", 21));
}

}  // namespace
