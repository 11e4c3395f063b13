// The passive port walk over the `pasv_ports` ranges and the address rings
// that pick the announced and bound addresses.
#include <gtest/gtest.h>

#include <set>

#include "config/config_store.h"
#include "transfer/address_rings.h"
#include "transfer/passive_ports.h"
#include "userdb_site_fixture.h"

namespace {

using core::PasvRange;
using transfer::PassivePortPicker;

TEST(PassivePorts, WithoutPasvPortsTheSystemChoosesEveryPort) {
  PasvRange ranges[50] = {};
  int next = -1;
  PassivePortPicker picker(ranges, next);
  EXPECT_EQ(picker.port_to_try(12345), 0);
  picker.after_bind();
  EXPECT_EQ(next, -1);
}

TEST(PassivePorts, RangesRunFromLowToOneBelowHigh) {
  PasvRange ranges[50] = {{40000, 40010}};
  int next = 0;
  std::set<int> seen;
  for (long random = 0; random < 100; ++random) {
    PassivePortPicker picker(ranges, next);
    seen.insert(picker.port_to_try(random));
  }
  EXPECT_EQ(*seen.begin(), 40000);
  EXPECT_EQ(*seen.rbegin(), 40009);
  EXPECT_EQ(seen.size(), 10u);
}

TEST(PassivePorts, ASmallRangeIsLeftAfterAQuarterOfItsSpan) {
  // 7000-7004 spans 4 ports: a quarter is 1, so the second try moves on.
  PasvRange ranges[50] = {{7000, 7004}, {8000, 0}};
  int next = 0;
  {
    PassivePortPicker picker(ranges, next);
    picker.port_to_try(0);
    picker.after_bind();
    EXPECT_EQ(next, 0);
    picker.port_to_try(1);
    picker.after_bind();
    EXPECT_EQ(next, 1);
  }
  // The next PASV starts in the single-port entry and leaves it after
  // every bind, wrapping at the first empty entry.
  PassivePortPicker picker(ranges, next);
  EXPECT_EQ(picker.port_to_try(99), 8000);
  picker.after_bind();
  EXPECT_EQ(next, 0);
}

TEST(PassivePorts, AWideRangeIsLeftAfterSeventyFiveTries) {
  PasvRange ranges[50] = {{10000, 20000}, {30000, 30100}};
  int next = 0;
  PassivePortPicker picker(ranges, next);
  for (int i = 0; i < 75; ++i) {
    picker.port_to_try(i);
    picker.after_bind();
  }
  EXPECT_EQ(next, 0);
  picker.port_to_try(75);
  picker.after_bind();
  EXPECT_EQ(next, 1);
}

TEST(PassivePorts, TheWalkWrapsAfterTheLastEntry) {
  PasvRange ranges[50];
  for (int i = 0; i < 50; ++i) ranges[i] = {20000 + i, 0};
  int next = 49;
  PassivePortPicker picker(ranges, next);
  EXPECT_EQ(picker.port_to_try(0), 20049);
  picker.after_bind();
  EXPECT_EQ(next, 0);
}

TEST(AddressRings, TheStartNodeScalesTheRandomNumber) {
  EXPECT_EQ(transfer::random_start(2, 0), 0u);
  EXPECT_EQ(transfer::random_start(2, (1L << 30) - 1), 0u);
  EXPECT_EQ(transfer::random_start(2, 1L << 30), 1u);
  EXPECT_EQ(transfer::random_start(3, (1L << 31) - 1), 2u);
  EXPECT_EQ(transfer::random_start(1, (1L << 31) - 1), 0u);
}

TEST(AddressRings, AnEmptyRingHasOneEmptyNode) {
  transfer::AddressRing ring;
  EXPECT_EQ(ring.size(), 1u);
  EXPECT_EQ(ring.current().addr[0], '\0');
  ring.advance();
  EXPECT_EQ(ring.current().addr[0], '\0');
}

class ConfiguredRings : public userdb_test::SiteTest {};

TEST_F(ConfiguredRings, LinesBecomeNodesThatAlternate) {
  configure(
      "pasv_addr 10.0.0.1 1\n"
      "pasv_addr\n"
      "pasv_addr 10.0.0.2\n"
      "active_addr localhost\n");
  transfer::init_address_rings();
  transfer::AddressRing& passive = transfer::passive_ring();
  ASSERT_EQ(passive.size(), 2u);
  std::set<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    const transfer::AddrRingNode& node = passive.current();
    seen.insert(node.addr);
    EXPECT_EQ(node.nat_only, std::string(node.addr) == "10.0.0.1" ? 1 : 0);
    const std::string before = node.addr;
    passive.advance();
    EXPECT_NE(before, passive.current().addr);
  }
  EXPECT_EQ(seen, (std::set<std::string>{"10.0.0.1", "10.0.0.2"}));
  ASSERT_EQ(transfer::active_ring().size(), 1u);
  EXPECT_STREQ(transfer::active_ring().current().addr, "127.0.0.1");
}

TEST(AddressRings, ALongWordIsCutToTheField) {
  char addr[20];
  EXPECT_EQ(transfer::ring_address_of("123456789012345678901234", addr), 0);
  EXPECT_EQ(std::string(addr), "1234567890123456789");
}

}  // namespace
