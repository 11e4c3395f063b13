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

TEST_F(Idnt, NamedHostIsKept) {
  ASSERT_TRUE(session::take_idnt_argument("joe@10.1.2.3:client.example.org"));
  const core::Session& s = core::session();
  EXPECT_STREQ(s.ident_user, "joe");
  EXPECT_STREQ(s.remote_ip, "10.1.2.3");
  EXPECT_STREQ(s.remote_host, "client.example.org");
  EXPECT_EQ(s.ident_known, 1);
  EXPECT_EQ(s.bouncer_mode, 0);
}

TEST_F(Idnt, DottedHostWithoutLookupsBecomesTheAddress) {
  ASSERT_TRUE(session::take_idnt_argument("*@10.1.2.3:10.9.9.9"));
  EXPECT_STREQ(core::session().remote_host, "10.1.2.3");
  EXPECT_STREQ(core::session().ident_user, "*");
}

TEST_F(Idnt, MissingHostBecomesTheAddress) {
  ASSERT_TRUE(session::take_idnt_argument("joe@192.168.0.7"));
  EXPECT_STREQ(core::session().remote_ip, "192.168.0.7");
  EXPECT_STREQ(core::session().remote_host, "192.168.0.7");
}

TEST_F(Idnt, WithoutAtNothingChanges) {
  EXPECT_FALSE(session::take_idnt_argument("joe10.1.2.3:host"));
  EXPECT_STREQ(core::session().ident_user, "");
  EXPECT_EQ(core::session().bouncer_mode, 1);
  EXPECT_EQ(core::session().ident_known, 0);
}

TEST_F(Idnt, OverlongPartsAreCutToTheirFields) {
  std::string argument = std::string(300, 'u') + "@" + std::string(40, '1') + ":" +
                         std::string(100, 'h');
  ASSERT_TRUE(session::take_idnt_argument(argument));
  const core::Session& s = core::session();
  EXPECT_EQ(std::string(s.ident_user), std::string(255, 'u'));
  EXPECT_EQ(std::string(s.remote_ip), std::string(16, '1'));
  EXPECT_EQ(std::string(s.remote_host), std::string(63, 'h'));
}

TEST(DottedAddress, OnlyFourDecimalFields) {
  EXPECT_TRUE(session::is_dotted_address("127.0.0.1"));
  EXPECT_FALSE(session::is_dotted_address("localhost"));
  EXPECT_FALSE(session::is_dotted_address("1.2.3"));
  EXPECT_FALSE(session::is_dotted_address("1.2.3.4.5"));
  EXPECT_FALSE(session::is_dotted_address(""));
}

}  // namespace
