// Saving the user at logout: the userfile is reloaded under its lock so that
// what other sessions saved survives, today's online time is added, and
// only this process's own lock is ever removed.
#include "session/login_logout.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "userdb/userfile.h"
#include "userdb_site_fixture.h"

namespace {

using scratch::read_file;
using scratch::write_file;
namespace stdfs = std::filesystem;

class LogoutSave : public userdb_test::SiteTest {
 protected:
  void SetUp() override {
    SiteTest::SetUp();
    configure("stat_section DEFAULT * no\n");
    now_ = ::time(nullptr);
    core::Session& s = core::session();
    s.logged_in = 1;
    s.login_time = now_ - 60;
  }

  // The session's own copy of bob, as loaded at login.
  void log_in_bob(const std::string& userfile) {
    write_file(user_path("bob"), userfile);
    ASSERT_EQ(userdb::read_userfile("bob"), 0);
    core::session().user = userdb::work_user();
  }

  time_t now_ = 0;
};

TEST_F(LogoutSave, KeepsWhatAnotherSessionSavedMeanwhile) {
  log_in_bob("TIME 4 " + std::to_string(now_ - 60) + " 0 100\nCREDITS 10\n");
  // A second session of bob logged out and a siteop changed the flags.
  write_file(user_path("bob"), "TIME 5 " + std::to_string(now_ - 60) + " 0 700\nCREDITS 99\nFLAGS 1\n");
  session::save_user_at_logout(now_);
  const std::string saved = read_file(user_path("bob"));
  EXPECT_NE(saved.find(" 0 760\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("CREDITS 99 "), std::string::npos) << saved;
  EXPECT_NE(saved.find("FLAGS 1\n"), std::string::npos) << saved;
}

TEST_F(LogoutSave, AVanishedUserfileIsNotWrittenBack) {
  log_in_bob("TIME 4 0 0 0\n");
  ASSERT_TRUE(stdfs::remove(user_path("bob")));
  session::save_user_at_logout(now_);
  EXPECT_FALSE(stdfs::exists(user_path("bob")));
  EXPECT_NE(error_log().find("bob"), std::string::npos);
}

TEST_F(LogoutSave, OnlyTheOwnLockIsReleased) {
  log_in_bob("TIME 4 0 0 0\n");
  write_file(user_path("bob") + ".lock", "1");  // another process holds it
  session::release_user_lock_at_logout();
  EXPECT_TRUE(stdfs::exists(user_path("bob") + ".lock"));

  write_file(user_path("bob") + ".lock", std::to_string(::getpid()));
  session::release_user_lock_at_logout();
  EXPECT_FALSE(stdfs::exists(user_path("bob") + ".lock"));
}

}  // namespace
