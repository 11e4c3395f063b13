// The log writers' line layouts and files, and show_log's filters and its
// handling of missing and corrupted logs.
#include "core/logs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "scratch_site.h"

namespace {

namespace fsys = std::filesystem;

// Local time is UTC in every test here, so the expected texts are fixed.
struct UtcZone : ::testing::Environment {
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};
[[maybe_unused]] const auto* const kUtc = ::testing::AddGlobalTestEnvironment(new UtcZone);

time_t utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return timegm(&t);
}

const time_t kDayFive = utc(2026, 12, 5, 13, 46, 3);
const time_t kDayFifteen = utc(2026, 12, 15, 9, 5, 7);

std::vector<std::string> read_lines(const fsys::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A site data directory with a logs folder, and the reply stream caught in
// a temporary file.
class LogSite : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.make_dir("logs");
    core::Session& s = core::session();
    std::snprintf(s.data_path, sizeof s.data_path, "%s", root_.c_str());
    s.tz_offset = 0;
    s.show_continuations = 1;
    s.color_mode = 0;
  }

  fsys::path log(const char* name) const { return root_ / "logs" / name; }

  void write_log(const char* name, const std::string& content) const {
    std::ofstream(log(name), std::ios::binary) << content;
  }

  // Reply lines sent so far, without their CRLF.
  std::vector<std::string> replies() {
    std::vector<std::string> lines;
    std::istringstream text(replies_.text());
    for (std::string line; std::getline(text, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  const scratch::ScratchDir site_{"logs"};
  const fsys::path root_ = site_.path();
  scratch::ReplyTap replies_;
};

// Timestamp of a log line written `days_ago` whole days before now.
std::string stamp_days_ago(int days_ago) {
  return core::log_time_text(std::time(nullptr) - days_ago * 86400L).substr(0, 24);
}

TEST(LogTimestamps, DaysOneToNineKeepTwoBlanksExceptInTheEventLog) {
  EXPECT_EQ(core::log_time_text(kDayFive), "Sat Dec  5 13:46:03 2026\n");
  EXPECT_EQ(core::event_time_text(kDayFive), "Sat Dec 5 13:46:03 2026");
  EXPECT_EQ(core::log_time_text(kDayFifteen), "Tue Dec 15 09:05:07 2026\n");
  EXPECT_EQ(core::event_time_text(kDayFifteen), "Tue Dec 15 09:05:07 2026");

  EXPECT_EQ(core::event_log_line(kDayFive, "LOGIN: x"), "Sat Dec 5 13:46:03 2026 LOGIN: x\n");
  EXPECT_EQ(core::login_log_line(kDayFive, 42, "m"), "Sat Dec  5 13:46:03 2026 [42    ] m\n");
  EXPECT_EQ(core::sysop_log_line(kDayFive, 42, "m"), "Sat Dec  5 13:46:03 2026 [42      ] m\n");
}

TEST(LogProcessIds, LoginLayoutCutsAfterSixDigitsSysopLayoutNeverCuts) {
  EXPECT_EQ(core::login_log_line(kDayFifteen, 1234567, "x"),
            "Tue Dec 15 09:05:07 2026 [123456] x\n");
  EXPECT_EQ(core::sysop_log_line(kDayFifteen, 1234567, "x"),
            "Tue Dec 15 09:05:07 2026 [1234567 ] x\n");
  EXPECT_EQ(core::sysop_log_line(kDayFifteen, 123456789, "x"),
            "Tue Dec 15 09:05:07 2026 [123456789] x\n");
  EXPECT_EQ(core::login_log_line(kDayFifteen, 4294967295u, "x"),
            "Tue Dec 15 09:05:07 2026 [429496] x\n");
}

TEST(LogLongLines, EveryLayoutKeepsItsNewlineWhenTheMessageIsCut) {
  const std::string huge(20000, 'p');

  const std::string event = core::event_log_line(kDayFifteen, huge);
  EXPECT_EQ(event.size(), 4095u);
  EXPECT_EQ(event.back(), '\n');
  EXPECT_EQ(event.find('\n'), event.size() - 1);
  EXPECT_EQ(event.rfind("Tue Dec 15 09:05:07 2026 pppp", 0), 0u);

  // A message that exactly fills the line is not cut at all.
  const std::string fits(4095 - 24 - 2, 'q');
  EXPECT_EQ(core::event_log_line(kDayFifteen, fits), "Tue Dec 15 09:05:07 2026 " + fits + "\n");

  for (const std::string& line : {core::login_log_line(kDayFifteen, 7, huge),
                                  core::sysop_log_line(kDayFifteen, 7, huge)}) {
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_NE(line.find(std::string(8191, 'p')), std::string::npos);
    EXPECT_EQ(line.find(std::string(8192, 'p')), std::string::npos);
  }
}

TEST_F(LogSite, EachWriterAppendsWholeLinesToItsOwnFile) {
  const time_t before = core::now();
  core::event_log("LOGIN: %s@%s (%s) \"%.23s\"", "ident", "host", "10.0.0.1", "user");
  core::login_log("%.23s: %s@%s (%s): Login failure.", "user", "ident", "host", "10.0.0.1");
  core::request_log("%s requested %s", "user", "a thing");
  core::sysop_log("'%.23s' deleted user '%.23s'.", "op", "victim");
  core::error_log("Unable to execute pre_check script '%s'", "/bin/check");
  core::error_log("Error: %s log is corrupted: %s", "login.log", "junk");
  const time_t after = core::now();

  const auto stamped = [&](const std::string& line, bool collapsed) {
    for (time_t t = before; t <= after; ++t) {
      const std::string stamp =
          collapsed ? core::event_time_text(t) : core::log_time_text(t).substr(0, 24);
      if (line.rfind(stamp + " ", 0) == 0) return line.substr(stamp.size() + 1);
    }
    return std::string("<bad stamp> ") + line;
  };
  const std::string pid6 = core::login_log_line(0, static_cast<unsigned>(getpid()), "").substr(25);
  const std::string pid8 = core::sysop_log_line(0, getpid(), "").substr(25);

  auto lines = read_lines(log("marlod.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(stamped(lines[0], true), "LOGIN: ident@host (10.0.0.1) \"user\"");

  lines = read_lines(log("login.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(stamped(lines[0], false), pid6.substr(0, pid6.size() - 1) +
                                          "user: ident@host (10.0.0.1): Login failure.");

  lines = read_lines(log("request.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(stamped(lines[0], false), pid6.substr(0, pid6.size() - 1) + "user requested a thing");

  lines = read_lines(log("sysop.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(stamped(lines[0], false), pid8.substr(0, pid8.size() - 1) + "'op' deleted user 'victim'.");

  lines = read_lines(log("error.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(stamped(lines[0], false),
            pid8.substr(0, pid8.size() - 1) + "Unable to execute pre_check script '/bin/check'");
  EXPECT_EQ(stamped(lines[1], false),
            pid8.substr(0, pid8.size() - 1) + "Error: login.log log is corrupted: junk");
}

TEST_F(LogSite, TimestampsCarryTheTimezoneOffset) {
  core::session().tz_offset = 400 * 86400;
  const time_t before = core::now();
  core::sysop_log("shifted");
  core::event_log("shifted");
  const time_t after = core::now();
  core::session().tz_offset = 0;
  const std::string sysop = read_lines(log("sysop.log")).at(0);
  const std::string event = read_lines(log("marlod.log")).at(0);
  bool sysop_shifted = false, event_shifted = false;
  for (time_t t = before; t <= after; ++t) {
    sysop_shifted |= sysop.rfind(core::log_time_text(t).substr(0, 24), 0) == 0;
    event_shifted |= event.rfind(core::event_time_text(t), 0) == 0;
  }
  EXPECT_TRUE(sysop_shifted) << sysop;
  EXPECT_TRUE(event_shifted) << event;
}

TEST_F(LogSite, LongEventMessageCannotGlueTwoLinesTogether) {
  const std::string path = "/site/" + std::string(6000, 'd');
  core::event_log("NEWDIR: \"%s\" \"%.23s\"", path, "user");
  core::event_log("DELDIR: \"%s\"", "/site/short");
  const auto lines = read_lines(log("marlod.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 4094u);
  EXPECT_NE(lines[1].find("DELDIR: \"/site/short\""), std::string::npos);
}

TEST_F(LogSite, MissingLogsFolderIsSkippedSilently) {
  fsys::remove_all(root_ / "logs");
  core::event_log("x");
  core::login_log("x");
  core::request_log("x");
  core::sysop_log("x");
  core::error_log("x");
  EXPECT_FALSE(fsys::exists(root_ / "logs"));
  EXPECT_TRUE(replies().empty());
}

TEST_F(LogSite, WritersReachRootOwnedLogsFromAnUnprivilegedUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  write_log("sysop.log", "");
  ASSERT_EQ(chmod(log("sysop.log").c_str(), 0644), 0);
  ASSERT_TRUE(core::set_effective_uid(65534));
  core::sysop_log("'%s' purged '%s'", "op", "gone");
  core::event_log("created as root");
  const uid_t during = geteuid();
  ASSERT_TRUE(core::set_effective_uid(0));
  EXPECT_EQ(during, 65534u);
  EXPECT_EQ(read_lines(log("sysop.log")).size(), 1u);
  struct stat info {};
  ASSERT_EQ(stat(log("marlod.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 0u);
}

TEST(LogFilter, FirstWordIsTheDayCountOnlyWhenAllDigits) {
  struct Case {
    const char* argument;
    int days;
    const char* search;
  };
  for (const Case& c : {Case{"", 0, ""}, Case{"   ", 0, ""}, Case{"  3 bob extra", 3, "bob"},
                        Case{"3", 3, ""}, Case{"bob 3", 0, "bob"}, Case{"12abc", 0, "12abc"},
                        Case{"-3 bob", 0, "-3"}}) {
    const auto f = core::parse_log_filter(c.argument);
    EXPECT_EQ(f.days, c.days) << c.argument;
    EXPECT_EQ(f.search, c.search) << c.argument;
  }
  const auto f = core::parse_log_filter("99999999999999999999999999 x");
  EXPECT_GT(f.days, 1000000);
  EXPECT_EQ(f.search, "x");
}

class ShowLog : public LogSite {
 protected:
  void SetUp() override {
    LogSite::SetUp();
    old_bob_ = stamp_days_ago(10) + " [100   ] bob: old login";
    old_amy_ = stamp_days_ago(5) + " [101   ] amy: old login";
    new_bob_ = stamp_days_ago(1) + " [102   ] bob: recent login";
    now_amy_ = stamp_days_ago(0) + " [103   ] amy: Bob logged in";
    write_log("login.log", old_bob_ + "\n" + old_amy_ + "\n" + new_bob_ + "\n" + now_amy_ + "\n");
  }

  // The listed log lines: continuation lines with the reply code, minus the
  // text of any strings record (which is not a log line).
  std::vector<std::string> listed(const std::vector<std::string>& lines) const {
    std::vector<std::string> result;
    for (const std::string& line : lines)
      if (line.rfind("200- ", 0) == 0) result.push_back(line.substr(5));
    return result;
  }

  std::string old_bob_, old_amy_, new_bob_, now_amy_;
};

TEST_F(ShowLog, DayCountAndCaseSensitiveSearchFilterAloneAndTogether) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(core::show_log(200, nullptr, "login.log"), 0);
  auto lines = replies();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(listed(lines), (Lines{old_bob_, old_amy_, new_bob_, now_amy_}));
  EXPECT_EQ(lines.back().rfind("200 ", 0), 0u);
  const std::pair<const char*, Lines> cases[] = {
      {" 0 ", {old_bob_, old_amy_, new_bob_, now_amy_}},
      {"3 bob", {new_bob_}},
      {"7", {old_amy_, new_bob_, now_amy_}},
      {"bob", {old_bob_, new_bob_}},
  };
  for (const auto& [argument, expected] : cases) {
    replies_.clear();
    EXPECT_EQ(core::show_log(200, argument, "login.log"), 0);
    EXPECT_EQ(listed(replies()), expected) << argument;
  }
}

TEST_F(ShowLog, MissingLogSendsOneFinalReply) {
  EXPECT_NE(core::show_log(200, "3 bob", "request.log"), 0);
  const auto lines = replies();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("200 ", 0), 0u);
}

TEST_F(ShowLog, LineWithMissingFieldsEndsTheListingAsCorrupted) {
  write_log("login.log", new_bob_ + "\nbroken line\n" + now_amy_ + "\n");
  EXPECT_NE(core::show_log(200, "3", "login.log"), 0);
  const auto lines = replies();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "200- " + new_bob_);
  EXPECT_EQ(lines[1].rfind("200- ", 0), 0u);  // string 309
  EXPECT_EQ(lines[2], "200 broken line");
  const auto errors = read_lines(log("error.log"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("] Error: login.log log is corrupted: broken line"), std::string::npos);
}

TEST_F(ShowLog, CorruptedLineIsListedNormallyWithoutDayCount) {
  write_log("login.log", new_bob_ + "\nbroken line\n" + now_amy_ + "\n");
  EXPECT_EQ(core::show_log(200, "", "login.log"), 0);
  EXPECT_EQ(listed(replies()), (std::vector<std::string>{new_bob_, "broken line", now_amy_}));
  EXPECT_FALSE(fsys::exists(log("error.log")));
}

TEST_F(ShowLog, DateBeforeTheEpochIsCorruptedWithAFinalReply) {
  const std::string ancient = "Mon Jan  1 00:00:00 1900 [1     ] too old";
  write_log("login.log", ancient + "\n" + now_amy_ + "\n");
  EXPECT_NE(core::show_log(200, "3", "login.log"), 0);
  const auto lines = replies();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("200 ", 0), 0u);  // string 309 as the final reply
  EXPECT_NE(scratch::read_file(log("error.log")).find("Error: login.log log is corrupted: " + ancient),
            std::string::npos);
}

TEST_F(ShowLog, OverlongYearIsCorruptedNotUndefined) {
  write_log("sysop.log", "Mon Jan  1 00:00:00 99999999999999999999 [1       ] x\n");
  EXPECT_NE(core::show_log(200, "1", "sysop.log"), 0);
  EXPECT_TRUE(fsys::exists(log("error.log")));
}

TEST_F(ShowLog, LongLineIsCutButNeverSplitIntoAFalseLine) {
  const std::string long_line = new_bob_ + " " + std::string(3000, 'z');
  write_log("login.log", long_line + "\n" + now_amy_);  // last line without newline
  EXPECT_EQ(core::show_log(200, "3", "login.log"), 0);
  const auto shown = listed(replies());
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], long_line.substr(0, 1023));
  EXPECT_EQ(shown[1], now_amy_);
  EXPECT_FALSE(fsys::exists(log("error.log")));
}

}  // namespace
