// The server-wide settings start-up reads from the configuration.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/session.h"
#include "scratch_site.h"
#include "startup/server_settings.h"
#include "userdb/userfile.h"

namespace {

// A configuration file and a data path (for the error log) per test.
class ServerSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.make_dir("logs");
    core::session() = core::Session{};
    core::copy_field(core::session().data_path, site_.path());
    config::clear_config();
  }
  void TearDown() override {
    config::clear_config();
    core::session() = core::Session{};
  }

  // Reads `text` as the whole configuration and the settings from it.
  core::Session& read(const std::string& text) {
    scratch::load_config(site_ / "marlod.conf", text);
    startup::read_site_paths(core::session());
    startup::read_server_settings(core::session());
    return core::session();
  }

  std::string error_log() { return scratch::read_file(site_ / "logs/error.log"); }

  const scratch::ScratchDir site_{"settings"};
};

TEST_F(ServerSettings, MmapAmountOutsideOneToFiftyGivesFour) {
  for (const auto& [line, amount] : {std::pair{"mmap_amount 0\n", 4}, {"mmap_amount 51\n", 4},
                                     {"mmap_amount 50\n", 50}, {"free_space 10\n", 4}})
    EXPECT_EQ(read(line).mmap_amount, amount) << line;
}

TEST_F(ServerSettings, ReversedPasvRangeIsSwappedAndLogged) {
  core::Session& s = read("pasv_ports 5000-4000 6000 7000-7000 8000-8100\n");
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

TEST_F(ServerSettings, CustomScriptsNeedAllThreeArgumentsAndKeepTheirOrder) {
  core::Session& s = read(
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
  for (const auto& [line, unit] : {std::pair{"use_dir_size kilo\n", 2}, {"use_dir_size b\n", 1},
                                   {"use_dir_size Mega\n", 3}, {"use_dir_size no\n", 0}})
    EXPECT_EQ(read(line).dir_size_unit, unit) << line;
}

TEST_F(ServerSettings, SimXfersWithOneNumberLimitsDownloadsOnly) {
  core::Session& s = read("sim_xfers 3\n");
  EXPECT_EQ(s.sim_downloads, 3);
  EXPECT_EQ(s.sim_uploads, -1);
}

}  // namespace
