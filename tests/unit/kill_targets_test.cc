// Which processes KICK, KILL and the ghost kill may signal as root, and
// which words KILL takes for a process id.
#include <gtest/gtest.h>

#include <string>

#include "online/slot_signal.h"
#include "site/online_commands.h"

namespace {

TEST(SignalTarget, RefusesGroupsInitAndTheSuperServer) {
  constexpr long kParent = 4242;
  EXPECT_FALSE(online::may_signal(-1, kParent));
  EXPECT_FALSE(online::may_signal(-4243, kParent));
  EXPECT_FALSE(online::may_signal(0, kParent));
  EXPECT_FALSE(online::may_signal(1, kParent));
  EXPECT_FALSE(online::may_signal(kParent, kParent));
  EXPECT_TRUE(online::may_signal(2, kParent));
  EXPECT_TRUE(online::may_signal(kParent + 1, kParent));
}

struct WordCase {
  std::string word;
  int pid;
};

class KillWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(KillWord, OnlyAPositiveDecimalProcessIdNamesASession) {
  EXPECT_EQ(site::kill_target(GetParam().word), GetParam().pid) << GetParam().word;
}

INSTANTIATE_TEST_SUITE_P(Words, KillWord,
                         ::testing::Values(WordCase{"99999", 99999}, WordCase{"2147483647", 2147483647},
                                           WordCase{"-1", 0}, WordCase{"0", 0}, WordCase{"7x", 0},
                                           WordCase{"4294967297", 0}, WordCase{"2147483648", 0},
                                           WordCase{"+5", 0}, WordCase{"", 0}, WordCase{" 5", 0}));

}  // namespace
