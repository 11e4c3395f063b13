// ABOR and STAT on the control connection while a transfer runs: what is
// answered, and what is left for the command loop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "core/control_reader.h"
#include "core/session.h"
#include "protocol_test_support.h"
#include "transfer/data_connection.h"
#include "transfer/transfer_control.h"

namespace {

using transfer::classify_transfer_line;

TEST(TransferLine, OnlyCompleteAborAndStatLinesCount) {
  EXPECT_EQ(classify_transfer_line("ABOR\r\n"), 1);
  EXPECT_EQ(classify_transfer_line("abor\n"), 1);
  EXPECT_EQ(classify_transfer_line("STAT\r\n"), 2);
  EXPECT_EQ(classify_transfer_line("Stat\n"), 2);
  EXPECT_EQ(classify_transfer_line("ABOR"), 0);
  EXPECT_EQ(classify_transfer_line("ABORT\n"), 0);
  EXPECT_EQ(classify_transfer_line("NOOP\r\n"), 0);
  EXPECT_EQ(classify_transfer_line(""), 0);
}

class TransferControl : public ::testing::Test {
 protected:
  void SetUp() override {
    protocol_test::load_numbered_strings();
    core::session() = core::Session{};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair_), 0);
    core::set_control_fd(pair_[0]);
  }
  void TearDown() override {
    core::set_control_fd(0);
    ::close(pair_[0]);
    ::close(pair_[1]);
  }
  void client_sends(const std::string& text) {
    ASSERT_EQ(::write(pair_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  int pair_[2] = {-1, -1};
  protocol_test::ReplyCapture replies_;
};

TEST_F(TransferControl, StatReportsTheBytesSoFarAndTheSize) {
  transfer::progress() = {5000, 1234};
  client_sends("STAT\r\n");
  EXPECT_FALSE(transfer::abort_requested());
  EXPECT_EQ(replies_.text(), "213 #567|1234|5000||\r\n");
  replies_.clear();
  transfer::progress() = {-1, 77};
  client_sends("stat\r\n");
  EXPECT_FALSE(transfer::abort_requested());
  EXPECT_EQ(replies_.text(), "213 #568|77|||\r\n");
}

TEST_F(TransferControl, AnotherCommandWaitsUnchangedForTheCommandLoop) {
  client_sends("retr Some.File\r\n");
  EXPECT_FALSE(transfer::abort_requested());
  EXPECT_EQ(replies_.text(), "");
  EXPECT_STREQ(core::session().oob_line, "retr So");
  // While it waits, nothing more is read, not even an ABOR behind it.
  client_sends("ABOR\r\n");
  EXPECT_FALSE(transfer::abort_requested());
  char line[64];
  ASSERT_NE(core::get_line(line, sizeof line - 1), nullptr);
  EXPECT_STREQ(line, "retr Some.File\r\n");
  ASSERT_NE(core::get_line(line, sizeof line - 1), nullptr);
  EXPECT_STREQ(line, "ABOR\r\n");
}

}  // namespace
