// What downloads cost and count: credit arithmetic, the freefile and
// creditloss walks, the foreign-address policy, account_download against
// a real userfile, and the transfer-log line.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "protocol_test_support.h"
#include "transfer/data_connection.h"
#include "transfer/download_accounting.h"
#include "transfer/upload_credits.h"
#include "transfer/xferlog.h"
#include "userdb_site_fixture.h"

namespace {

using scratch::read_file;

TEST(CreditArithmetic, CostIsBytesTimesMultiplierInWholeKiB) {
  EXPECT_EQ(transfer::credit_cost_kib(10 << 20, 3), 30720);
  EXPECT_EQ(transfer::credit_cost_kib(1023, 1), 0);
  EXPECT_EQ(transfer::credit_cost_kib(2047, 1), 1);
  EXPECT_EQ(transfer::credit_cost_kib(0, 5), 0);
  // No overflow for huge products.
  EXPECT_EQ(transfer::credit_cost_kib(LLONG_MAX / 2, 1000000), LLONG_MAX);
}

TEST(CreditArithmetic, ChargesStopAtTheLowestCredit) {
  int32_t credits = 100;
  transfer::charge_credits(credits, 150);
  EXPECT_EQ(credits, -50);
  transfer::charge_credits(credits, LLONG_MAX);
  EXPECT_EQ(credits, INT32_MIN);
}

TEST(CreditArithmetic, UploadCreditsAreComputedIn128BitsAndHeldToTheCreditRange) {
  struct Case {
    long long bytes, multiplier;
    int32_t kib;
    const char* text;
  };
  const Case cases[] = {
      {10 << 20, 3, 30720, "31,457,280"},
      {1023, 1, 0, "1,023"},
      {2047, 1, 1, "2,047"},
      {0, 3, 0, "0"},
      {999, 1, 0, "999"},
      {1000, 1, 0, "1,000"},
      // Products beyond 64 bits keep every digit; the credits stop at the
      // ends of their range instead of wrapping.
      {LLONG_MAX, 3, INT32_MAX, "27,670,116,110,564,327,421"},
      {LLONG_MAX, INT32_MAX, INT32_MAX, "19,807,040,619,342,712,359,383,728,129"},
      {LLONG_MAX, -2, INT32_MIN, "-18,446,744,073,709,551,614"},
      {(2147483647LL + 1) * 1024, 1, INT32_MAX, "2,199,023,255,552"},
      {2147483647LL * 1024, 1, INT32_MAX, "2,199,023,254,528"},
      {4096, -1, -4, "-4,096"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(transfer::earned_credits_kib(c.bytes, c.multiplier), c.kib);
    EXPECT_EQ(transfer::credit_bytes_text(c.bytes, c.multiplier), c.text);
  }
  // Taking back saturated credits stops at the lowest value.
  int32_t credits = -5;
  transfer::charge_credits(credits, transfer::earned_credits_kib(LLONG_MAX, 3));
  EXPECT_EQ(credits, INT32_MIN);
}

TEST(CreditArithmetic, StatisticsGrowInEveryPeriodAndSaturate) {
  core::SectionRecord section;
  transfer::add_download_stats(section, true, 10 << 20, 7);
  transfer::add_download_stats(section, false, 1536, 1);
  for (const core::TransferStats* stats : {&section.alldn, &section.wkdn, &section.daydn, &section.monthdn}) {
    EXPECT_EQ(stats->files, 1);
    EXPECT_EQ(stats->amount, 10241u);
    EXPECT_EQ(stats->time, 8u);
  }
  EXPECT_EQ(section.allup.files, 0);
  section.alldn.amount = UINT32_MAX - 1;
  transfer::add_download_stats(section, true, 1LL << 40, 1);
  EXPECT_EQ(section.alldn.amount, UINT32_MAX);
}

TEST(CreditArithmetic, RatioMinusOneMeansSectionZeros) {
  core::UserRecord user;
  user.sections[0].ratio = 3;
  user.sections[2].ratio = -1;
  user.sections[4].ratio = 0;
  EXPECT_EQ(transfer::effective_ratio(user, 2), 3);
  EXPECT_EQ(transfer::effective_ratio(user, 4), 0);
  EXPECT_EQ(transfer::effective_ratio(user, 99), 3);
}

TEST(Xferlog, LineHasTheClassicFields) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  transfer::XferlogRecord record;
  record.when = 86400 + 3661;
  record.seconds = 12;
  record.remote_host = "client.example";
  record.bytes = 3000000000LL;
  record.path = "/site/Some Dir/a\tb";
  record.ascii = false;
  record.direction = 'o';
  record.login_name = "bob";
  record.group = "";
  record.ident_known = false;
  record.ident_user = "ignored";
  EXPECT_EQ(transfer::xferlog_line(record),
            "Fri Jan  2 01:01:01 1970 12 client.example 3000000000 /site/Some?Dir/a?b b _ o r bob ftp 0 *\n");
  record.ascii = true;
  record.direction = 'i';
  record.group = "staff";
  record.ident_known = true;
  record.ident_user = "bobby";
  record.bytes = 5;
  EXPECT_EQ(transfer::xferlog_line(record),
            "Fri Jan  2 01:01:01 1970 12 client.example 5 /site/Some_Dir/a_b a _ i r bob staff 1 bobby\n");
}

class DownloadRules : public userdb_test::SiteTest {
 protected:
  void SetUp() override {
    SiteTest::SetUp();
    protocol_test::load_numbered_strings();
    become("bob", "3", "users");
  }
  void become(const char* name, const char* flags, const char* group) {
    core::UserRecord& user = core::session().user;
    user = core::UserRecord{};
    std::strcpy(user.name, name);
    std::strcpy(user.flags, flags);
    std::strcpy(user.groups[0], group);
  }
  core::NetAddress address(const char* dotted) { return *core::NetAddress::from_text(dotted, 0); }
};

TEST_F(DownloadRules, TheFirstMatchingFreefileLineDecides) {
  configure(
      "freefile *.nfo *\n"
      "freefile *.sfv -alice\n"
      "freefile *.sfv *\n"
      "freefile *.jpg\n"
      "freefile *.txt *\n");
  EXPECT_TRUE(transfer::is_free_file("release.nfo"));
  EXPECT_FALSE(transfer::is_free_file("release.sfv"));  // the -alice line decides
  EXPECT_FALSE(transfer::is_free_file(".hidden.nfo"));
  // A line without an access list ends the walk.
  EXPECT_FALSE(transfer::is_free_file("notes.txt"));
}

TEST_F(DownloadRules, CreditlossNeedsFourArgumentsAndTheUser) {
  configure(
      "creditloss 0 yes /free/* -alice\n"
      "creditloss 3 no /site/* *\n"
      "creditloss 2 yes\n"
      "creditloss 9 yes /other/* *\n");
  EXPECT_EQ(transfer::governing_creditloss("/free/file"), nullptr);  // first match, not for bob
  const config::ConfigEntry* line = transfer::governing_creditloss("/site/dir/file");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(transfer::creditloss_multiplier(*line), 3);
  EXPECT_EQ(transfer::governing_creditloss("/other/file"), nullptr);  // after a short line
}

TEST_F(DownloadRules, ABadMultiplierCountsAsOneAndIsLogged) {
  configure("creditloss x3 yes /site/* *\n");
  const config::ConfigEntry* line = transfer::governing_creditloss("/site/file");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(transfer::creditloss_multiplier(*line), 1);
}

TEST_F(DownloadRules, FxpLinesForOthersAreSkippedAndAttemptsLogged) {
  core::session().peer_addr = address("10.0.0.1");
  configure(
      "allow_fxp no no yes -alice\n"
      "allow_fxp yes no YES *\n");
  EXPECT_EQ(transfer::check_foreign_address(425, address("10.0.0.9"), transfer::XferDirection::Download), 0);
  EXPECT_EQ(transfer::check_foreign_address(425, address("10.0.0.8"), transfer::XferDirection::Upload), 1);
  EXPECT_EQ(replies(), "425 #150|from|||\r\n");
  const std::string log = read_file(root_ + "/logs/sysop.log");
  EXPECT_NE(log.find("'bob' attempting download to a foreign address 10.0.0.9"), std::string::npos);
  EXPECT_NE(log.find("'bob' attempting upload from a foreign address 10.0.0.8"), std::string::npos);
}

TEST_F(DownloadRules, AnFxpLineWithoutAccessListEndsTheWalk) {
  core::session().peer_addr = address("10.0.0.1");
  configure(
      "allow_fxp no no no\n"
      "allow_fxp no no no *\n");
  EXPECT_EQ(transfer::check_foreign_address(425, address("10.0.0.9"), transfer::XferDirection::Download), 0);
}

class AccountDownload : public DownloadRules {
 protected:
  void SetUp() override {
    DownloadRules::SetUp();
    // Userfiles carry one statistics section per stat_section line.
    configure("stat_section DEFAULT * no\n");
    core::Session& s = core::session();
    s.user.sections[0].credits = 40000;
    s.user.sections[0].ratio = 3;
    ASSERT_EQ(userdb::write_user(s.user), 0);
    transfer::download_terms() = transfer::DownloadTerms{};
    transfer::download_terms().path = "/site/dir/file.bin";
    transfer::download_terms().file_ratio = 3;
  }
  core::UserRecord saved() {
    EXPECT_EQ(userdb::read_userfile("bob"), 0);
    return userdb::work_user();
  }
};

TEST_F(AccountDownload, ARestartedDownloadCountsBytesButNoFile) {
  configure("stat_section DEFAULT * no\n");
  transfer::download_terms().restart_point = 4096;
  transfer::download_terms().xfer_seconds = 3;
  transfer::account_download(8192);
  const core::UserRecord user = saved();
  EXPECT_EQ(user.sections[0].credits, 40000 - 8);
  EXPECT_EQ(user.sections[0].alldn.files, 0);
  EXPECT_EQ(user.sections[0].wkdn.amount, 8u);
  EXPECT_EQ(core::session().session_files_down, 0);
}

TEST_F(AccountDownload, NostatsSkipsStatisticsAndFreeFilesSkipCredits) {
  configure("stat_section DEFAULT * no\nnostats /site/* *\n");
  transfer::account_download(5000);
  core::UserRecord user = saved();
  EXPECT_EQ(user.sections[0].credits, 40000 - 4);
  EXPECT_EQ(user.sections[0].alldn.files, 0);
  transfer::download_terms().file_is_free = true;
  transfer::account_download(5000);
  user = saved();
  EXPECT_EQ(user.sections[0].credits, 40000 - 4);
}

}  // namespace
