// The control connection reader and one turn of the command loop: telnet
// answers, line splitting, urgent-data leftovers, end of input, the idle
// timer, the time limit and the cscript hooks.
#include "core/control_reader.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>


#include "core/idle_alarm.h"
#include "protocol/command_loop.h"
#include "protocol/command_scripts.h"
#include "protocol/idle_timer.h"
#include "protocol_test_support.h"

namespace {

class ControlReaderTest : public protocol_test::ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
    core::set_control_fd(fds_[0]);
  }
  void TearDown() override {
    core::session().idle_timeout = 0;
    core::restart_idle_time_out();
    core::set_alarm_timer({});
    core::set_control_fd(0);
    ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
    ProtocolTest::TearDown();
  }
  void send(const std::string& bytes) {
    ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void hang_up() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }
  // get_line with the reader's usual limit; "<EOF>" for no line.
  std::string line(std::size_t size = 1023) {
    std::vector<char> buffer(size + 1, 'Z');
    const char* got = core::get_line(buffer.data(), size);
    return got ? std::string(got) : std::string("<EOF>");
  }

  int fds_[2] = {-1, -1};
};

double timer_left() {
  itimerval value{};
  ::getitimer(ITIMER_REAL, &value);
  return static_cast<double>(value.it_value.tv_sec) + value.it_value.tv_usec / 1e6;
}

TEST_F(ControlReaderTest, LinesComeOneAtATimeFromOneRead) {
  send("USER a\r\nPASS b\r\nNOOP");
  hang_up();
  EXPECT_EQ(line(), "USER a\r\n");
  EXPECT_EQ(line(), "PASS b\r\n");
  EXPECT_EQ(line(), "NOOP");  // end of input after some bytes
  EXPECT_EQ(line(), "<EOF>");
}

TEST_F(ControlReaderTest, UrgentDataLeftoversStartTheNextLine) {
  std::strcpy(core::session().oob_line, "AB");
  send("OR\r\n");
  EXPECT_EQ(line(), "ABOR\r\n");
  EXPECT_STREQ(core::session().oob_line, "");
  // A whole line left over is returned without reading.
  std::strcpy(core::session().oob_line, "STAT\r\n");
  EXPECT_EQ(line(), "STAT\r\n");
  EXPECT_FALSE(core::control_has_input());
}

TEST_F(ControlReaderTest, HasInputSeesBufferedAndPendingBytes) {
  EXPECT_FALSE(core::control_has_input());
  send("NOOP\r\nSTAT\r\n");
  EXPECT_TRUE(core::control_has_input());
  line();
  EXPECT_TRUE(core::control_has_input());  // STAT waits in the buffer
  line();
  EXPECT_FALSE(core::control_has_input());
}

TEST_F(ControlReaderTest, EndOfInputEndsTheSession) {
  hang_up();
  EXPECT_EXIT(protocol::parse_one_command(), ::testing::ExitedWithCode(0), "");
}

TEST_F(ControlReaderTest, TimeLimitEndsTheSessionBeforeReading) {
  core::Session& s = core::session();
  s.logged_in = 1;
  s.user.time_limit = 1;
  s.login_time = core::now() - 61;
  EXPECT_EXIT(protocol::parse_one_command(), ::testing::ExitedWithCode(1), "");
  s.login_time = core::now();
  send("NOOP\r\n");
  protocol::parse_one_command();
  EXPECT_EQ(replies_.text(), "200 #9|NOOP|||\r\n");
}

// The kernel timer shows where the deadline is: a shorter time-out sets it
// only when the deadline moves.
TEST_F(ControlReaderTest, IdleCommandsLeaveTheDeadlineWhereItIs) {
  protocol_test::use_config("idle_commands NOOP stat*\n");
  EXPECT_TRUE(protocol::is_idle_command("noop"));
  EXPECT_TRUE(protocol::is_idle_command("STAT /x"));
  EXPECT_FALSE(protocol::is_idle_command("LIST"));
  core::install_idle_timer();
  core::session().idle_timeout = 900;
  core::restart_idle_time_out();
  core::session().idle_timeout = 100;
  protocol::rearm_idle_alarm("NOOP");
  EXPECT_GT(timer_left(), 800);
  protocol::rearm_idle_alarm("LIST");
  EXPECT_LE(timer_left(), 100);
}

TEST_F(ControlReaderTest, IdleCommandAfterTheDeadlineTimesOut) {
  protocol_test::use_config("idle_commands NOOP\n");
  core::install_idle_timer();
  core::session().idle_timeout = 1;
  EXPECT_EXIT(
      {
        core::restart_idle_time_out();
        ::sleep(2);  // until the ring
        protocol::rearm_idle_alarm("NOOP");
      },
      ::testing::ExitedWithCode(1), "");
}

TEST_F(ControlReaderTest, IdleAlarmEndsTheBlockedRead) {
  core::session().idle_timeout = 1;
  core::install_idle_timer();
  // A ring before the deadline leaves the read waiting; the one at the
  // deadline ends it.
  EXPECT_EXIT(
      {
        core::restart_idle_time_out();
        ::raise(SIGALRM);
        protocol::parse_one_command();
      },
      ::testing::ExitedWithCode(1), "");
}

