// The cookie expander: the grammar (formatted cookies, conditions, "%%",
// unknown cookies, "%LOGOUT") and the values of the top-level, user and
// listing cookies for a session user set up here.
#include "text/cookies.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_store.h"
#include "core/session.h"
#include "core/user_record.h"
#include "scratch_site.h"
#include "text/cookie_values.h"
#include "text/display_fields.h"

namespace {

template <std::size_t N>
void set_field(char (&field)[N], const char* value) {
  std::snprintf(field, N, "%s", value);
}

class CookiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::Session& s = core::session();
    saved_user_ = s.user;
    s.user = core::UserRecord{};
    set_field(s.user.name, "bob");
    set_field(s.user.flags, "3A");
    set_field(s.user.groups[0], "Friends");
    set_field(s.user.groups[1], "iND");
    set_field(s.user.private_groups[0], "Staff");
    set_field(s.data_path, dir_.c_str());
    set_field(s.cwd, "/site/mp3/Some.Release-GRP");
    s.current_section = 0;
    text::clear_display_fields();
    write_config("");
  }
  void TearDown() override {
    core::session().user = saved_user_;
    config::clear_config();
  }

  void write_config(const std::string& lines) { scratch::load_config(site_ / "marlod.conf", "# test site\n" + lines); }

  static std::string expand(const char* tmpl) { return text::expand_cookie_text(tmpl).text; }
  static core::UserRecord& user() { return core::session().user; }

  const scratch::ScratchDir site_{"cookies"};
  const std::string dir_ = site_.path();
  core::UserRecord saved_user_;
};

// The expander's grammar for a user of flags 3A in groups Friends, iND and
// the private group Staff, with 1.5 MiB uploaded.
TEST_F(CookiesTest, GrammarTable) {
  user().sections[0].allup.amount = 1536;  // KiB
  const std::pair<const char*, const char*> cases[] = {
      {"%[%-10s]Iu %[%.1f]IG", "bob        1.5"}, {"<%[%5s]Iu>", "<  bob>"}, {"%[%.2s]Iu", "bo"},
      {"100%% sure", "100% sure"}, {"a%xb", "ab"}, {"end%", "end"},
      // Undefined letters give nothing; an undefined member of a family "%?".
      {"<%[%s]Q>", "<>"}, {"<%[%s]Wq>", "<%?>"}, {"<%[%s]I~>", "<%?>"}, {"<%[%s]I", "<%?"},
      {"<%[%s]I>", "<%?"},  // ">" was taken as the member letter
      {"%[%s]Iuxyz", "bobxyz"},  // the name letters end the cookie
      {"%?=iND:member:guest:?", "member"}, {"%?=Other,Staff:member:guest:?", "member"},
      {"%?=Other,ind:member:guest:?", "guest"}, {"%?=:member:guest:?", "guest"},
      // A broken condition drops only its marker.
      {"a%?1:yes", "a1:yes"}, {"a%?1:yes:no", "a1:yes:no"}, {"a%?1:yes:no:", "a1:yes:no:"},
  };
  for (const auto& [tmpl, expected] : cases) EXPECT_EQ(expand(tmpl), expected) << tmpl;
}

TEST_F(CookiesTest, MismatchedOrMalformedConversionsAreHarmless) {
  user().logins_total = 42;
  EXPECT_EQ(expand("%[%s]IL"), "42");        // text conversion on a number
  EXPECT_EQ(expand("%[%d]Iu"), "0");         // integer conversion on a text
  EXPECT_EQ(expand("%[%.1f]Iu"), "0.0");
  EXPECT_EQ(expand("%[%s %s %s %d]Iu"), "bob   0");  // only one value is there
  EXPECT_EQ(expand("%[%*s]Iu"), "");  // the width takes the only value
  EXPECT_EQ(expand("%[%n]Iu"), "%n");
  EXPECT_EQ(expand("a%[%sb"), "ab");         // no closing bracket
  EXPECT_EQ(expand("a%["), "a");
  EXPECT_EQ(expand("%[%s]"), "");            // no name
  const std::string wide = expand("%[%99999999s]Iu");
  EXPECT_EQ(wide.size(), text::kCookieOutputLimit);
  const std::string long_conversion = "%[" + std::string(300, '-') + "s]Iu";
  EXPECT_LE(expand(long_conversion.c_str()).size(), text::kCookieOutputLimit);
}

