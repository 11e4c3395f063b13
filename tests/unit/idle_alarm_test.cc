// The idle deadline and the kernel timer behind it: activity moves only
// the deadline, and a ring before the deadline is no time-out.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>

#include "core/idle_alarm.h"
#include "core/session.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Seconds until the kernel timer rings; 0 when it is not set.
double timer_left() {
  itimerval value{};
  ::getitimer(ITIMER_REAL, &value);
  return static_cast<double>(value.it_value.tv_sec) + value.it_value.tv_usec / 1e6;
}

void restart_with(int idle_timeout) {
  core::session().idle_timeout = idle_timeout;
  core::restart_idle_time_out();
}

class IdleAlarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::session() = core::Session{};
    core::install_idle_timer();
  }
  void TearDown() override {
    restart_with(0);
    core::set_alarm_timer({});
  }
};

TEST_F(IdleAlarmTest, OnlyADeadlineBeforeTheRingSetsTheTimer) {
  struct Case {
    int timer_set;  // seconds; 0: no timer
    int idle_timeout;
    double timer_after;
  };
  for (const Case& c : {
           Case{0, 900, 900},
           Case{100, 900, 100},  // rings first, then is set for the rest
           Case{900, 60, 60},    // would ring late
           Case{100, 0, 100},    // no time-out: the timer rings harmlessly
       }) {
    core::set_alarm_timer(seconds(c.timer_set));
    restart_with(c.idle_timeout);
    EXPECT_NEAR(timer_left(), c.timer_after, 1.0) << c.timer_set << " then " << c.idle_timeout;
  }
}

TEST_F(IdleAlarmTest, ARingBeforeTheDeadlineSetsTheTimerForTheRest) {
  restart_with(900);
  core::set_alarm_timer(seconds(5));
  ::raise(SIGALRM);
  EXPECT_FALSE(core::idle_alarm_pending());
  EXPECT_NEAR(timer_left(), 900, 1.0);
  ::raise(SIGALRM);
  core::check_idle_alarm();  // returns: no time-out yet
  EXPECT_NEAR(timer_left(), 900, 1.0);
  // Without a time-out a ring changes nothing.
  restart_with(0);
  ::raise(SIGALRM);
  EXPECT_FALSE(core::idle_alarm_pending());
  EXPECT_FALSE(core::idle_deadline_passed());
}

TEST_F(IdleAlarmTest, AnEarlyRingDoesNotCutAPauseShort) {
  restart_with(900);
  core::set_alarm_timer(milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  core::pause_seconds(1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(990));
  EXPECT_NEAR(timer_left(), 899, 1.0);
}

TEST_F(IdleAlarmTest, ARingAtTheDeadlineTimesOut) {
  EXPECT_EXIT(
      {
        restart_with(1);
        // A timer set before the deadline moved rings early.
        core::set_alarm_timer(milliseconds(100));
        ::sleep(2);
        core::check_idle_alarm();
        if (timer_left() < 0.5) std::_Exit(3);
        std::fputs("early ring passed\n", stderr);
        ::sleep(2);
        if (!core::idle_alarm_pending() || !core::idle_deadline_passed()) std::_Exit(4);
        core::check_idle_alarm();
        std::_Exit(5);
      },
      ::testing::ExitedWithCode(1), "early ring passed");
}

}  // namespace
