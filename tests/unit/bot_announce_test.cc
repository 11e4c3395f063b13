// The NEWDIR/DELDIR announcements: the bot runs as the logged-in user,
// never root, and its output is read away. (A path of shell syntax arriving
// as one argument: the end-to-end tests.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/session.h"
#include "scratch_site.h"
#include "text/bot_announce.h"

namespace {

constexpr const char* kBusybox = "/bin/busybox";

class BotAnnounceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kBusybox, X_OK) != 0) GTEST_SKIP() << "no " << kBusybox << " to run the bot script";
    core::session() = core::Session{};
    config::clear_config();
    // The bot runs as another user: it must reach and write the folder, and
    // so could anything a shell made of the path.
    ::chmod(dir_.path().c_str(), 0777);
    // Its uid and every argument, NUL-separated; then a lot of output the
    // server must read away for the bot to finish.
    const std::string script = dir_.write(
        "bot",
        std::string("#!") + kBusybox + " sh\n" +
            "printf '%s\\0' \"$(" + kBusybox + " id -u)\" \"$@\" > " + calls_ + "\n" +
            kBusybox + " yes announced | " + kBusybox + " head -c 300000\n");
    ::chmod(script.c_str(), 0755);
    core::copy_field(core::session().botscript_path, script);
  }

  // What the last run wrote: uid, then the arguments.
  std::vector<std::string> last_call() const {
    std::ifstream in(calls_, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> words;
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t end = data.find('\0', at);
      if (end == std::string::npos) break;
      words.push_back(data.substr(at, end - at));
      at = end + 1;
    }
    return words;
  }

  const scratch::ScratchDir dir_{"bot"};
  const std::string calls_ = dir_ / "calls";
};

TEST_F(BotAnnounceTest, LoggedInUserRunsTheBot) {
  core::Session& s = core::session();
  s.logged_in = 1;
  s.uid = 4321;
  if (::geteuid() != 0) GTEST_SKIP() << "changing identity needs root";
  EXPECT_EQ(text::announce_directory("NEWDIR", "/site/rel"), 0);
  const std::vector<std::string> call = last_call();
  ASSERT_EQ(call.size(), 3u);
  EXPECT_EQ(call[0], "4321");
}

TEST_F(BotAnnounceTest, MissingBotIsSkipped) {
  core::copy_field(core::session().botscript_path, dir_ / "no-such-bot");
  EXPECT_EQ(text::announce_directory("NEWDIR", "/site/rel"), -1);
  EXPECT_NE(::access(calls_.c_str(), F_OK), 0);
}

}  // namespace
