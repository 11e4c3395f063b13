// SIZE, MDTM, the personal SITE commands and the directory acknowledgement.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/fixed_field.h"
#include "core/idle_alarm.h"
#include "core/session.h"
#include "protocol/command_handlers.h"
#include "protocol_test_support.h"
#include "session/base_commands.h"
#include "session/session_commands.h"
#include "userdb/userfile.h"
#include "userdb_site_fixture.h"

namespace {

namespace stdfs = std::filesystem;
using scratch::read_file;
using scratch::write_file;

class BaseCommandsTest : public userdb_test::SiteTest {
 protected:
  void SetUp() override {
    SiteTest::SetUp();
    protocol_test::load_numbered_strings();
    home_ = root_ + "/site";
    stdfs::create_directories(home_ + "/sub");
    core::Session& s = core::session();
    s.home_dir = home_;
    core::copy_field(s.cwd, home_);
    core::UserRecord user;
    core::copy_field(user.name, "alice");
    ASSERT_EQ(userdb::write_user(user), 0);
    s.user = user;
    ASSERT_NE(::getcwd(saved_cwd_, sizeof saved_cwd_), nullptr);
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(saved_cwd_), 0);
    SiteTest::TearDown();
  }

  // The reply file is appended to; each check reads what is new.
  std::string next_replies() {
    const std::string all = replies();
    std::string fresh = all.substr(seen_);
    seen_ = all.size();
    return fresh;
  }

  static protocol::CommandArgs text_args(const std::string& text) {
    protocol::CommandArgs args;
    args.text = text;
    return args;
  }
  static protocol::CommandArgs number_args(long long number) {
    protocol::CommandArgs args;
    args.number = number;
    return args;
  }

  std::string home_;
  char saved_cwd_[4096] = {};
  std::size_t seen_ = 0;
};

// (Directories and the two counts of ASCII and binary: the end-to-end tests.)
TEST_F(BaseCommandsTest, SizeRefusesMissingAndPrivateFilesAndTypeE) {
  configure("privpath " + home_ + "/secret =nobody\n");
  stdfs::create_directories(home_ + "/secret");
  write_file(home_ + "/secret/f", "abc");
  write_file(home_ + "/ten.txt", "123456789\n");
  core::Session& s = core::session();
  s.type = 1;
  EXPECT_EQ(session::size_command("secret/f"), 1);
  EXPECT_EQ(next_replies(), "550 #165|secret/f|||\r\n");
  EXPECT_EQ(session::size_command("gone"), 1);
  EXPECT_EQ(next_replies(), "550 gone: No such file or directory.\r\n");
  s.type = 2;
  EXPECT_EQ(session::size_command("ten.txt"), 1);
  EXPECT_EQ(next_replies(), "504 SIZE not implemented for Type E.\r\n");
}

TEST(Mdtm, FourDigitYearInUtcPastTheThirtyTwoBitEnd) {
  EXPECT_EQ(session::mdtm_text(0), "19700101000000");
  EXPECT_EQ(session::mdtm_text(3471292800), "20800101000000");
}

TEST_F(BaseCommandsTest, IdleLimitsNormalUsersOnly) {
  core::Session& s = core::session();
  s.idle_timeout = 900;
  s.max_idle_timeout = 7200;
  s.user.idle_time = 300;
  EXPECT_EQ(session::commands::site_idle(protocol::CommandArgs{}), 0);
  EXPECT_EQ(next_replies(), "200 #210|900|7200||\r\n");
  EXPECT_EQ(session::commands::site_idle(number_args(0)), 1);
  EXPECT_EQ(next_replies(), "501 #211|7200|||\r\n");
  EXPECT_EQ(session::commands::site_idle(number_args(7201)), 1);
  EXPECT_EQ(next_replies(), "501 #211|7200|||\r\n");
  EXPECT_EQ(s.idle_timeout, 900);
  EXPECT_EQ(session::commands::site_idle(number_args(60)), 0);
  EXPECT_EQ(next_replies(), "200 #212|60|||\r\n");
  EXPECT_EQ(s.idle_timeout, 60);
  core::copy_field(s.user.flags, "4");
  EXPECT_EQ(session::commands::site_idle(number_args(0)), 0);
  EXPECT_EQ(s.idle_timeout, 0);
  core::set_alarm_timer({});
}

