// Bandwidth sharing: the damping table, the pause decision, which
// speed_limit line governs a path, and how the table is read for it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/session.h"
#include "online/online_segment.h"
#include "online/throttle.h"
#include "online_test_segment.h"
#include "scratch_site.h"
#include "userdb/userfile.h"

namespace {

using online::BandwidthLoad;
using online::Direction;
using online::throttle_pause_us;

TEST(ThrottlePause, NoLimitsNeverPause) {
  EXPECT_EQ(throttle_pause_us({.own_rate = 10'000'000, .own_bytes = 1e7, .own_elapsed = 1}), 0);
}

TEST(ThrottlePause, OwnLimitPausesUntilTheAverageMeetsTheLimit) {
  // 20000 bytes in one second against 10000/s: they were due after two.
  EXPECT_EQ(throttle_pause_us({.own_rate = 20000, .own_bytes = 20000, .own_elapsed = 1, .own_limit = 10000}),
            1'000'000);
  EXPECT_EQ(throttle_pause_us({.own_rate = 10000, .own_bytes = 10000, .own_elapsed = 1, .own_limit = 10000}), 0);
  // The first 64 KiB of a 1,000,000 B/s download, sent in a millisecond.
  EXPECT_EQ(throttle_pause_us({.own_rate = 65'536'000, .own_bytes = 65536, .own_elapsed = 0.001,
                               .own_limit = 1'000'000}),
            64'536);
}

TEST(ThrottlePause, ThreeDownloadsShareAnAreaLimit) {
  // Area limit 30000 shared by three: the share is 10000.
  const BandwidthLoad over{.own_rate = 12000, .own_bytes = 24000, .own_elapsed = 2, .area_limit = 30000,
                           .area_total = 36000, .sharers = 3};
  EXPECT_EQ(throttle_pause_us(over), 400'000);  // 24000 bytes are due after 2.4 s
  BandwidthLoad within_share = over;
  within_share.own_rate = 10000;
  EXPECT_EQ(throttle_pause_us(within_share), 0);
  BandwidthLoad total_below = over;
  total_below.area_total = 29999;
  EXPECT_EQ(throttle_pause_us(total_below), 0) << "nobody sleeps while the area is under its limit";
}

TEST(ThrottlePause, TwoUsersInAHundredThousandArea) {
  const BandwidthLoad fast{.own_rate = 60000, .own_bytes = 60000, .own_elapsed = 1, .area_limit = 100000,
                           .area_total = 110000, .sharers = 2};
  EXPECT_EQ(throttle_pause_us(fast), 200'000);
  BandwidthLoad slow = fast;
  slow.own_rate = 50000;
  EXPECT_EQ(throttle_pause_us(slow), 0);
}

TEST(ThrottlePause, AnOwnLimitBelowTheAreaLimitComesFirst) {
  const BandwidthLoad load{.own_rate = 6000, .own_bytes = 6000, .own_elapsed = 1, .own_limit = 5000,
                           .area_limit = 30000, .area_total = 6000};
  EXPECT_EQ(throttle_pause_us(load), 200'000);
  BandwidthLoad higher_own = load;
  higher_own.own_limit = 50000;  // not below the area limit: the area decides
  EXPECT_EQ(throttle_pause_us(higher_own), 0);
}

TEST(ThrottlePause, LimitsOfZeroNeverDivideByZero) {
  // A governing line without a limit for this direction, and no own limit.
  EXPECT_EQ(throttle_pause_us({.own_rate = 5000, .own_bytes = 5000, .own_elapsed = 1, .own_limit = 0,
                               .area_limit = 0, .area_total = 5000}),
            0);
  // More sharers than bytes in the area limit: the share is one byte/s.
  const BandwidthLoad tiny{.own_rate = 10, .own_bytes = 10, .own_elapsed = 1, .area_limit = 2,
                           .area_total = 30, .sharers = 3};
  EXPECT_EQ(throttle_pause_us(tiny), 9'000'000);
}

class SpeedLimitConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_user_ = core::session().user;
    core::copy_field(core::session().user.name, "carol");
  }
  void TearDown() override {
    core::session().user = saved_user_;
    online::detach_table();
    online_test::remove_segment(segment_key_);
    config::clear_config();
  }
  void use_config(const std::string& contents) { scratch::load_config(dir_ / "marlod.conf", contents); }

  key_t segment_key_ = online_test::unused_ipc_key();

 private:
  const scratch::ScratchDir dir_{"online-throttle"};
  core::UserRecord saved_user_;
};

TEST_F(SpeedLimitConfig, FirstMatchingLineThatAdmitsTheUserGoverns) {
  use_config(
      "speed_limit /site/vip/* 90000 80000 -dave\n"
      "speed_limit /SITE/MP3/* 30000\n"
      "speed_limit /site/* 50000 40000\n");
  online::AreaLimit area = online::governing_speed_limit("/site/mp3/a.mp3", Direction::Download);
  ASSERT_NE(area.pattern, nullptr);
  EXPECT_STREQ(area.pattern, "/SITE/MP3/*") << "patterns match without regard to case";
  EXPECT_EQ(area.limit, 30000);
  area = online::governing_speed_limit("/site/mp3/a.mp3", Direction::Upload);
  EXPECT_EQ(area.limit, 0) << "no upload argument: no area limit, but the line still governs";
  EXPECT_NE(area.pattern, nullptr);

  area = online::governing_speed_limit("/site/vip/x", Direction::Upload);
  EXPECT_EQ(area.limit, 40000) << "carol is not on the vip line's list";
  core::copy_field(core::session().user.name, "dave");
  EXPECT_EQ(online::governing_speed_limit("/site/vip/x", Direction::Upload).limit, 80000);

  EXPECT_EQ(online::governing_speed_limit("/other/x", Direction::Download).pattern, nullptr);
}

TEST_F(SpeedLimitConfig, MeasuresOwnRateAndTheSharersInTheArea) {
  using online::OnlineEntry;
  ASSERT_EQ(online::attach_table(segment_key_, 6, online_test::record_for(::getpid())),
            online::AttachStatus::Attached);
  const timeval now{1'000'000, 0};
  auto transfer = [&](OnlineEntry& e, const char* status, const char* dir, uint32_t bytes, int seconds) {
    online::copy_field(e.status, status);
    online::copy_field(e.currentdir, dir);
    e.bytes_xfer = bytes;
    e.tstart.tv_sec = static_cast<int32_t>(now.tv_sec - seconds);
    e.tstart.tv_usec = 0;
  };
  std::span<OnlineEntry> slots = online::table();
  const int own = core::session().online_slot;
  transfer(slots[own], "RETR big.iso", "/site/iso", 40000, 2);  // 20000/s
  slots[1] = online_test::record_for(::getppid());
  transfer(slots[1], "RETR a", "/site/iso/sub", 30000, 3);  // 10000/s, shares
  slots[2] = online_test::record_for(::getppid());
  transfer(slots[2], "RETR b", "/elsewhere", 90000, 1);  // outside the area
  slots[3] = online_test::record_for(::getppid());
  transfer(slots[3], "STOR c", "/site/iso", 90000, 1);  // other direction
  slots[4] = online_test::record_for(::getppid());
  transfer(slots[4], "RETR d", "/site/iso", 0, 1);  // not moving data
  slots[5] = online_test::record_for(::getppid());
  transfer(slots[5], "RETR e", "/site/iso", 5, 0);  // just started: timed as a millisecond

  const online::AreaLimit area{.pattern = "/site/iso*", .limit = 30000};
  const BandwidthLoad load = online::measure_load(area, 0, Direction::Download, now);
  EXPECT_EQ(load.own_rate, 20000);
  EXPECT_EQ(load.sharers, 3);
  EXPECT_EQ(load.area_total, 35000);
  EXPECT_DOUBLE_EQ(load.own_bytes, 40000);
  EXPECT_DOUBLE_EQ(load.own_elapsed, 2);
  EXPECT_EQ(load.area_limit, 30000);

  const BandwidthLoad uploads = online::measure_load(area, 0, Direction::Upload, now);
  EXPECT_EQ(uploads.own_rate, 0);
  EXPECT_EQ(uploads.sharers, 2) << "anything but RETR counts as an upload";
}

}  // namespace
