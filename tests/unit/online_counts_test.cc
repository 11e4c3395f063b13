// Reading the online table: the login and transfer limits' counts, the
// hidden sessions, transfer rates, online-since texts and the ghost kill.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/reply.h"
#include "core/session.h"
#include "online/online_segment.h"
#include "online/online_table.h"
#include "online/transfer_rate.h"
#include "online_test_segment.h"
#include "scratch_site.h"
#include "userdb/userfile.h"

namespace {

using online::Direction;
using online::OnlineEntry;
using online_test::record_for;

// A site directory, a table of eight slots with the own one in slot 0, and
// the session user "alice" on host "home.example".
class OnlineTable : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.make_dir("users");
    dir_.make_dir("logs");
    core::Session& s = core::session();
    saved_user_ = s.user;
    core::copy_field(s.data_path, site_.string());
    core::copy_field(s.remote_host, "home.example");
    core::copy_field(s.user.name, "alice");
    s.tz_offset = 0;
    use_config("# no settings\n");
    OnlineEntry own = record_for(::getpid(), "alice");
    online::copy_field(own.host, "id@home.example");
    ASSERT_EQ(online::attach_table(segment_.key, 8, own), online::AttachStatus::Attached);
    ASSERT_EQ(s.online_slot, 0);
  }
  void TearDown() override {
    core::session().user = saved_user_;
    config::clear_config();
  }

  void use_config(const std::string& contents) { scratch::load_config(dir_ / "marlod.conf", contents); }
  void add_userfile(const std::string& name, const std::string& contents) { dir_.write("users/" + name, contents); }
  // Puts another session into `slot`, owned by a process that is alive.
  OnlineEntry& other(int slot, const char* username, const char* host = "x@far.example") {
    OnlineEntry& e = online::table()[static_cast<std::size_t>(slot)];
    e = record_for(::getppid(), username);
    online::copy_field(e.host, host);
    return e;
  }

  online_test::ScratchSegment segment_;
  const scratch::ScratchDir dir_{"online-counts"};
  const std::filesystem::path site_ = dir_.path();

 private:
  core::UserRecord saved_user_;
};

TEST_F(OnlineTable, CountsSessionsUsersAndGroups) {
  other(2, "bob").groupid = 100;
  other(3, "bob").groupid = 100;
  other(5, "carol").groupid = 200;
  online::own_entry()->groupid = 100;
  EXPECT_EQ(online::online_count(false), 4);
  EXPECT_EQ(online::online_count_user("bob"), 2);
  EXPECT_EQ(online::online_count_user("bo"), 0) << "names compare exactly";
  EXPECT_EQ(online::online_count_user("alice"), 1);
  EXPECT_EQ(online::online_count_group(100), 3);
  EXPECT_EQ(online::online_count_group(300), 0);

  online::table()[3].procid = 0;
  EXPECT_EQ(online::online_count_user("bob"), 1) << "a freed slot no longer counts";
}

TEST_F(OnlineTable, FullWidthNamesDoNotMatchLongerOnes) {
  const std::string name24(24, 'n');
  other(1, name24.c_str());
  EXPECT_EQ(online::online_count_user(name24.c_str()), 1);
  EXPECT_EQ(online::online_count_user((name24 + "x").c_str()), 0);
}

TEST_F(OnlineTable, VisibleCountLeavesOutHiddenDirectoriesAndHiddenUsers) {
  use_config("hideinwho /site/private/* *\nhideuser -ghostly\n");
  add_userfile("ghostly", "FLAGS 3\n");
  online::copy_field(other(1, "bob").currentdir, "/site/private/stuff");
  other(2, "ghostly");
  other(3, "carol");
  other(4, "nofile");  // no userfile: cannot be hidden
  EXPECT_EQ(online::online_count(false), 5);
  EXPECT_EQ(online::online_count(true), 3);

  // The own session always counts, wherever it is and whoever it is.
  online::set_own_currentdir("/site/private/mine");
  EXPECT_EQ(online::online_count(true), 3);
  EXPECT_STREQ(core::session().user.name, "alice") << "the session user was restored";
}

TEST_F(OnlineTable, UserHostLimitComparesTheHostAfterTheAt) {
  other(1, "alice", "other@home.example");
  other(2, "alice", "id@work.example");
  other(3, "bob", "id@home.example");
  EXPECT_FALSE(online::online_user_host_full("alice", 3));
  EXPECT_TRUE(online::online_user_host_full("alice", 2));
  EXPECT_FALSE(online::online_user_host_full("carol", 1));
}

