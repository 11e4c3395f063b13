// The download loop against a real socket: binary and ASCII content, the
// restart offset, an ABOR waiting on the control connection, a client that
// drops the data connection, and a file that is still being uploaded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <string>
#include <thread>

#include "core/control_reader.h"
#include "core/session.h"
#include "protocol_test_support.h"
#include "transfer/data_connection.h"
#include "transfer/data_socket.h"
#include "transfer/download.h"
#include "transfer/send_data.h"

namespace {

std::string pattern_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return bytes;
}

TEST(AsciiConversion, EveryLineFeedGetsACarriageReturn) {
  std::string out;
  transfer::ascii_convert("a\nb\r\n\n", 6, out);
  EXPECT_EQ(out, "a\r\nb\r\r\n\r\n");
  out.clear();
  transfer::ascii_convert("no newline", 10, out);
  EXPECT_EQ(out, "no newline");
}

TEST(GrowingFile, OnlyMode0755ChangedWithinThirtySecondsIsFollowed) {
  EXPECT_TRUE(transfer::still_growing(0100755, 1000, 1029));
  EXPECT_FALSE(transfer::still_growing(0100755, 1000, 1030));
  EXPECT_FALSE(transfer::still_growing(0100644, 1000, 1001));
  EXPECT_TRUE(transfer::still_growing(0104755, 1000, 1001));
}

class SendData : public ::testing::Test {
 protected:
  void SetUp() override {
    protocol_test::load_numbered_strings();
    core::session() = core::Session{};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, control_), 0);
    core::set_control_fd(control_[0]);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, data_), 0);
    transfer::progress() = {-1, 0};
    transfer::begin_data_connection();
  }
  void TearDown() override {
    transfer::end_data_connection();
    core::set_control_fd(0);
    for (int fd : {control_[0], control_[1], data_[0], data_[1]})
      if (fd >= 0) ::close(fd);
  }

  int make_file(const std::string& content, mode_t mode = 0644) {
    path_ = dir_ + "/file";
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    EXPECT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::fchmod(fd, mode);
    ::lseek(fd, 0, SEEK_SET);
    return fd;
  }

  static off_t size_of(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : 0;
  }

  // Runs send_data while a client thread reads everything that arrives.
  int send(int fd, bool ascii, std::string& received) {
    std::thread client([&] {
      char buffer[65536];
      ssize_t got;
      while ((got = ::read(data_[1], buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(got));
    });
    const int result = transfer::send_data(fd, data_[0], path_, ascii, ::lseek(fd, 0, SEEK_CUR), size_of(fd));
    ::shutdown(data_[0], SHUT_WR);
    client.join();
    return result;
  }

  const scratch::ScratchDir site_{"send"};
  const std::string dir_ = site_.path();
  std::string path_;
  int control_[2] = {-1, -1};
  int data_[2] = {-1, -1};
  protocol_test::ReplyCapture replies_;
};

TEST_F(SendData, BinaryStartsAtTheFilePosition) {
  const std::string content = pattern_bytes(100000);
  const int fd = make_file(content);
  ::lseek(fd, 5000, SEEK_SET);
  std::string received;
  EXPECT_EQ(send(fd, false, received), 0);
  ::close(fd);
  EXPECT_TRUE(received == content.substr(5000));
  EXPECT_EQ(transfer::progress().byte_count, 95000);
}

TEST_F(SendData, AsciiRestartCountsTwoForEachNewline) {
  const int fd = make_file("ab\ncd\nef");
  // "ab\r\n" is 4 bytes on the wire: a restart at 4 starts at "cd".
  ASSERT_TRUE(transfer::seek_ascii_restart(fd, 4));
  char c = 0;
  ASSERT_EQ(::read(fd, &c, 1), 1);
  EXPECT_EQ(c, 'c');
  ASSERT_TRUE(transfer::seek_ascii_restart(fd, 8));
  ASSERT_EQ(::read(fd, &c, 1), 1);
  EXPECT_EQ(c, 'e');
  EXPECT_FALSE(transfer::seek_ascii_restart(fd, 11));
  ::close(fd);
}

TEST_F(SendData, AClientDroppingTheConnectionGets426NotALostSession) {
  const int fd = make_file(pattern_bytes(4 * transfer::kBinaryChunk));
  ::close(data_[1]);
  data_[1] = -1;
  EXPECT_EQ(transfer::send_data(fd, data_[0], path_, false, 0, size_of(fd)), -1);
  ::close(fd);
  EXPECT_EQ(replies_.text().substr(0, 21), "426 Data connection: ");
}

TEST_F(SendData, AnOld0755FileIsNotFollowed) {
  const std::string content = pattern_bytes(5000);
  const int fd = make_file(content, 0755);
  const utimbuf old{::time(nullptr) - 60, ::time(nullptr) - 60};
  ASSERT_EQ(::utime(path_.c_str(), &old), 0);
  std::string received;
  EXPECT_EQ(send(fd, false, received), 0);
  ::close(fd);
  EXPECT_EQ(received.size(), content.size());
}

TEST_F(SendData, AFileStillBeingUploadedIsFollowedUntilItIsFinished) {
  const std::string first = pattern_bytes(3000);
  const int fd = make_file(first, 0755);
  // The client reads the first part, then the uploader appends and marks
  // the file finished (0644); the download must carry the appended bytes.
  std::string received;
  std::thread client([&] {
    char buffer[4096];
    ssize_t got;
    while (received.size() < first.size() && (got = ::read(data_[1], buffer, sizeof buffer)) > 0)
      received.append(buffer, static_cast<std::size_t>(got));
    const int out = ::open(path_.c_str(), O_WRONLY | O_APPEND);
    ASSERT_EQ(::write(out, "tail of the upload", 18), 18);
    ::fchmod(out, 0644);
    ::close(out);
    while ((got = ::read(data_[1], buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(got));
  });
  EXPECT_EQ(transfer::send_data(fd, data_[0], path_, false, 0, size_of(fd)), 0);
  ::shutdown(data_[0], SHUT_WR);
  client.join();
  ::close(fd);
  EXPECT_EQ(received, first + "tail of the upload");
}

}  // namespace
