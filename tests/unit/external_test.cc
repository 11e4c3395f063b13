// External programs: what a program inherits, how its status comes back,
// how a run ends with the session, and the upload checker.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "core/idle_alarm.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/signals.h"
#include "scratch_site.h"
#include "text/external.h"

namespace {

// The probe under the name that selects what it does.
class ExternalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::session() = core::Session{};
    config::clear_config();
    // Programs that run as another user must reach their files.
    ::chmod(dir_.path().c_str(), 0755);
  }
  std::string probe(const std::string& mode) {
    const std::string path = dir_ / mode;
    if (::access(path.c_str(), F_OK) != 0) (void)::symlink(SCRIPT_PROBE, path.c_str());
    return path;
  }
  // All output lines of a stream, then its status.
  static std::vector<std::string> drain(std::FILE* stream, int& status) {
    std::vector<std::string> lines;
    std::string line;
    while (text::read_output_line(stream, line)) lines.push_back(line);
    status = text::close_command(stream);
    return lines;
  }
  // The probe's report as key -> rest of the line.
  std::map<std::string, std::string> report(const std::vector<std::string>& arguments) {
    std::FILE* stream = text::run_script(probe("report").c_str(), arguments);
    EXPECT_NE(stream, nullptr);
    if (stream == nullptr) return {};
    int status = -1;
    std::map<std::string, std::string> keys;
    for (const std::string& line : drain(stream, status)) {
      const std::size_t blank = line.find(' ');
      keys[line.substr(0, blank)] = blank == std::string::npos ? "" : line.substr(blank + 1);
    }
    EXPECT_EQ(status, 0);
    return keys;
  }

  const scratch::ScratchDir dir_{"external"};
};

TEST_F(ExternalTest, ProgramRunsAsTheUserWithACleanProcessState) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing identity needs root";
  // The server's own state that must not reach the program.
  const int leaked = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 3);
  struct sigaction ignore {}, previous_pipe {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous_pipe);
  sigset_t usr1, previous_mask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ::sigprocmask(SIG_BLOCK, &usr1, &previous_mask);

  struct Case {
    bool logged_in;
    uid_t uid;
    gid_t egid;  // the server's effective gid while the program starts
    const char* uids;
    const char* gids;
    const char* groups;
  };
  for (const Case& c : {
           Case{false, 0, 0, "65534 65534 65534", "65534 65534 65534", "0"},
           // The server is at euid 0 for a privileged step: still the user.
           Case{true, 4321, 4322, "4321 4321 4321", "4322 4322 4322", nullptr},
       }) {
    core::Session& s = core::session();
    s.logged_in = c.logged_in;
    s.uid = c.uid;
    ASSERT_EQ(::setegid(c.egid), 0);
    auto keys = report({"a b", "c"});
    ASSERT_EQ(::setegid(0), 0);
    EXPECT_EQ(keys["args"], "report|a b|c");
    EXPECT_EQ(keys["uid"], c.uids);
    EXPECT_EQ(keys["gid"], c.gids);
    if (c.groups) {
      EXPECT_EQ(keys["groups"], c.groups);
    }
    EXPECT_EQ(keys["fds"], "0 1 2");
    EXPECT_EQ(keys["sigpipe"], "default");
    EXPECT_EQ(keys["mask"], "empty");
  }
  ::sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
  ::sigaction(SIGPIPE, &previous_pipe, nullptr);
  ::close(leaked);
}

TEST_F(ExternalTest, StatusOfTheProgram) {
  const std::string not_executable = dir_.write("plain", "#!/bin/sh\necho never\n");
  ::chmod(not_executable.c_str(), 0644);
  struct Case {
    std::string program;
    int status;
  };
  for (const Case& c : {
           Case{probe("exit7"), 7},
           Case{probe("segv"), 128 + SIGSEGV},
           // Exists but cannot run, or missing: an empty stream, status 1.
           Case{not_executable, 1},
           Case{dir_ / "missing", 1},
       }) {
    std::FILE* stream = text::run_script(c.program.c_str(), {});
    ASSERT_NE(stream, nullptr) << c.program;
    int status = -1;
    EXPECT_TRUE(drain(stream, status).empty()) << c.program;
    EXPECT_EQ(status, c.status) << c.program;
  }
  std::FILE* other = std::tmpfile();
  EXPECT_EQ(text::close_command(other), -1);
  std::fclose(other);
}

