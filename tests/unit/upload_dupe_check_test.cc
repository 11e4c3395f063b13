// The checks before an upload: which pre_check script runs, what its output
// and exit status make of the reply, and the dupe lookup with its X-DUPE
// report. Replies are read from a strings file whose record N reads
// "#N|arg1|arg2|arg3|arg4", so the numbers and arguments show.
#include "transfer/upload_dupe_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "core/session.h"
#include "releases/dupe_file.h"
#include "protocol_test_support.h"

namespace {

constexpr time_t kDay = 86400;

class UploadDupeCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    protocol_test::load_numbered_strings();
    core::Session& s = core::session();
    s = core::Session{};
    std::snprintf(s.data_path, sizeof s.data_path, "%s", site_.path().c_str());
    std::strcpy(s.user.name, "alice");
    // Scripts run as the logged-in user: here the test's own identity,
    // which can reach the scratch site.
    s.logged_in = 1;
    s.uid = ::geteuid();
    site_.make_dir("logs");
    site_.make_dir("incoming");
    scratch::write_file(site_ / "logs/dupefile", "");
  }
  void TearDown() override { config::clear_config(); }

  void configure(const std::string& text) { scratch::load_config(site_ / "marlod.conf", text); }

  // An executable shell script in the scratch site; gives its path.
  std::string script(const std::string& name, const std::string& body) const {
    const std::string path = site_.write(name, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }

  void add_record(const std::string& name, time_t time, const std::string& uploader) const {
    releases::DupefileEntry entry{};
    std::memcpy(entry.name, name.data(), std::min(name.size(), sizeof entry.name - 1));
    entry.time = static_cast<int32_t>(time);
    std::memcpy(entry.uploader, uploader.data(), std::min(uploader.size(), sizeof entry.uploader - 1));
    const std::string path = site_ / "logs/dupefile";
    scratch::write_file(path, scratch::read_file(path) + std::string(reinterpret_cast<const char*>(&entry), sizeof entry));
  }

  std::string upload_path(const std::string& name = "foo.zip") const { return site_ / ("incoming/" + name); }

  // Runs the check; an allowed upload is followed by the reply that opens
  // the transfer, which the held script lines must join.
  std::pair<bool, std::string> check(const std::string& path) {
    scratch::ReplyTap replies;
    bool recorded = false;
    const bool refused = transfer::upload_dupe_check(path, false, recorded);
    if (!refused) core::reply(150, "Opening");
    return {refused, replies.text()};
  }

  const scratch::ScratchDir site_{"dupecheck"};
};

