// A throw-away site for the user-database tests: a temporary data path with
// users/ and logs/, passwd and group files, a configuration written by the
// test, and the replies captured.
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
#include "core/reply.h"
#include "core/session.h"
#include "scratch_site.h"
#include "userdb/userfile.h"

namespace userdb_test {

namespace stdfs = std::filesystem;

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"users", "logs", "misc/ad", "etc"}) site_.make_dir(dir);
    site_.write("etc/passwd", "");
    site_.write("etc/group", "");
    core::Session& s = core::session();
    s = core::Session{};
    std::snprintf(s.data_path, sizeof s.data_path, "%s", root_.c_str());
    std::snprintf(s.passwd_path, sizeof s.passwd_path, "%s/etc/passwd", root_.c_str());
    std::snprintf(s.group_path, sizeof s.group_path, "%s/etc/group", root_.c_str());
    config::clear_config();
    userdb::free_user_cache();
    userdb::pending_home_dir().clear();
    userdb::account_being_created().clear();
  }

  void TearDown() override {
    config::clear_config();
    userdb::free_user_cache();
  }

  // Replaces the configuration with `text`.
  void configure(const std::string& text) { scratch::load_config(site_ / "marlod.conf", text); }

  std::string replies() { return replies_.text(); }

  std::string user_path(const std::string& name) { return root_ + "/users/" + name; }
  std::string error_log() { return scratch::read_file(root_ + "/logs/error.log"); }

  const scratch::ScratchDir site_{"userdb"};
  const std::string root_ = site_.path();
  scratch::ReplyTap replies_;
};

}  // namespace userdb_test
