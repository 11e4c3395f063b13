// The daemon's command line: idle bounds, modes and files.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "core/session.h"
#include "startup/options.h"

namespace {

core::Session parse(std::initializer_list<const char*> words) {
  std::vector<std::string> storage(words.begin(), words.end());
  storage.insert(storage.begin(), "marlod");
  std::vector<char*> argv;
  for (std::string& word : storage) argv.push_back(word.data());
  argv.push_back(nullptr);
  core::Session s;
  startup::parse_options(static_cast<int>(argv.size() - 1), argv.data(), s);
  return s;
}

TEST(StartupOptions, MaxIdleBelowDefaultLowersBothIdleValues) {
  core::Session s = parse({"-t", "900", "-T", "300"});
  EXPECT_EQ(s.idle_timeout, 300);
  EXPECT_EQ(s.default_idle_timeout, 300);
  EXPECT_EQ(s.max_idle_timeout, 300);
}

TEST(StartupOptions, DefaultIdleAboveMaxRaisesTheMax) {
  core::Session s = parse({"-T", "100", "-t", "500"});
  EXPECT_EQ(s.idle_timeout, 500);
  EXPECT_EQ(s.max_idle_timeout, 500);
  s = parse({"-t", "30"});
  EXPECT_EQ(s.idle_timeout, 30);
  EXPECT_EQ(s.max_idle_timeout, 7200);
}

TEST(StartupOptions, FlagsAndFiles) {
  core::Session s = parse({"-d", "-e", "-L", "-i", "-o", "-I", "-n", "0", "-r", "/x.conf",
                              "-s", "/y.bin", "-B"});
  EXPECT_EQ(s.debug, 1);
  EXPECT_EQ(s.week_starts_monday, 1);
  EXPECT_EQ(s.log_level, 2);
  EXPECT_EQ(s.log_uploads, 1);
  EXPECT_EQ(s.log_downloads, 1);
  EXPECT_EQ(s.no_ident, 1);
  EXPECT_EQ(s.dns_retries, 0);
  EXPECT_EQ(s.config_path, "/x.conf");
  EXPECT_EQ(s.strings_path, "/y.bin");
  EXPECT_EQ(s.bouncer_mode, 2);
  EXPECT_EQ(parse({"-b"}).bouncer_mode, 1);
  EXPECT_EQ(parse({"-l"}).log_level, 1);
}

TEST(StartupOptions, BadOptionsAreSkippedAndParsingGoesOn) {
  core::Session s = parse({"-x", "-u", "ignored", "-l", "-n"});
  EXPECT_EQ(s.log_level, 1);     // after the unknown -x and the ignored -u
  EXPECT_EQ(s.dns_retries, 1);   // -n without its number changes nothing
}

TEST(StartupOptions, NumbersAreTakenLikeAtoi) {
  EXPECT_EQ(parse({"-n", "3x"}).dns_retries, 3);
  EXPECT_EQ(parse({"-n", "abc"}).dns_retries, 0);
}

}  // namespace
