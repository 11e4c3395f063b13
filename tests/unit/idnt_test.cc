// The bouncer's "IDNT ident@ip:host" announcement.
#include <gtest/gtest.h>

#include <string>

#include "core/session.h"
#include "session/peer_identity.h"

namespace {

class Idnt : public ::testing::Test {
 protected:
  void SetUp() override {
    core::session() = core::Session{};
    core::session().dns_retries = 0;
    core::session().bouncer_mode = 1;
  }
  void TearDown() override { core::session() = core::Session{}; }
};

// (A named host end to end: the start-up tests.)
TEST_F(Idnt, TheHostFallsBackToTheAddressAndWithoutAtNothingChanges) {
  struct Case {
    const char* argument;
    bool taken;
    const char* ident, *ip, *host;
  } cases[] = {
      {"*@10.1.2.3:10.9.9.9", true, "*", "10.1.2.3", "10.1.2.3"},  // dotted, no lookups
      {"joe@192.168.0.7", true, "joe", "192.168.0.7", "192.168.0.7"},
      {"joe10.1.2.3:host", false, "", "", ""},
  };
  for (const Case& c : cases) {
    SetUp();
    EXPECT_EQ(session::take_idnt_argument(c.argument), c.taken) << c.argument;
    const core::Session& s = core::session();
    EXPECT_STREQ(s.ident_user, c.ident) << c.argument;
    EXPECT_STREQ(s.remote_ip, c.ip) << c.argument;
    EXPECT_STREQ(s.remote_host, c.host) << c.argument;
    EXPECT_EQ(s.bouncer_mode, c.taken ? 0 : 1) << c.argument;
  }
}

TEST_F(Idnt, OverlongPartsAreCutToTheirFields) {
  std::string argument = std::string(300, 'u') + "@" + std::string(60, '1') + ":" +
                         std::string(100, 'h');
  ASSERT_TRUE(session::take_idnt_argument(argument));
  const core::Session& s = core::session();
  EXPECT_EQ(std::string(s.ident_user), std::string(255, 'u'));
  EXPECT_EQ(std::string(s.remote_ip), std::string(45, '1'));  // the longest IPv6 text
  EXPECT_EQ(std::string(s.remote_host), std::string(63, 'h'));
}

TEST(DottedAddress, OnlyFourDecimalFieldsOrIpv6) {
  EXPECT_TRUE(session::is_dotted_address("127.0.0.1"));
  EXPECT_TRUE(session::is_dotted_address("2001:db8::1"));
  for (const char* text : {"localhost", "1.2.3", "1.2.3.4.5", ""}) EXPECT_FALSE(session::is_dotted_address(text)) << text;
}

}  // namespace
