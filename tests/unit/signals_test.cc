// The start-up signal handlers, each tried in a child process so that the
// test program keeps its own handlers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include "core/privilege.h"
#include "core/session.h"
#include "core/signals.h"

namespace {

// Runs `body` in a child after the handlers are installed; returns the
// child's wait status.
int in_child(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    core::install_signal_handlers();
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST(Signals, HandledSetHoldsEndingSignalsPipeAndUrgentData) {
  int status = in_child([] {
    const sigset_t& set = core::handled_signals();
    for (int sig : {SIGHUP, SIGTERM, SIGINT, SIGQUIT, SIGSEGV, SIGALRM, SIGUSR1, SIGPIPE, SIGURG})
      if (!sigismember(&set, sig)) return 10 + sig;
    if (sigismember(&set, SIGCHLD)) return 2;
    return 0;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Signals, EndingSignalsOnlyRecordTheRequestUntilTheNextCheck) {
  for (int sig : {SIGTERM, SIGHUP, SIGALRM, SIGPIPE, SIGUSR2}) {
    int status = in_child([sig] {
      ::raise(sig);
      // The handler returned: nothing ended inside it.
      if (!core::termination_requested) return 2;
      core::end_session_if_requested();
      return 0;  // not reached: the check ends the session
    });
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << sig;
    EXPECT_EQ(WEXITSTATUS(status), 1) << "signal " << sig;
  }
}

TEST(Signals, FaultsLeaveAtOnce) {
  int status = in_child([] {
    ::raise(SIGFPE);
    return 0;  // not reached
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST(Signals, BlockedSignalWaitsForTheEndOfTheBracket) {
  int status = in_child([] {
    {
      core::SignalBlock block;
      ::raise(SIGTERM);
      // Still blocked: the privileged work finishes first.
      if (core::termination_requested) return 3;
    }
    return core::termination_requested ? 0 : 4;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Signals, ExitStatusOfExternalProgramsCanBeCollected) {
  int status = in_child([] {
    pid_t program = ::fork();
    if (program == 0) ::_exit(7);
    int program_status = 0;
    if (::waitpid(program, &program_status, 0) != program) return 2;
    return WIFEXITED(program_status) ? WEXITSTATUS(program_status) : 3;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(Signals, UrgentDataOnlyRaisesAFlag) {
  int status = in_child([] {
    ::raise(SIGURG);
    return core::urgent_data_pending ? 0 : 2;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