TEST_F(BaseCommandsTest, TaglineRefusesForbiddenCharactersAndSavesGoodOnes) {
  EXPECT_EQ(session::commands::site_tagline(text_args("100% pure")), 1);
  EXPECT_EQ(next_replies(), "200 #234||||\r\n");
  EXPECT_STREQ(core::session().user.tagline, "No TagLine Set");
  EXPECT_FALSE(stdfs::exists(user_path("alice") + ".lock"));

  const std::string long_tagline(80, 'x');
  EXPECT_EQ(session::commands::site_tagline(text_args(long_tagline)), 0);
  EXPECT_EQ(next_replies(), "200 #235|" + std::string(63, 'x') + "|||\r\n");
  EXPECT_EQ(std::string(core::session().user.tagline), std::string(63, 'x'));
  EXPECT_NE(read_file(user_path("alice")).find("TAGLINE " + std::string(63, 'x') + "\n"), std::string::npos);
  EXPECT_FALSE(stdfs::exists(user_path("alice") + ".lock"));

  EXPECT_EQ(session::commands::site_tagline(protocol::CommandArgs{}), 0);
  EXPECT_EQ(next_replies(), "200 #195|" + std::string(63, 'x') + "|||\r\n");
}

TEST_F(BaseCommandsTest, ColourTogglesSetsAndShows) {
  core::Session& s = core::session();
  EXPECT_EQ(session::set_colour("show"), 0);
  EXPECT_EQ(next_replies(), "200 #205||||\r\n");
  EXPECT_EQ(s.color_mode, 0);
  EXPECT_EQ(session::set_colour(""), 0);
  EXPECT_EQ(s.color_mode, 1);
  EXPECT_TRUE(core::has_flag(s.user.flags, '5'));
  EXPECT_NE(read_file(user_path("alice")).find("FLAGS 5"), std::string::npos) << read_file(user_path("alice"));
  EXPECT_EQ(session::set_colour("ON"), 0);  // not "on": only shows
  EXPECT_EQ(s.color_mode, 1);
  EXPECT_EQ(session::set_colour("off"), 0);
  EXPECT_EQ(s.color_mode, 0);
  EXPECT_FALSE(core::has_flag(s.user.flags, '5'));
  EXPECT_EQ(read_file(user_path("alice")).find("FLAGS 5"), std::string::npos);
}

TEST_F(BaseCommandsTest, AliasAndCdpathListTheirLines) {
  configure("alias mp3 /site/mp3\nalias broken\ncdpath /incoming\n");
  EXPECT_EQ(session::commands::site_alias(protocol::CommandArgs{}), 0);
  EXPECT_EQ(next_replies(), "214- #239||||\r\n   mp3      /site/mp3\r\n214 \r\n");
  EXPECT_EQ(session::commands::site_alias(text_args("mp3")), 0);
  EXPECT_EQ(next_replies(), "214 #237|mp3|/site/mp3||\r\n");
  EXPECT_EQ(session::commands::site_alias(text_args("MP3")), 1);
  EXPECT_EQ(next_replies(), "502 #238|MP3|||\r\n");
  EXPECT_EQ(session::commands::site_cdpath(protocol::CommandArgs{}), 0);
  EXPECT_EQ(next_replies(), "214- #236||||\r\n  /incoming\r\n214 \r\n");
}

TEST_F(BaseCommandsTest, TimeShowsDurationsAndTheWeeklyReset) {
  const session::Duration d = session::split_duration(2 * 86400 + 3 * 3600 + 4 * 60 + 59);
  EXPECT_EQ(d.days, 2);
  EXPECT_EQ(d.hours, 3);
  EXPECT_EQ(d.minutes, 4);
  // Wednesday 2026-12-02 12:00 UTC: Sunday midnight is 3.5 days away,
  // Monday midnight 4.5 days.
  EXPECT_EQ(session::seconds_to_week_end(1796212800, false), 3 * 86400 + 12 * 3600);
  EXPECT_EQ(session::seconds_to_week_end(1796212800, true), 4 * 86400 + 12 * 3600);
  core::session().login_time = core::now() - 3700;
  EXPECT_EQ(session::commands::site_time(protocol::CommandArgs{}), 0);
  const std::string text = next_replies();
  EXPECT_NE(text.find("200- #292|0|1|1|\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 12), "200 #7||||\r\n");
}

TEST_F(BaseCommandsTest, DirectoryAckShowsDescriptionsAndShortcutText) {
  configure("show_diz .message\n");
  write_file(home_ + "/sub/.message", "Welcome to sub\n");
  ASSERT_EQ(::chdir((home_ + "/sub").c_str()), 0);
  core::session().cwd_shortcut = 1;
  session::directory_ack("CWD");
  const std::string text = next_replies();
  EXPECT_NE(text.find("250- Welcome to sub\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("250- #23|sub|||\r\n"), std::string::npos) << text;
  EXPECT_EQ(core::session().cwd_shortcut, 0);
  session::directory_ack("RMD");
  EXPECT_EQ(next_replies(), "250 #9|RMD|||\r\n");
}

}  // namespace
