// The signal block and the root-privilege bracket: what they block, what
// they restore, and in which order.
#include "core/privilege.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t usr1_deliveries = 0;
volatile sig_atomic_t euid_at_delivery = -1;

void on_usr1(int) {
  usr1_deliveries = usr1_deliveries + 1;
  euid_at_delivery = static_cast<sig_atomic_t>(geteuid());
}

bool blocked(int signal_number) {
  sigset_t current;
  sigprocmask(SIG_SETMASK, nullptr, &current);
  return sigismember(&current, signal_number) == 1;
}

// SIGUSR1 stands for the server's handled signals; SIGUSR2 is not handled.
class Privilege : public ::testing::Test {
 protected:
  void SetUp() override {
    sigaddset(&core::handled_signals(), SIGUSR1);
    struct sigaction action {};
    action.sa_handler = on_usr1;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &previous_action_);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, &previous_mask_);
    usr1_deliveries = 0;
    euid_at_delivery = -1;
  }

  void TearDown() override {
    if (geteuid() != 0) core::set_effective_uid(0);
    sigprocmask(SIG_SETMASK, &previous_mask_, nullptr);
    sigaction(SIGUSR1, &previous_action_, nullptr);
    sigdelset(&core::handled_signals(), SIGUSR1);
  }

  struct sigaction previous_action_ {};
  sigset_t previous_mask_{};
};

TEST_F(Privilege, SignalBlockHoldsHandledSignalsUntilItEnds) {
  {
    core::SignalBlock block;
    EXPECT_TRUE(blocked(SIGUSR1));
    EXPECT_FALSE(blocked(SIGUSR2));
    raise(SIGUSR1);
    EXPECT_EQ(usr1_deliveries, 0);
  }
  EXPECT_FALSE(blocked(SIGUSR1));
  EXPECT_EQ(usr1_deliveries, 1);
}

TEST_F(Privilege, NestedBlocksUnblockOnlyWhenTheOutermostEnds) {
  {
    core::SignalBlock outer;
    {
      core::SignalBlock inner;
      EXPECT_TRUE(blocked(SIGUSR1));
    }
    EXPECT_TRUE(blocked(SIGUSR1));
  }
  EXPECT_FALSE(blocked(SIGUSR1));
}

TEST_F(Privilege, SignalBlockLeavesAnEarlierBlockInPlace) {
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, nullptr);
  { core::SignalBlock block; }
  EXPECT_TRUE(blocked(SIGUSR1));
}

TEST_F(Privilege, BracketRaisesToRootAndDropsBackBeforeSignalsArrive) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  ASSERT_TRUE(core::set_effective_uid(65534));
  {
    core::PrivilegeBracket privileged;
    EXPECT_EQ(geteuid(), 0u);
    EXPECT_TRUE(blocked(SIGUSR1));
    raise(SIGUSR1);
  }
  const uid_t after = geteuid();
  ASSERT_TRUE(core::set_effective_uid(0));
  EXPECT_EQ(after, 65534u);
  EXPECT_EQ(usr1_deliveries, 1);
  // A handler must never run with the borrowed root identity.
  EXPECT_EQ(euid_at_delivery, 65534);
}

TEST_F(Privilege, BracketInsideABracketKeepsRootUntilTheOuterEnds) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  ASSERT_TRUE(core::set_effective_uid(65534));
  uid_t between = 1;
  {
    core::PrivilegeBracket outer;
    { core::PrivilegeBracket inner; }
    between = geteuid();
  }
  const uid_t after = geteuid();
  ASSERT_TRUE(core::set_effective_uid(0));
  EXPECT_EQ(between, 0u);
  EXPECT_EQ(after, 65534u);
}

TEST_F(Privilege, BracketUnderRootStaysRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  { core::PrivilegeBracket privileged; }
  EXPECT_EQ(geteuid(), 0u);
  EXPECT_FALSE(blocked(SIGUSR1));
}

}  // namespace
