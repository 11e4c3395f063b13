// The pure pieces of login, status and logout: idle limits, online time of
// today across midnight, the status texts, the built-in status line, free
// space and the script environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "core/fixed_field.h"
#include "core/session.h"
#include "session/login_admission.h"
#include "session/login_logout.h"
#include "session/status.h"
#include "text/external.h"
#include "transfer/status_line.h"
#include "userdb/userfile.h"

namespace {

class UtcTime : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_tz_ = tz ? tz : "";
    had_tz_ = tz != nullptr;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    core::session().tz_offset = 0;
  }
  void TearDown() override {
    if (had_tz_)
      ::setenv("TZ", saved_tz_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

  // 2026-03-14 at hh:mm:ss UTC, shifted by `days`.
  static time_t at(int hour, int minute, int second, int days = 0) {
    return 1773446400 + days * 86400 + hour * 3600 + minute * 60 + second;
  }

 private:
  std::string saved_tz_;
  bool had_tz_ = false;
};

TEST(LoginIdleLimits, DefaultOwnValueAndIdler) {
  auto limits = session::login_idle_limits(-1, false, 900, 7200);
  EXPECT_EQ(limits.idle_timeout, 900);
  EXPECT_EQ(limits.max_idle_timeout, 7200);

  limits = session::login_idle_limits(300, false, 900, 7200);
  EXPECT_EQ(limits.idle_timeout, 300);
  EXPECT_EQ(limits.max_idle_timeout, 300);

  // 0 is the user's own "no limit" and leaves the ceiling alone.
  limits = session::login_idle_limits(0, false, 900, 7200);
  EXPECT_EQ(limits.idle_timeout, 0);
  EXPECT_EQ(limits.max_idle_timeout, 7200);

  limits = session::login_idle_limits(300, true, 900, 7200);
  EXPECT_EQ(limits.idle_timeout, 0);
  limits = session::login_idle_limits(-1, true, 900, 7200);
  EXPECT_EQ(limits.idle_timeout, 0);
}

TEST_F(UtcTime, OnlineTimeOfTheSameDayAddsUp) {
  EXPECT_EQ(session::time_today_at_logout(100, at(10, 0, 0), at(10, 30, 0)), 100 + 1800);
  EXPECT_EQ(session::time_today_at_logout(0, at(0, 0, 0), at(23, 59, 59)), 86399);
}

TEST_F(UtcTime, ASessionAcrossMidnightKeepsOnlyTodaysSeconds) {
  EXPECT_EQ(session::time_today_at_logout(5000, at(23, 59, 0), at(0, 10, 0, 1)), 600);
  // Several days online: still only since the last midnight.
  EXPECT_EQ(session::time_today_at_logout(5000, at(12, 0, 0), at(1, 0, 0, 3)), 3600);
}

TEST(StatusTexts, LoginState) {
  core::Session s;
  EXPECT_EQ(session::login_state_text(s), "Waiting for user name");
  s.awaiting_password = 1;
  EXPECT_EQ(session::login_state_text(s), "Waiting for password");
  s.logged_in = 1;
  s.account.name = "a-very-long-user-name-of-thirty";
  EXPECT_EQ(session::login_state_text(s), "Logged in as a-very-long-user-name-o");
}

TEST(StatusTexts, DataState) {
  core::Session s;
  std::string address = "stale";
  EXPECT_EQ(session::data_state_text(s, address), "No data connection");
  EXPECT_EQ(address, "");

  s.use_default_data_port = 0;
  s.data_dest_addr = *core::NetAddress::from_text("10.0.1.2", 51234);
  EXPECT_EQ(session::data_state_text(s, address), "PORT");
  EXPECT_EQ(address, " (10,0,1,2,200,34)");
  s.data_dest_addr = *core::NetAddress::from_text("2001:db8::7", 51234);
  session::data_state_text(s, address);
  EXPECT_EQ(address, " (|2|2001:db8::7|51234|)");

  s.data_fd = 0;  // any open descriptor
  EXPECT_EQ(session::data_state_text(s, address), "Data connection open");
  EXPECT_EQ(address, "");
}

TEST(BuiltinStatline, LeechesSeeUnlimitedOthersTheirCredits) {
  EXPECT_EQ(session::builtin_statline(0, 3), session::kLeechStatline);
  EXPECT_EQ(session::builtin_statline(-1, 0), session::kLeechStatline);
  EXPECT_EQ(session::builtin_statline(-1, 3), session::kRatioStatline);
  EXPECT_EQ(session::builtin_statline(2, 0), session::kRatioStatline);
}

TEST(FreeSpace, MegabytesOfAvailableBlocks) {
  EXPECT_FLOAT_EQ(session::free_space_megabytes(1000, 4096), 4.0f);
  EXPECT_FLOAT_EQ(session::free_space_megabytes(0, 4096), 0.0f);
  // Large file systems must not overflow on the way.
  EXPECT_NEAR(session::free_space_megabytes(1ULL << 32, 4096), 17179869.184f, 1.0f);
}

TEST(ScriptEnvironment, LongValuesAreCutToTheEntryLimit) {
  core::Session s;
  core::copy_field(s.user.tagline, std::string(64, 't'));
  s.home_dir = "/" + std::string(300, 'h');
  const auto entries = text::script_environment_entries(s);
  EXPECT_EQ(entries[2], "TAGLINE=" + std::string(51, 't'));
  EXPECT_EQ(entries[7].size(), text::kEnvironmentEntryLimit);
  for (const std::string& entry : entries) EXPECT_LE(entry.size(), text::kEnvironmentEntryLimit);
}

}  // namespace