TEST_F(CookiesTest, ExpansionStopsAtTheOutputLimit) {
  std::string tmpl;
  for (int i = 0; i < 100; ++i) tmpl += "%[%200s]Iu";
  const std::string out = expand(tmpl.c_str());
  EXPECT_EQ(out.size(), text::kCookieOutputLimit);
  EXPECT_EQ(expand(std::string(10000, 'x').c_str()).size(), text::kCookieOutputLimit);
}

TEST_F(CookiesTest, FlagConditions) {
  const char* tmpl = "[%?1:siteop:user:?]";
  EXPECT_EQ(expand(tmpl), "[user]");
  set_field(user().flags, "31");
  EXPECT_EQ(expand(tmpl), "[siteop]");
  // Any of the letters is enough; the chosen text is expanded.
  EXPECT_EQ(expand("%?2Z1:%[%s]Iu is staff:no:?!"), "bob is staff!");
  EXPECT_EQ(expand("%?27:yes:%[%s]Iu:?"), "bob");
  EXPECT_EQ(expand("%?Z:yes::?."), ".");
}

TEST_F(CookiesTest, LogoutStopsTheExpansion) {
  text::CookieExpansion result = text::expand_cookie_text("bye %[%s]Iu%LOGOUT never");
  EXPECT_TRUE(result.logout);
  EXPECT_EQ(result.text, "bye bob");
  result = text::expand_cookie_text("%?1:x:%LOGOUT:? never");
  EXPECT_TRUE(result.logout);
  EXPECT_EQ(result.text, "");
  result = text::expand_cookie_text("%LOGOU");
  EXPECT_FALSE(result.logout);
}

TEST_F(CookiesTest, SiteCookiesFromTheConfiguration) {
  EXPECT_EQ(expand("%[%s]S/%[%s]s/<%[%s]E>/%[%s]P"), "SITE/SITE/<>/none");
  write_config(
      "sitename_long Long Site Name\nsitename_short LSN\nemail staff@example.org\n"
      "stat_section DEFAULT *\nstat_section MP3 /site/mp3/* yes\n");
  // A configuration word ends at the first blank.
  EXPECT_EQ(expand("%[%s]S/%[%s]s/%[%s]E"), "Long/LSN/staff@example.org");
  EXPECT_EQ(expand("%[%s]b"), "MP3");
  set_field(core::session().cwd, "/elsewhere/dir");
  EXPECT_EQ(expand("%[%s]b %[%s]d"), "DEFAULT dir");
  set_field(core::session().cwd, "/");
  EXPECT_EQ(expand("%[%s]d"), "/");
}

TEST_F(CookiesTest, FlagRowAndFileCookies) {
  EXPECT_EQ(expand("[%[%s]fA][%[%s]f1][%[%s]f?]"), "[*][ ][ ]");
  text::display_fields().row = 7;
  EXPECT_EQ(expand("%[%02d]c."), "07.");
  EXPECT_EQ(expand("%[%s]D"), "n/a");
  struct stat status {};
  status.st_mtime = 86400 * 365;
  const std::string date = text::expand_cookie_text("%[%s]D", &status).text;
  EXPECT_EQ(date, text::ctime_text(status.st_mtime));
  EXPECT_EQ(date.find("  "), std::string::npos);
  EXPECT_NE(date.find("1971"), std::string::npos);
}

