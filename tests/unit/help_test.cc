// HELP and SITE HELP: the column layout of both tables, single-command
// lines, the help rule and the site's own help file. (Custom commands and
// single-command help: the end-to-end tests.)
#include "protocol/help.h"

#include "protocol/command_table.h"
#include "protocol_test_support.h"

namespace {

using protocol_test::count;

class HelpTest : public protocol_test::ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    core::session().logged_in = 1;
  }
};

TEST_F(HelpTest, CommandListingRunsDownSixRowsOfEightWideColumns) {
  const std::string out = run("HELP");
  const std::string expected =
      "214- #228||||\r\n"
      "   USER    QUIT    RETR    MSOM*   RNFR    NLST    MKD     MDTM    MLST \r\n"
      "   PASS    PORT    STOR    MSAM*   RNTO    SITE    RMD     FEAT    PRET \r\n"
      "   IDNT    PASV    APPE    MRSQ*   ABOR    SYST    PWD     OPTS \r\n"
      "   ACCT*   TYPE    MLFL*   MRCP*   DELE    STAT    CDUP    EPRT \r\n"
      "   SMNT*   STRU    MAIL*   ALLO    CWD     HELP    STOU    EPSV \r\n"
      "   REIN*   MODE    MSND*   REST    LIST    NOOP    SIZE    MLSD \r\n"
      "214- #229||||\r\n";
  EXPECT_EQ(out.substr(0, expected.size()), expected);
  EXPECT_EQ(out.substr(expected.size()).substr(0, 9), "214 #230|");
  EXPECT_EQ(protocol::help_column_width(protocol::cmdtab()), 8);
}

TEST_F(HelpTest, SiteListingUsesSixteenWideColumnsAndTheSitePrefix) {
  protocol_test::use_config("-help *\n");
  const std::string out = run("HELP SITE");
  EXPECT_EQ(protocol::help_column_width(protocol::sitetab()), 16);
  EXPECT_EQ(out.substr(0, 20), "214- #228|SITE |||\r\n");
  // 79 sub-commands in four columns: twenty rows, the last one shorter.
  const std::size_t first = out.find("\r\n") + 2;
  const std::string first_row = out.substr(first, out.find("\r\n", first) - first);
  EXPECT_EQ(first_row, "   CHMOD           WELCOME         SEARCH          LASTON ");
  EXPECT_EQ(count(out, "\r\n   "), 20);
  EXPECT_NE(out.find("\r\n   ALUP            NUKE            REQFILLED       XDUPE \r\n"
                     "   ALDN            UNNUKE          SEEN \r\n214- #229"),
            std::string::npos)
      << out;
  EXPECT_EQ(run("HELP site").substr(0, 20), "214- #228|SITE |||\r\n");
}

TEST_F(HelpTest, HelpOnSiteCommandsNeedsTheHelpRule) {
  protocol_test::use_config("-help !*\n");
  const std::string out = run("HELP SITE WHO");
  EXPECT_EQ(out.substr(0, 7), "200 #22");
  EXPECT_EQ(count(out, "\r\n"), 1);
  EXPECT_EQ(run("HELP USER"), "214 #232||USER|<sp> username|\r\n");
}

TEST_F(HelpTest, SiteHelpShowsTheSitesHelpFileWhenThereIsOne) {
  protocol_test::use_config("-help *\n");
  const scratch::ScratchDir site("help");
  std::strcpy(core::session().data_path, site.path().c_str());
  EXPECT_EQ(run("SITE HELP").substr(0, 20), "214- #228|SITE |||\r\n");

  site.write("help/site.help", "Our commands\n");
  EXPECT_EQ(run("SITE HELP"), "200- Our commands\r\n200 #187||||\r\n");
}

}  // namespace
