// The userfile text format: defaults, the quirks of each line, the exact
// written layout, and reads of damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "core/time_helpers.h"
#include "core/user_record.h"
#include "userdb/userfile.h"

namespace {

using core::UserRecord;

constexpr time_t kNoon = 1700049600;  // 2023-11-15 12:00 UTC

UserRecord parse(const std::string& text, int sections = 1, time_t today = kNoon) {
  UserRecord record;
  std::string home;
  userdb::parse_userfile(text, "bob", sections, today, record, &home);
  return record;
}

TEST(UserfileFormat, OnlyFlagsLeavesEveryOtherFieldAtItsDefault) {
  UserRecord r = parse("FLAGS 1\n");
  EXPECT_STREQ(r.flags, "1");
  EXPECT_STREQ(r.name, "bob");
  EXPECT_STREQ(r.tagline, "No TagLine Set");
  EXPECT_STREQ(r.startup_dir, "/");
  EXPECT_EQ(r.sections[0].ratio, 3);
  EXPECT_EQ(r.sections[1].ratio, -1);
  EXPECT_EQ(r.idle_time, -1);
  EXPECT_EQ(r.max_logins, 1);
  EXPECT_EQ(r.slots[0], -1);
  EXPECT_EQ(r.max_sim_up, -1);
  EXPECT_EQ(r.comment[0], '\0');
}

TEST(UserfileFormat, GeneralLineSectionPrefixIsOneDigitAndAComma) {
  UserRecord with = parse("GENERAL 3,5000 120 1000 2000\n");
  EXPECT_EQ(with.wkly_section, 3);
  EXPECT_EQ(with.wkly_allotment, 5000u);
  EXPECT_EQ(with.idle_time, 120);
  EXPECT_EQ(with.max_dlspeed, 1000u);
  EXPECT_EQ(with.max_ulspeed, 2000u);
  UserRecord without = parse("GENERAL 5000\n");
  EXPECT_EQ(without.wkly_section, 0);
  EXPECT_EQ(without.wkly_allotment, 5000u);
  EXPECT_EQ(parse("GENERAL 0,0x10\n").wkly_allotment, 16u);
}

TEST(UserfileFormat, TimeTodayCountsOnlyWhenTheLastLoginWasToday) {
  const time_t earlier_today = kNoon - 3600;
  const time_t yesterday = kNoon - 86400;
  EXPECT_EQ(parse("TIME 5 " + std::to_string(earlier_today) + " 60 300\n").time_today, 300);
  UserRecord old = parse("TIME 5 " + std::to_string(yesterday) + " 60 300\n");
  EXPECT_EQ(old.time_today, 0);
  EXPECT_EQ(old.logins_total, 5);
  EXPECT_EQ(old.time_limit, 60);
  EXPECT_EQ(parse("TIME 5 0 60 300\n", 1, 0).time_today, 0);
}

TEST(UserfileFormat, ListsTakeTenEntriesAndWritingStopsAtTheFirstGap) {
  std::string text;
  for (int i = 0; i < 11; ++i) text += "GROUP g" + std::to_string(i) + "\n";
  UserRecord r = parse(text);
  EXPECT_STREQ(r.groups[9], "g9");
  std::string written = userdb::format_userfile(r, 1);
  EXPECT_EQ(written.find("GROUP g10"), std::string::npos);
  EXPECT_NE(written.find("GROUP g9\n"), std::string::npos);

  r.groups[2][0] = '\0';
  written = userdb::format_userfile(r, 1);
  EXPECT_NE(written.find("GROUP g1\n"), std::string::npos);
  EXPECT_EQ(written.find("GROUP g3"), std::string::npos);
}

TEST(UserfileFormat, FifteenCharacterGroupNamesSurviveARoundTrip) {
  UserRecord r = parse("GROUP abcdefghijklmno\nPRIVATE ABCDEFGHIJKLMNO\n");
  EXPECT_STREQ(r.groups[0], "abcdefghijklmno");
  UserRecord again = parse(userdb::format_userfile(r, 1));
  EXPECT_STREQ(again.groups[0], "abcdefghijklmno");
  EXPECT_STREQ(again.private_groups[0], "ABCDEFGHIJKLMNO");
}

TEST(UserfileFormat, WritesEveryLineInOrderWithOneGroupPerSection) {
  UserRecord r;
  std::strcpy(r.name, "bob");
  std::strcpy(r.flags, "13");
  std::strcpy(r.groups[0], "staff");
  std::strcpy(r.ips[0], "*@10.0.0.*");
  r.wkly_section = 1;
  r.wkly_allotment = 700;
  r.sections[0].credits = -5;
  r.sections[1].credits = 42;
  r.sections[1].allup = {2, 2048, 10};
  r.sections[1].last_nuked = 99;
  r.logins_total = 7;
  const std::string expected =
      "USER bob\n"
      "GENERAL 1,700 -1 0 0\n"
      "LOGINS 1 0 -1 -1\n"
      "TIMEFRAME 0 0\n"
      "FLAGS 13\n"
      "TAGLINE No TagLine Set\n"
      "DIR /\n"
      "CREDITS -5 42 \n"
      "RATIO 3 -1 \n"
      "ALLUP 0 0 0 2 2048 10 \n"
      "ALLDN 0 0 0 0 0 0 \n"
      "WKUP 0 0 0 0 0 0 \n"
      "WKDN 0 0 0 0 0 0 \n"
      "DAYUP 0 0 0 0 0 0 \n"
      "DAYDN 0 0 0 0 0 0 \n"
      "MONTHUP 0 0 0 0 0 0 \n"
      "MONTHDN 0 0 0 0 0 0 \n"
      "NUKE 0 0 0 99 0 0 \n"
      "TIME 7 0 0 0\n"
      "SLOTS -1 -1\n"
      "GROUP staff\n"
      "IP *@10.0.0.*\n";
  EXPECT_EQ(userdb::format_userfile(r, 2), expected);

  UserRecord back = parse(expected, 2);
  std::strcpy(back.comment, "");
  EXPECT_EQ(userdb::format_userfile(back, 2), expected);
}

TEST(UserfileFormat, TaglineAndCommentAreTidiedAndCommentsCut) {
  UserRecord r = parse("TAGLINE   hello \t  big   world  \nUSER  Added by  root # note\n");
  EXPECT_STREQ(r.tagline, "hello big world");
  EXPECT_STREQ(r.comment, "Added by root");
  EXPECT_EQ(userdb::format_userfile(r, 1).substr(0, 19), "USER Added by root\n");
}

TEST(UserfileFormat, HomedirReplacesMruserWithTheNewAccount) {
  userdb::account_being_created() = "carol";
  UserRecord r;
  std::string home;
  userdb::parse_userfile("HOMEDIR /site/users/$mruser/incoming\n", "default.user", 1, kNoon, r, &home);
  EXPECT_EQ(home, "/site/users/carol/incoming");
  userdb::parse_userfile("HOMEDIR /home/$mruserjunk\n", "default.user", 1, kNoon, r, &home);
  EXPECT_EQ(home, "/home/carol");
  userdb::account_being_created().clear();
  EXPECT_EQ(userdb::format_userfile(r, 1).find("HOMEDIR"), std::string::npos);
}

TEST(UserfileFormat, KeywordsOfTwentyOrMoreCharactersAndUnknownOnesAreIgnored) {
  UserRecord r = parse("FLAGSXXXXXXXXXXXXXXXXXXX 1\nBOGUS 2\nFLAGS 3\n");
  EXPECT_STREQ(r.flags, "3");
}

TEST(UserfileFormat, NewlinesInFieldsNeverStartALineOfTheirOwn) {
  UserRecord r;
  std::strcpy(r.name, "bob");
  std::strcpy(r.tagline, "hi\nFLAGS 1");
  std::string text = userdb::format_userfile(r, 1);
  EXPECT_EQ(parse(text).flags[0], '\0');
}

TEST(UserfileFormat, DamagedNumbersReadAsNumbersWithoutOverflow) {
  UserRecord r = parse(
      "LOGINS abc 99999999999999999999 -99999999999999999999 7x\n"
      "CREDITS 12junk\n"
      "TIMEFRAME 70000 -70000\n"
      "GENERAL 9,\n");
  EXPECT_EQ(r.max_logins, 0);
  EXPECT_EQ(r.max_logins_per_ip, INT32_MAX);
  EXPECT_EQ(r.max_sim_down, INT32_MIN);
  EXPECT_EQ(r.max_sim_up, 7);
  EXPECT_EQ(r.sections[0].credits, 12);
  EXPECT_EQ(r.timeframe_from, INT16_MAX);
  EXPECT_EQ(r.timeframe_to, INT16_MIN);
  EXPECT_EQ(r.wkly_section, 9);
}

// Every prefix of a valid file, long lines, and random bytes must parse
// into a record whose written form reads back to the same record.
TEST(UserfileFormat, TruncatedOverlongAndRandomInputNeverProduceGarbage) {
  UserRecord full;
  std::strcpy(full.name, "bob");
  std::strcpy(full.groups[0], "staff");
  std::strcpy(full.ips[0], "*@*");
  const std::string good = userdb::format_userfile(full, 3);
  std::mt19937 random(7);
  std::vector<std::string> inputs;
  for (std::size_t cut = 0; cut <= good.size(); ++cut) inputs.push_back(good.substr(0, cut));
  inputs.push_back("TAGLINE " + std::string(100000, 'x') + "\nDIR " + std::string(5000, '/') + "\n");
  inputs.push_back("IP " + std::string(300, 'a') + "\nGROUP " + std::string(300, 'g') + "\n");
  inputs.push_back(std::string("FLAGS 1\0\0\0 2\nGROUP a\0b\n", 24));
  for (int i = 0; i < 300; ++i) {
    std::string junk(random() % 600, '\0');
    for (char& c : junk) c = static_cast<char>(random() % 256);
    if (i % 2) junk = "GROUP " + junk + "\nCREDITS " + junk;
    inputs.push_back(junk);
  }
  for (const std::string& input : inputs) {
    UserRecord r = parse(input, 3);
    ASSERT_EQ(r.tagline[sizeof r.tagline - 1], '\0');
    ASSERT_EQ(r.ips[9][sizeof r.ips[9] - 1], '\0');
    std::string written = userdb::format_userfile(r, 3);
    ASSERT_EQ(written.find('\0'), std::string::npos);
    UserRecord again = parse(written, 3);
    ASSERT_EQ(userdb::format_userfile(again, 3), written) << "input size " << input.size();
  }
}

TEST(UserfileFlags, FlagLettersAndOthers) {
  EXPECT_TRUE(core::has_flag("13A", '3'));
  EXPECT_FALSE(core::has_flag("13A", '2'));
  EXPECT_FALSE(core::has_flag("13A", '\0'));
  EXPECT_EQ(core::flag_number('N'), 'N');
  EXPECT_EQ(core::flag_number('9'), 0);
  EXPECT_EQ(core::flag_number('O'), 0);
  EXPECT_EQ(core::flag_number('*'), 0);
}

TEST(UserfileNames, NamesThatCannotBeUserfilesAreRefused) {
  EXPECT_TRUE(userdb::valid_user_name("bob"));
  EXPECT_FALSE(userdb::valid_user_name(""));
  EXPECT_FALSE(userdb::valid_user_name(".."));
  EXPECT_FALSE(userdb::valid_user_name("../etc/passwd"));
  EXPECT_FALSE(userdb::valid_user_name(std::string(24, 'a')));
  EXPECT_TRUE(userdb::valid_user_name(std::string(23, 'a')));
}

TEST(TimeHelpers, WindowsPassingMidnightExcludeTheirLastHour) {
  EXPECT_TRUE(core::hour_in_timeframe(23, 22, 2));
  EXPECT_TRUE(core::hour_in_timeframe(1, 22, 2));
  EXPECT_FALSE(core::hour_in_timeframe(2, 22, 2));
  EXPECT_FALSE(core::hour_in_timeframe(21, 22, 2));
  EXPECT_TRUE(core::hour_in_timeframe(9, 9, 17));
  EXPECT_FALSE(core::hour_in_timeframe(17, 9, 17));
  EXPECT_TRUE(core::hour_in_timeframe(3, 5, 5));
  EXPECT_TRUE(core::hour_in_timeframe(3, 24, 5));
  EXPECT_TRUE(core::hour_in_timeframe(3, 5, -1));
}

TEST(TimeHelpers, PeriodStartsFollowTheLocalCalendar) {
  setenv("TZ", "UTC", 1);
  tzset();
  const time_t wednesday = kNoon;  // 2023-11-15 was a Wednesday
  EXPECT_EQ(core::start_of_today(wednesday), 1700006400);
  EXPECT_EQ(core::start_of_week(wednesday, false), 1700006400 - 3 * 86400);
  EXPECT_EQ(core::start_of_week(wednesday, true), 1700006400 - 2 * 86400);
  EXPECT_EQ(core::start_of_week(1699747200 + 3600, true), 1699747200 - 6 * 86400);  // a Sunday
  EXPECT_EQ(core::start_of_month(wednesday), 1698796800);
}

TEST(TimeHelpers, GroupedNumbers) {
  EXPECT_EQ(core::format_grouped(0), "0");
  EXPECT_EQ(core::format_grouped(999), "999");
  EXPECT_EQ(core::format_grouped(1000), "1,000");
  EXPECT_EQ(core::format_grouped(1234567), "1,234,567");
  EXPECT_EQ(core::format_grouped(-1234), "-1,234");
  char small[6];
  core::format_grouped(small, sizeof small, 1234567);
  EXPECT_STREQ(small, "1,234");
}

}  // namespace