TEST_F(CookiesTest, UserLimitCookies) {
  EXPECT_EQ(expand("%[%s]I@"), "Disabled");
  user().idle_time = 300;
  EXPECT_EQ(expand("%[%d]I@"), "300");
  EXPECT_EQ(expand("%[%s]I#"), "Unlimited");
  user().max_logins_per_ip = 2;
  EXPECT_EQ(expand("%[%d]I#"), "2");
  // -1 means no limit; 0 means no transfers at all.
  EXPECT_EQ(expand("%[%s]I*/%[%s]I^"), "Unlimited/Unlimited");
  user().max_sim_down = 0;
  user().max_sim_up = 3;
  EXPECT_EQ(expand("%[%s]I*/%[%s]I^"), "0/3");
  EXPECT_EQ(expand("%[%.1f]Iz/%[%.1f]I&"), "0.1/0.1");
  user().max_dlspeed = 102400;
  EXPECT_EQ(expand("%[%.1f]Iz"), "100.0");
  user().wkly_allotment = 2048;
  EXPECT_EQ(expand("%[%.2f]IW"), "2.00");
}

TEST_F(CookiesTest, PerSectionStatistics) {
  write_config("stat_section DEFAULT * no\nstat_section MP3 /site/mp3/* no\n");
  core::session().current_section = 1;
  core::SectionRecord& section = user().sections[1];
  section.allup = {3, 3072, 10};
  section.alldn = {2, 1024, 0};
  section.wkup = {4, 5120, 0};
  section.wkdn = {5, 0, 7};
  section.dayup = {6, 2048, 4};
  section.daydn = {7, 100, 30};
  section.monthup = {8, 999, 2};
  section.monthdn = {9, 10240, 3};
  EXPECT_EQ(expand("%[%d]If %[%.1f]IG %[%.0f]IU"), "3 3.0 307");
  EXPECT_EQ(expand("%[%d]Ii %[%.1f]IJ %[%.0f]ID"), "2 1.0 0");
  EXPECT_EQ(expand("%[%d]Ig %[%.1f]Ih %[%.0f]Iq"), "4 5.0 0");
  EXPECT_EQ(expand("%[%d]II %[%.1f]Ik %[%.0f]IV"), "5 0.0 0");
  EXPECT_EQ(expand("%[%d]IA %[%.1f]IB %[%.0f]Is"), "6 2.0 512");
  EXPECT_EQ(expand("%[%d]IN %[%.1f]IP %[%.0f]IS"), "7 0.1 3");
  EXPECT_EQ(expand("%[%d]Ia %[%.1f]Ib %[%.0f]IQ"), "8 1.0 499");
  EXPECT_EQ(expand("%[%d]In %[%.1f]Ip %[%.0f]Iv"), "9 10.0 3413");
  // (3072 + 1024) KiB over 10 s, whole KiB per second.
  EXPECT_EQ(expand("%[%.1f]IR"), "409.0");
  EXPECT_EQ(expand("%[%s]Il %[%d]IO %[%.0f]Ix"), "--- 0 0");
  section.last_nuked = 86400 * 400;
  section.times_nuked = 2;
  section.nuked_mb = 150;
  EXPECT_EQ(expand("%[%s]Il"), text::ctime_text(86400 * 400));
  EXPECT_EQ(expand("%[%d]IO %[%.0f]Ix"), "2 150");
}

TEST_F(CookiesTest, CreditsFollowTheCreditSection) {
  user().sections[0].credits = 2048;
  user().sections[1].credits = 512;
  write_config("stat_section DEFAULT * no\nstat_section MP3 /site/mp3/* yes\n");
  EXPECT_EQ(expand("%[%.1f]Ic"), "0.5");
  write_config("stat_section DEFAULT * no\nstat_section MP3 /site/mp3/* no\n");
  EXPECT_EQ(expand("%[%.1f]Ic"), "2.0");
}