TEST_F(UploadDupeCheck, ScriptOutputAndStatusMakeOneReplyWithOneCode) {
  struct Case {
    const char* body;
    bool refused;
    const char* reply;
  } cases[] = {
      // Arguments: the file name and its directory (checked in the text).
      {"echo \"#0 $1\"; echo \"dir=${2##*/}\"; exit 1", true,
       "553-  foo.zip\r\n553- dir=incoming\r\n553 #56|foo.zip|||\r\n"},
      {"echo refused; exit 2", true, "553- refused\r\n553 #55|foo.zip|||\r\n"},
      {"exit 127", true, "553 #55|foo.zip|||\r\n"},
      {"kill -SEGV $$", true, "553 #55|foo.zip|||\r\n"},
      {"echo \"#0 looks fine\"; echo note; exit 0", false,
       "150-  looks fine\r\n150- note\r\n150 Opening\r\n"},
      {"exit 0", false, "150 Opening\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    configure("pre_check " + script("pre", c.body) + "\n");
    const auto [refused, reply] = check(upload_path());
    EXPECT_EQ(refused, c.refused);
    EXPECT_EQ(reply, c.reply);
  }
}

TEST_F(UploadDupeCheck, TheFirstApplicableLineChoosesTheScript) {
  const std::string refuse = script("refuse", "exit 1");
  const std::string pass = script("pass", "echo passed");
  const std::string missing = site_ / "no-such-script";
  struct Case {
    std::string config;
    bool refused;
  } cases[] = {
      // A pattern must match the whole path, with case.
      {"pre_check " + refuse + " " + site_.path() + "/INCOMING/*\npre_check " + pass + "\n", false},
      {"pre_check " + refuse + " " + site_.path() + "/incoming/*.zip\npre_check " + pass + "\n", true},
      {"pre_check " + refuse + " " + site_.path() + "/incoming/*.rar\npre_check " + pass + "\n", false},
      {"pre_check " + pass + "\npre_check " + refuse + "\n", false},
      // The first applicable line decides even when its script is missing.
      {"pre_check " + missing + "\npre_check " + refuse + "\n", false},
      {"pre_check\npre_check " + refuse + "\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    configure(c.config);
    EXPECT_EQ(check(upload_path()).first, c.refused);
  }
}

TEST_F(UploadDupeCheck, ADupeIsRefusedWithTheUploaderAndAge) {
  add_record("foo.zip", core::now() - kDay - 5, "bob");
  struct Case {
    const char* config;
    const char* name;
    bool refused;
  } cases[] = {
      {"dupe_check 7\n", "foo.zip", true},
      {"dupe_check 7\n", "Foo.ZIP", false},
      {"dupe_check 7 yes\n", "Foo.ZIP", true},
      {"dupe_check 1\n", "foo.zip", false},  // older than the window
      {"dupe_check 0\n", "foo.zip", false},
      {"dupe_check 7\nignore_type *.zip\n", "foo.zip", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.config) + c.name);
    configure(c.config);
    const auto [refused, reply] = check(upload_path(c.name));
    EXPECT_EQ(refused, c.refused);
    if (c.refused)
      EXPECT_EQ(reply, "553- #20|" + std::string(c.name) + "|||\r\n553 #21|bob| 1d  0h||\r\n");
    else
      EXPECT_EQ(reply, "150 Opening\r\n");
  }
}

TEST_F(UploadDupeCheck, ANewFileClaimsItsNameOnceAndOnlyWhenCheckingIsOn) {
  struct Case {
    const char* config;
    bool recorded;
  } cases[] = {{"dupe_check 0\n", false}, {"dupe_check 7\nignore_type *.zip\n", false}, {"dupe_check 7\n", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    configure(c.config);
    scratch::ReplyTap replies;
    bool recorded = false;
    EXPECT_FALSE(transfer::upload_dupe_check(upload_path(), true, recorded));
    EXPECT_EQ(recorded, c.recorded);
  }
  scratch::ReplyTap replies;
  bool recorded = true;
  EXPECT_TRUE(transfer::upload_dupe_check(upload_path(), true, recorded));
  EXPECT_FALSE(recorded);
  EXPECT_EQ(replies.text().rfind("553- #20|foo.zip|||\r\n553 #21|alice|", 0), 0u) << replies.text();
}

TEST_F(UploadDupeCheck, XdupeLinesAndScriptLinesShareTheRefusalCode) {
  add_record("foo.zip", core::now() - 2 * 3600, "bob");
  site_.write("incoming/a.zip", "data");
  site_.write("incoming/b.zip", "");      // empty: still being uploaded
  site_.write("incoming/c.nfo", "data");  // no xdupe pattern
  const std::string pre = script("pre", "echo \"#0 checked\"");
  struct Case {
    int level;
    std::string path;
    const char* report;
  } cases[] = {
      {0, upload_path(), ""},
      {1, upload_path(), "553- X-DUPE: a.zip\r\n"},
      {1, site_ / "gone/foo.zip", "553- local system error: opendir()\r\n"},
  };
  configure("dupe_check 7\nxdupe *.zip *.nfo.x\npre_check " + pre + "\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    core::session().xdupe_level = c.level;
    const auto [refused, reply] = check(c.path);
    EXPECT_TRUE(refused);
    EXPECT_EQ(reply, "553-  checked\r\n" + std::string(c.report) +
                         "553- #20|foo.zip|||\r\n553 #21|bob| 2h  0m||\r\n");
  }
}

}  // namespace
