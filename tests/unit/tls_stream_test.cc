// The TLS stream layer between two processes on a socket pair: a file sent
// with stream_sendfile from a socket that keeps filling up arrives whole
// (the retry after EAGAIN must offer the same bytes again), the end of a
// session reads as end of input, a stream cut without close_notify reads
// as an error, and after the closure clear text follows the peer's
// close_notify.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/file_io.h"
#include "core/tls_context.h"
#include "core/tls_engine.h"
#include "core/tls_stream.h"

namespace {

namespace stdfs = std::filesystem;

class TlsStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A session answering a cut stream may write to a closed socket.
    std::signal(SIGPIPE, SIG_IGN);
    dir_ = new stdfs::path(stdfs::temp_directory_path() / ("tls_stream_test." + std::to_string(::getpid())));
    stdfs::create_directories(*dir_);
    const std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 "
                                "-subj /CN=test -keyout " + (*dir_ / "key.pem").string() + " -out " +
                                (*dir_ / "cert.pem").string() + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    core::install_tls_engine(marlod_tls_engine());
    core::TlsSettings settings;
    settings.certificate_path = (*dir_ / "cert.pem").string();
    settings.key_path = (*dir_ / "key.pem").string();
    std::string error;
    ASSERT_TRUE(core::load_tls_credentials(settings, error)) << error;
  }
  static void TearDownTestSuite() {
    stdfs::remove_all(*dir_);
    delete dir_;
  }

  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends_), 0); }
  void TearDown() override {
    ::close(ends_[0]);
    ::close(ends_[1]);
  }

  // Runs `peer` in a child process on the other end, in the client role;
  // returns its exit status once `server` is done.
  template <typename Peer, typename Server>
  int run(Peer peer, Server server) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(ends_[0]);
      std::string error;
      if (!core::tls_start(ends_[1], ends_[1], core::TlsRole::Client, core::TlsUse::Data, 5000, error))
        ::_exit(90);
      ::_exit(peer(ends_[1]));
    }
    ::close(ends_[1]);
    ends_[1] = ::open("/dev/null", O_RDONLY);
    std::string error;
    EXPECT_TRUE(core::tls_start(ends_[0], ends_[0], core::TlsRole::Server, core::TlsUse::Data, 5000, error))
        << error;
    server(ends_[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string read_to_end(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
      const ssize_t got = core::stream_read(fd, buffer, sizeof buffer);
      if (got == 0) return text;
      if (got < 0) return text + "<error>";
      text.append(buffer, static_cast<std::size_t>(got));
    }
  }

  static inline stdfs::path* dir_ = nullptr;
  int ends_[2] = {-1, -1};
};

TEST_F(TlsStreamTest, AFileSentFromAFillingSocketArrivesWholeAndEndsWithTheClosure) {
  std::string file_bytes;
  for (int i = 0; i < 3'000'000; ++i) file_bytes += static_cast<char>(i * 131 % 251);
  const stdfs::path file = *dir_ / "file.bin";
  {
    core::UniqueFd out = core::open_file(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_TRUE(core::write_all(out.get(), file_bytes));
  }
  const int status = run(
      [&](int fd) {
        ::usleep(100 * 1000);  // the sender meets a full socket first
        return read_to_end(fd) == file_bytes ? 0 : 1;
      },
      [&](int fd) {
        core::UniqueFd in = core::open_file(file.c_str(), O_RDONLY);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        off_t offset = 0;
        int waits = 0;
        while (offset < static_cast<off_t>(file_bytes.size())) {
          const ssize_t sent = core::stream_sendfile(fd, in.get(), &offset, 1 << 20);
          if (sent < 0 && errno == EAGAIN) {
            ++waits;
            ::usleep(1000);
            continue;
          }
          ASSERT_GT(sent, 0) << std::strerror(errno);
        }
        EXPECT_GT(waits, 0);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        EXPECT_TRUE(core::tls_end(fd, false, 1000));
        EXPECT_FALSE(core::tls_active(fd));
      });
  EXPECT_EQ(status, 0);
}

TEST_F(TlsStreamTest, AStreamCutWithoutCloseNotifyReadsAsAnError) {
  const int status = run(
      [](int fd) {
        core::stream_write(fd, "partial", 7);
        core::tls_drop(fd);
        return 0;
      },
      [](int fd) { EXPECT_EQ(read_to_end(fd), "partial<error>"); });
  EXPECT_EQ(status, 0);
  core::tls_drop(ends_[0]);
}

TEST_F(TlsStreamTest, ClearTextFollowsThePeersCloseNotifyAfterTheClosure) {
  const int status = run(
      [](int fd) {
        char byte;
        // The server's close_notify comes first; then ours, then clear text.
        if (core::stream_read(fd, &byte, 1) != 0) return 1;
        core::tls_end(fd, false, 1000);
        return ::write(fd, "NOOP\r\n", 6) == 6 ? 0 : 1;
      },
      [](int fd) {
        core::tls_end(fd, false, 1000);
        core::tls_skip_peer_closure(fd);
        char line[16] = {};
        std::size_t have = 0;
        while (have < 6) {
          const ssize_t got = core::stream_read(fd, line + have, sizeof line - 1 - have);
          ASSERT_GT(got, 0);
          have += static_cast<std::size_t>(got);
        }
        EXPECT_STREQ(line, "NOOP\r\n");
      });
  EXPECT_EQ(status, 0);
}

}  // namespace