TEST_F(ControlReaderTest, PasswordLinesStayOutOfTheOnlineTable) {
  EXPECT_TRUE(protocol::status_may_show("RETR file\r\n"));
  EXPECT_FALSE(protocol::status_may_show("pass secret\r\n"));
  EXPECT_FALSE(protocol::status_may_show("SITE CHPASS bob newpass\r\n"));
  EXPECT_FALSE(protocol::status_may_show("site gadduser grp bob pw\r\n"));
  EXPECT_FALSE(protocol::status_may_show("SITE PASSWD x\r\n"));
}

// A scratch directory with executable scripts.
class ScriptTest : public ControlReaderTest {
 protected:
  void SetUp() override {
    ControlReaderTest::SetUp();
    core::Session& s = core::session();
    s.logged_in = 1;
    std::strcpy(s.user.name, "alice");
    std::strcpy(s.user.groups[0], "staff");
  }
  std::string script(const std::string& name, const std::string& body) {
    const std::string path = site_.write(name, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
  }
  void hook(const char* command, int when, const std::string& path) {
    core::CustomScript entry;
    std::strncpy(entry.command, command, sizeof entry.command - 1);
    entry.when = when;
    std::strncpy(entry.script, path.c_str(), sizeof entry.script - 1);
    core::session().cscripts.push_back(entry);
  }
  std::string file(const std::string& name) { return scratch::read_file(site_ / name); }

  const scratch::ScratchDir site_{"cscript"};
  const std::string dir_ = site_.path();
};

TEST_F(ScriptTest, PreScriptLinesTakeTheCodeOfTheFinalReply) {
  struct Case {
    const char* command;
    const char* body;  // nullptr: a missing script
    mode_t mode;
    const char* replies;
  };
  for (const Case& c : {
           Case{"SYST", "exit 3\n", 0755, "500 #227||||\r\n"},
           Case{"NOOP", nullptr, 0755, "200 #9|NOOP|||\r\n"},
           // Exists but cannot run: refused like a script that said no.
           Case{"NOOP", "exit 0\n", 0644, "500 #227||||\r\n"},
           Case{"NOOP", "echo '200 checked'\necho '553 Refused.'\nexit 1\n", 0755,
                "553-  checked\r\n553  Refused.\r\n"},
           Case{"NOOP", "echo '200 checked'\necho 'no code'\nexit 1\n", 0755,
                "500-  checked\r\n500 #227||||\r\n"},
           Case{"NOOP", "echo '100 one'\necho '150 two'\n", 0755,
                "200-  one\r\n200-  two\r\n200 #9|NOOP|||\r\n"},
       }) {
    core::session().cscripts.clear();
    core::session().pre_script_status = 0;
    const std::string path = c.body ? script("pre", c.body) : dir_ + "/missing";
    if (c.body) ::chmod(path.c_str(), c.mode);
    hook(c.command, 1, path);
    replies_.clear();
    send(std::string(c.command) + "\r\n");
    protocol::parse_one_command();
    EXPECT_EQ(replies_.text(), c.replies) << c.command;
  }
}

TEST_F(ScriptTest, HooksSeePasswordsMasked) {
  const std::string out = dir_ + "/lines";
  hook("PASS", 1, script("pass", "echo \"$1\" >> " + out + "\n"));
  hook("SITE", 1, script("site", "echo \"$1\" >> " + out + "\n"));
  send("PASS secret\r\nSITE ADDUSER bob pw1 *@1.2.3.4\r\nsite gadduser grp bob pw2\r\n"
       "SITE CHPASS bob pw3\r\nSITE PASSWD pw4\r\nSITE WHO x\r\n");
  for (int i = 0; i < 6; ++i) protocol::parse_one_command();
  // (The reader upper-cases the command word in place.)
  EXPECT_EQ(file("lines"),
            "PASS password\nSITE ADDUSER bob password *@1.2.3.4\nSITE gadduser grp bob password\n"
            "SITE CHPASS bob password\nSITE PASSWD password\nSITE WHO x\n");
}

TEST_F(ScriptTest, HookMatchesWholeWordsOnly) {
  core::CustomScript entry;
  std::strcpy(entry.command, "SITE WHO");
  EXPECT_TRUE(protocol::script_matches(entry, "site who"));
  EXPECT_TRUE(protocol::script_matches(entry, "SITE WHO extra"));
  EXPECT_FALSE(protocol::script_matches(entry, "SITE WHOM"));
  EXPECT_FALSE(protocol::script_matches(entry, "SITE"));
}

TEST_F(ScriptTest, PostScriptFollowsOnlySuccessfulCommands) {
  const std::string out = dir_ + "/post.out";
  hook("TYPE", 2, script("post", "echo \"$1|$2|$3\" >> " + out + "\n"));
  send("type I\r\nTYPE E\r\nNOOP\r\nNOOP\r\n");
  protocol::parse_one_command();  // TYPE I succeeds
  protocol::parse_one_command();  // its post script runs; TYPE E fails
  EXPECT_EQ(file("post.out"), "TYPE I|alice|staff\n");
  protocol::parse_one_command();  // no post script for the failed TYPE E
  protocol::parse_one_command();
  EXPECT_EQ(file("post.out"), "TYPE I|alice|staff\n");
}

TEST_F(ScriptTest, RefusedCommandGetsNoPostScript) {
  hook("NOOP", 1, script("pre", "exit 1\n"));
  hook("NOOP", 2, script("post", "touch " + dir_ + "/ran\n"));
  send("NOOP\r\nSYST\r\n");
  protocol::parse_one_command();
  protocol::parse_one_command();
  EXPECT_NE(::access((dir_ + "/ran").c_str(), F_OK), 0);
}

}  // namespace