TEST_F(OnlineTable, TransferLimitsCountActiveTransfersByDirection) {
  auto busy = [&](int slot, const char* user, const char* status, uint32_t bytes) {
    OnlineEntry& e = other(slot, user);
    online::copy_field(e.status, status);
    e.bytes_xfer = bytes;
  };
  busy(1, "bob", "RETR a.zip", 100);
  busy(2, "bob", "STOR b.zip", 100);
  busy(3, "carol", "APPE c.zip", 100);
  busy(4, "carol", "RETR d.zip", 0);  // announced, nothing moved yet
  busy(5, "carol", "LIST", 100);

  EXPECT_TRUE(online::online_transfers_full("bob", 1, Direction::Download));
  EXPECT_FALSE(online::online_transfers_full("bob", 2, Direction::Download));
  EXPECT_TRUE(online::online_transfers_full("bob", 1, Direction::Upload));
  EXPECT_FALSE(online::online_transfers_full("carol", 1, Direction::Download));
  EXPECT_TRUE(online::online_transfers_full(nullptr, 2, Direction::Upload));
  EXPECT_FALSE(online::online_transfers_full(nullptr, 3, Direction::Upload));
  EXPECT_TRUE(online::online_transfers_full("nobody", 0, Direction::Download)) << "limit 0 allows none";
  EXPECT_FALSE(online::online_transfers_full(nullptr, -1, Direction::Download)) << "negative is unlimited";
}

TEST(TransferRate, BelowFiveHundredBytesIsZero) {
  EXPECT_EQ(online::rate_kib(499, 10.0), 0.0);
  EXPECT_DOUBLE_EQ(online::rate_kib(600, 10.0), 600.0 / 1024.0 / 10.0);
}

TEST(TransferRate, AJustStartedTransferHasAFiniteRate) {
  const double rate = online::rate_kib(1024, 0.0);
  EXPECT_TRUE(std::isfinite(rate));
  EXPECT_DOUBLE_EQ(rate, 10.0);
  EXPECT_TRUE(std::isfinite(online::rate_kib(1024, -3.0))) << "a clock set back";
}

TEST(TransferRate, ElapsedTimeIsReadInTenths) {
  EXPECT_DOUBLE_EQ(online::elapsed_tenths({100, 950000}, {110, 960000}), 10.0);
  EXPECT_DOUBLE_EQ(online::elapsed_tenths({100, 0}, {102, 550000}), 2.5);
}

TEST_F(OnlineTable, TransferSpeedOfASlotUsesItsStartOrAStoredTime) {
  OnlineEntry& e = other(1, "bob");
  e.bytes_xfer = 10240;
  e.tstart = {static_cast<int32_t>(::time(nullptr) - 100), 0};
  // The clock moves while the test runs; a tenth either way is 1 % here.
  EXPECT_NEAR(online::transfer_speed(1), 0.1, 0.002);
  EXPECT_DOUBLE_EQ(online::transfer_speed(1, 4.0), 2.5);
  EXPECT_EQ(online::transfer_speed(99), 0.0);
  EXPECT_EQ(online::transfer_speed(-1), 0.0);
}

TEST(OnlineSince, HoursMinutesAndSeconds) {
  core::session().tz_offset = 0;
  const time_t now = core::now();
  EXPECT_EQ(online::online_since_text(now - 3725), "01:02:05");
  EXPECT_EQ(online::online_since_text(now - 65), "   01:05");
  EXPECT_EQ(online::online_since_text(now + 100), "   00:00");
}

class KillGhost : public OnlineTable {
 protected:
  // A process of "alice" that waits to be ended.
  pid_t start_session(int slot, int idle_seconds) {
    const pid_t child = ::fork();
    if (child == 0) {
      for (;;) ::pause();
    }
    OnlineEntry& e = other(slot, "alice");
    e.procid = child;
    e.tstart = {static_cast<int32_t>(::time(nullptr) - idle_seconds), 0};
    children_.push_back(child);
    return child;
  }
  void TearDown() override {
    for (pid_t child : children_) ::kill(child, SIGKILL);
    for (pid_t child : children_) ::waitpid(child, nullptr, 0);
    core::set_reply_stream(stdout);
    OnlineTable::TearDown();
  }
  std::vector<pid_t> children_;
};

TEST_F(KillGhost, EndsTheOldestOtherSessionOfTheUser) {
  const pid_t newer = start_session(2, 30);
  const pid_t older = start_session(4, 600);
  other(3, "bob").tstart = {static_cast<int32_t>(::time(nullptr) - 9000), 0};
  online::own_entry()->tstart = {static_cast<int32_t>(::time(nullptr) - 9000), 0};
  const std::optional<long> age = online::kill_ghost("alice");
  EXPECT_TRUE(age.has_value() && *age >= 600) << "the ghost's age";

  int status = 0;
  ASSERT_EQ(::waitpid(older, &status, 0), older);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(online::table()[4].procid, 0) << "the ghost's slot is zeroed";
  EXPECT_EQ(online::table()[2].procid, newer) << "only the oldest goes";
  EXPECT_EQ(online::table()[0].procid, ::getpid()) << "never the own session";
  EXPECT_EQ(online::table()[3].procid, ::getppid()) << "never another user's";

  const std::string log = scratch::read_file(site_ / "logs" / "login.log");
  EXPECT_NE(log.find("'alice' killed a ghost with PID " + std::to_string(older) + "."),
            std::string::npos)
      << log;
}

TEST_F(KillGhost, WithoutAnotherSessionNothingIsKilled) {
  other(3, "bob");
  EXPECT_FALSE(online::kill_ghost("alice").has_value());
  EXPECT_EQ(online::table()[3].procid, ::getppid());
  EXPECT_EQ(online::own_entry()->procid, ::getpid());
  EXPECT_FALSE(std::filesystem::exists(site_ / "logs" / "login.log"));
}

}  // namespace
