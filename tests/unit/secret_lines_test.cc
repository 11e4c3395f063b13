// Command lines that carry passwords stay out of the online status and the
// debug log, also when they arrive through a site_cmd alias.
#include <gtest/gtest.h>

#include <string>

#include "config/config_store.h"
#include "protocol/command_loop.h"
#include "protocol/secret_lines.h"
#include "scratch_site.h"

namespace {

class SecretLines : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch::load_config(site_ / "marlod.conf",
                         "site_cmd NU is adduser\nsite_cmd PW IS Chpass\nsite_cmd LS is WHO\n"
                         "site_cmd RULES TEXT /ftp-data/text/rules\n");
  }
  void TearDown() override { config::clear_config(); }
  const scratch::ScratchDir site_{"secret-lines"};
};

struct LineCase {
  const char* line;
  std::size_t shown;  // npos: the whole line
};

constexpr std::size_t kWhole = std::string_view::npos;

TEST_F(SecretLines, ShowOnlyTheCommandWordsOfPasswordLines) {
  const LineCase cases[] = {
      {"RETR file\r\n", kWhole},
      {"pass secret\r\n", 4},
      {"SITE ADDUSER bob pw\r\n", 12},
      {"site gadduser staff bob pw\r\n", 13},
      {"SITE CHPASS bob pw\r\n", 11},
      {"SITE PASSWD pw\r\n", 11},
      {"SITE nu bob pw\r\n", 7},
      {"SITE PW bob pw\r\n", 7},
      {"SITE LS\r\n", kWhole},
      {"SITE RULES\r\n", kWhole},
      {"SITE WHO\r\n", kWhole},
      {"SITE\r\n", kWhole},
      {"CWD /site/adduser\r\n", kWhole},
  };
  for (const LineCase& c : cases) EXPECT_EQ(protocol::shown_length(c.line), c.shown) << c.line;
}

TEST_F(SecretLines, AliasedPasswordLinesNeverReachTheOnlineStatus) {
  EXPECT_FALSE(protocol::status_may_show("SITE NU bob secret\r\n"));
  EXPECT_FALSE(protocol::status_may_show("site pw bob secret\r\n"));
  EXPECT_TRUE(protocol::status_may_show("SITE LS\r\n"));
}

}  // namespace
