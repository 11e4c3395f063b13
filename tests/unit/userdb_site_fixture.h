// A throw-away site for the user-database tests: a temporary data path with
// users/ and logs/, passwd and group files, a configuration written by the
// test, and the replies captured in a file.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/config_store.h"
#include "protocol/reply.h"
#include "session/session.h"
#include "userdb/userfile.h"

namespace userdb_test {

namespace stdfs = std::filesystem;

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/marlod-userdb-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* dir : {"users", "logs", "misc/ad", "etc"}) stdfs::create_directories(root_ + "/" + dir);
    spit(root_ + "/etc/passwd", "");
    spit(root_ + "/etc/group", "");
    session::Session& s = session::session();
    s = session::Session{};
    std::snprintf(s.data_path, sizeof s.data_path, "%s", root_.c_str());
    std::snprintf(s.passwd_path, sizeof s.passwd_path, "%s/etc/passwd", root_.c_str());
    std::snprintf(s.group_path, sizeof s.group_path, "%s/etc/group", root_.c_str());
    replies_ = std::tmpfile();
    protocol::set_reply_stream(replies_);
    config::clear_config();
    userdb::free_user_cache();
    userdb::pending_home_dir().clear();
    userdb::account_being_created().clear();
  }

  void TearDown() override {
    protocol::set_reply_stream(nullptr);
    if (replies_) std::fclose(replies_);
    config::clear_config();
    userdb::free_user_cache();
    std::error_code ignored;
    stdfs::remove_all(root_, ignored);
  }

  // Replaces the configuration with `text`.
  void configure(const std::string& text) {
    config::clear_config();
    const std::string path = root_ + "/marlod.conf";
    spit(path, text);
    ASSERT_EQ(config::read_config_file(path.c_str()), 1);
  }

  std::string replies() {
    std::fflush(replies_);
    std::rewind(replies_);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, replies_)) > 0) text.append(buffer, n);
    return text;
  }

  std::string user_path(const std::string& name) { return root_ + "/users/" + name; }
  std::string error_log() { return slurp(root_ + "/logs/error.log"); }

  std::string root_;
  std::FILE* replies_ = nullptr;
};

}  // namespace userdb_test