TEST_F(CookiesTest, RatioCookie) {
  write_config("stat_section DEFAULT * no\nstat_section MP3 /site/mp3/* no\n");
  core::session().current_section = 1;
  EXPECT_EQ(expand("%[%s]Ir"), "1:3");  // -1 takes section 0's ratio
  user().sections[1].ratio = 0;
  EXPECT_EQ(expand("%[%s]Ir"), "Unlimited");
  user().sections[1].ratio = 2;
  EXPECT_EQ(expand("%[%s]Ir"), "1:2");
  write_config(
      "creditcheck /other/* 9\ncreditcheck /site/mp3/* 5\ncreditcheck /site/* 7\n");
  EXPECT_EQ(expand("%[%s]Ir"), "1:5");
  write_config("creditcheck /site/mp3/* 0\n");
  EXPECT_EQ(expand("%[%s]Ir"), "Unlimited");
  // A line without a multiplier ends the walk, as it does for uploads.
  write_config("creditcheck /other/*\ncreditcheck /site/mp3/* 5\n");
  EXPECT_EQ(expand("%[%s]Ir"), "1:2");
  // Leeches stay leeches whatever the creditcheck lines say.
  user().sections[1].ratio = 0;
  write_config("creditcheck /site/mp3/* 5\n");
  EXPECT_EQ(expand("%[%s]Ir"), "Unlimited");
}

TEST_F(CookiesTest, TimeTexts) {
  EXPECT_EQ(text::clock_text(59), "   00:59");
  EXPECT_EQ(text::clock_text(3599), "   59:59");
  EXPECT_EQ(text::clock_text(3600 * 25 + 61), "25:01:01");
  EXPECT_EQ(text::clock_text(-5), "   00:00");
  EXPECT_EQ(text::since_text(60), "1 minute");
  EXPECT_EQ(text::since_text(3600 + 120), "1 hour, 2 minutes");
  EXPECT_EQ(text::since_text(86400 * 2 + 3600 * 2 + 60), "2 days, 2 hours, 1 minute");
  EXPECT_EQ(text::since_text(86400), "1 day, 0 hours, 0 minutes");
  user().time_today = 3725;
  EXPECT_EQ(expand("%[%s]Ie"), "01:02:05");
  user().last_login = static_cast<int32_t>(core::now() - 7200);
  EXPECT_EQ(expand("%[%s]IT"), "2 hours, 0 minutes");
  EXPECT_EQ(text::collapse_white_space("  Sat Dec  6 11:20:00 2025\n"), "Sat Dec 6 11:20:00 2025");
}

TEST_F(CookiesTest, NumericListingCookiesConvertTheirFields) {
  const char* values[] = {"1.5", "20", "300", "4", "50", "6", "7", "8", "25"};
  for (int n = 1; n <= 9; ++n) text::set_display_field(n, values[n - 1]);
  EXPECT_EQ(expand("%[%.1f]Zp %[%.1f]ZP"), "600.0 50.0");
  EXPECT_EQ(expand("%[%.1f]gm %[%.1f]gn %[%.1f]gb %[%.1f]gc"), "1.5 20.0 300.0 50.0");
  EXPECT_EQ(expand("%[%d]gf %[%d]gx %[%d]gg %[%d]gy %[%d]gk %[%d]gl"), "20 300 4 4 50 6");
  // An empty total gives 0 %, not an infinite share.
  text::set_display_field(5, "0");
  EXPECT_EQ(expand("%[%.1f]Zp"), "0.0");
  text::set_display_field(5, "junk");
  EXPECT_EQ(expand("%[%.1f]ZP"), "0.0");
}

TEST_F(CookiesTest, DisplayFieldsAreBounded) {
  text::set_display_field(1, std::string(1000, 'x'));
  EXPECT_EQ(text::display_field(1).size(), text::kDisplayFieldSize - 1);
  text::set_display_field(0, "ignored");
  text::set_display_field(10, "ignored");
  EXPECT_EQ(text::display_field(10), "");
}

}  // namespace
