// The server-wide settings start-up reads from the configuration.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/config_store.h"
#include "session/server_settings.h"
#include "session/session.h"
#include "userdb/userfile.h"

namespace {

namespace stdfs = std::filesystem;

// A configuration file and a data path (for the error log) per test.
class ServerSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/marlod-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    stdfs::create_directories(dir_ / "logs");
    session::session() = session::Session{};
    userdb::copy_field(session::session().data_path, dir_.string());
    config::clear_config();
  }
  void TearDown() override {
    config::clear_config();
    session::session() = session::Session{};
    stdfs::remove_all(dir_);
  }

  session::Session& read(const std::string& text) {
    std::ofstream(dir_ / "marlod.conf") << text;
    EXPECT_EQ(config::read_config_file((dir_ / "marlod.conf").c_str()), 1);
    session::read_site_paths(session::session());
    session::read_server_settings(session::session());
    return session::session();
  }

  std::string error_log() {
    std::ifstream in(dir_ / "logs/error.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  stdfs::path dir_;
};

TEST_F(ServerSettings, MmapAmountOutsideOneToFiftyGivesFour) {
  EXPECT_EQ(read("mmap_amount 0\n").mmap_amount, 4);
  config::clear_config();
  EXPECT_EQ(read("mmap_amount 51\n").mmap_amount, 4);
  config::clear_config();
  EXPECT_EQ(read("mmap_amount 50\n").mmap_amount, 50);
  config::clear_config();
  EXPECT_EQ(read("free_space 10\n").mmap_amount, 4);
}

TEST_F(ServerSettings, ReversedPasvRangeIsSwappedAndLogged) {
  session::Session& s = read("pasv_ports 5000-4000 6000 7000-7000 8000-8100\n");
  EXPECT_EQ(s.pasv_ranges[0].low, 4000);
  EXPECT_EQ(s.pasv_ranges[0].high, 5000);
  EXPECT_EQ(s.pasv_ranges[1].low, 6000);
  EXPECT_EQ(s.pasv_ranges[1].high, 0);
  EXPECT_EQ(s.pasv_ranges[2].low, 7000);  // equal bounds: a single port
  EXPECT_EQ(s.pasv_ranges[2].high, 0);
  EXPECT_EQ(s.pasv_ranges[3].low, 8000);
  EXPECT_EQ(s.pasv_ranges[3].high, 8100);
  EXPECT_EQ(s.pasv_ranges[4].low, 0);
  EXPECT_EQ(s.pasv_ranges[49].low, 0);
  EXPECT_EQ(s.pasv_next, 0);
  EXPECT_NE(error_log().find("Incorrect pasv_ports range 5000-4000: reversing"), std::string::npos);
  EXPECT_EQ(error_log().find("7000"), std::string::npos);
}

TEST_F(ServerSettings, NoPasvLineKeepsTheCursorUnset) {
  EXPECT_EQ(read("free_space 1\n").pasv_next, -1);
}

TEST_F(ServerSettings, CustomScriptsNeedAllThreeArgumentsAndKeepTheirOrder) {
  session::Session& s = read(
      "cscript RETR pre /bin/first\n"
      "cscript STOR\n"
      "cscript STOR POST /bin/second\n"
      "cscript a_command_longer_than_twenty other /bin/" +
      std::string(60, 'x') + "\n");
  ASSERT_EQ(s.cscripts.size(), 3u);
  EXPECT_STREQ(s.cscripts[0].command, "RETR");
  EXPECT_EQ(s.cscripts[0].when, 1);
  EXPECT_STREQ(s.cscripts[0].script, "/bin/first");
  EXPECT_EQ(s.cscripts[1].when, 2);
  EXPECT_EQ(s.cscripts[2].when, 0);
  EXPECT_EQ(std::string(s.cscripts[2].command), "a_command_longer_tha");
  EXPECT_EQ(std::string(s.cscripts[2].script).size(), 50u);
}

TEST_F(ServerSettings, DirectorySizeUnitFromTheFirstLetter) {
  EXPECT_EQ(read("use_dir_size kilo\n").dir_size_unit, 2);
  config::clear_config();
  EXPECT_EQ(read("use_dir_size b\n").dir_size_unit, 1);
  config::clear_config();
  EXPECT_EQ(read("use_dir_size Mega\n").dir_size_unit, 3);
  config::clear_config();
  EXPECT_EQ(read("use_dir_size no\n").dir_size_unit, 0);
}

TEST_F(ServerSettings, ListingAndTransferSettings) {
  session::Session& s = read(
      "lslong -lA 3\nfile_dl_count 0\nsim_xfers 2 5\nfree_space 100\n"
      "botscript_path /bin/bot\npwd_path /etc/pw\ngrp_path /etc/gr\ntimezone -2\n");
  EXPECT_STREQ(s.lslong_options, "-lA");
  EXPECT_EQ(s.lslong_depth, 3);
  EXPECT_EQ(s.file_dl_count, 0);
  EXPECT_EQ(s.sim_downloads, 2);
  EXPECT_EQ(s.sim_uploads, 5);
  EXPECT_EQ(s.free_space, 100);
  EXPECT_STREQ(s.botscript_path, "/bin/bot");
  EXPECT_STREQ(s.passwd_path, "/etc/pw");
  EXPECT_STREQ(s.group_path, "/etc/gr");
  EXPECT_EQ(s.tz_offset, -7200);
}

TEST_F(ServerSettings, DefaultsWhenNothingIsConfigured) {
  session::Session& s = read("# nothing\n");
  EXPECT_STREQ(s.botscript_path, "/bin/botscript");
  EXPECT_STREQ(s.passwd_path, "/etc/passwd");
  EXPECT_EQ(s.lslong_depth, 2);
  EXPECT_EQ(s.file_dl_count, 1);
  EXPECT_EQ(s.sim_downloads, -1);
  EXPECT_EQ(s.sim_uploads, -1);
  EXPECT_TRUE(s.cscripts.empty());
}

TEST_F(ServerSettings, SimXfersWithOneNumberLimitsDownloadsOnly) {
  session::Session& s = read("sim_xfers 3\n");
  EXPECT_EQ(s.sim_downloads, 3);
  EXPECT_EQ(s.sim_uploads, -1);
}

}  // namespace