TEST_F(ExternalTest, CommandLinesAreSplitExpandedAndMergeErrors) {
  dir_.write("g1.txt", "");
  dir_.write("g2.txt", "");
  probe("report");
  struct Case {
    std::string line;
    bool quiet;
    std::vector<std::string> output;
  };
  for (const Case& c : {
           Case{probe("noisy"), false, {"err", "out"}},
           Case{probe("noisy"), true, {"out"}},
       }) {
    int status = -1;
    EXPECT_EQ(drain(text::run_command(c.line, c.quiet), status), c.output) << c.line;
    EXPECT_EQ(status, 0);
  }
  int status = -1;
  const auto lines = drain(
      text::run_command(dir_ / "report\t" + dir_ / "g*.txt  plain" + " " + dir_ / "none*"), status);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "args report|" + dir_ / "g1.txt|" + dir_ / "g2.txt|plain|" + dir_ / "none*");
}

TEST_F(ExternalTest, RunEndsWhenTheProgramExitsThoughTheOutputStaysOpen) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* stream = text::run_script(probe("hold").c_str(), {});
  ASSERT_NE(stream, nullptr);
  int status = -1;
  const auto lines = drain(stream, status);
  // The process left behind holds the pipe for 30 s.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(status, 0);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].substr(0, 2), "x ");
  ::kill(std::stoi(lines[0].substr(2)), SIGKILL);
}

bool gone(pid_t pid) {
  for (int tries = 0; tries < 200; ++tries) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    ::usleep(10000);
  }
  return false;
}

// The session ends while a program runs: its group is stopped and reaped
// before the process leaves.
TEST_F(ExternalTest, SessionEndStopsTheProgram) {
  struct Case {
    const char* mode;
    bool idle;  // the idle alarm, else a termination request
  };
  for (const Case& c : {Case{"sleeper", true}, Case{"stubborn", true}, Case{"sleeper", false}}) {
    const std::string program = probe(c.mode);
    const std::string pid_file = dir_ / "pid";
    EXPECT_EXIT(
        {
          core::install_idle_timer();
          std::FILE* stream = text::run_script(program.c_str(), {});
          std::string line;
          if (stream == nullptr || !text::read_output_line(stream, line)) std::_Exit(3);
          scratch::write_file(pid_file, line.substr(4));
          if (c.idle) {
            // The time-out; a ring before it must not end the program.
            core::session().idle_timeout = 1;
            core::restart_idle_time_out();
            struct itimerval shortly {};
            shortly.it_value.tv_usec = 100000;
            ::setitimer(ITIMER_REAL, &shortly, nullptr);
          } else {
            core::termination_requested = 1;
          }
          text::read_output_line(stream, line);
          std::_Exit(4);
        },
        ::testing::ExitedWithCode(1), "")
        << c.mode;
    const pid_t pid = std::stoi("0" + scratch::read_file(pid_file));
    ASSERT_GT(pid, 0) << c.mode;
    EXPECT_TRUE(gone(pid)) << c.mode;
    ::kill(pid, SIGKILL);
  }
}

TEST_F(ExternalTest, PostCheck) {
  const std::string not_executable = dir_.write("plain", "#!/bin/sh\n");
  ::chmod(not_executable.c_str(), 0644);
  struct Case {
    std::string config;
    const char* path;
    int status;
    std::string first_line;  // the first line shown, with the final reply's code
  };
  for (const Case& c : {
           Case{"post_check " + probe("report") + " *.zip\n", "/site/Rel.A/X.ZIP", 0,
                "553- args report|X.ZIP|/site/Rel.A|00001A2B"},
           Case{"post_check " + probe("exit7") + " *.rar\npost_check " + probe("report") + "\n",
                "/site/R/a.zip", 0, "553- args report|a.zip|/site/R|00001A2B"},
           Case{"post_check " + probe("report") + " *.rar\n", "/site/R/a.zip", 0, ""},
           Case{"post_check " + (dir_ / "missing") + "\n", "/site/R/a.zip", 0, ""},
           Case{"post_check " + probe("exit7") + "\n", "/site/R/a.zip", 7, ""},
           Case{"post_check " + not_executable + "\n", "/site/R/a.zip", 1, ""},
       }) {
    scratch::load_config(dir_ / "marlod.conf", c.config);
    scratch::ReplyTap replies;
    EXPECT_EQ(text::post_check(c.path, 0x1A2B), c.status) << c.config;
    core::reply(553, "final");
    const std::string shown = replies.text();
    EXPECT_EQ(shown.substr(0, shown.find("\r\n")), c.first_line.empty() ? "553 final" : c.first_line)
        << c.config;
  }
}

}  // namespace
