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

// -t is the default idle time, -T the highest one a user may choose.
TEST(StartupOptions, IdleBoundsMoveTogether) {
  struct Case {
    std::initializer_list<const char*> words;
    int idle, max_idle;
  } cases[] = {
      {{"-t", "900", "-T", "300"}, 300, 300},
      {{"-T", "100", "-t", "500"}, 500, 500},
      {{"-t", "30"}, 30, 7200},
  };
  for (const Case& c : cases) {
    const core::Session s = parse(c.words);
    EXPECT_EQ(s.idle_timeout, c.idle) << *c.words.begin();
    EXPECT_EQ(s.default_idle_timeout, c.idle) << *c.words.begin();
    EXPECT_EQ(s.max_idle_timeout, c.max_idle) << *c.words.begin();
  }
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
