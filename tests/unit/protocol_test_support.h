// Shared fixture pieces for the command reader tests: a fresh session, the
// reply stream captured in memory and a strings file whose record N reads
// "#N|arg1|arg2|arg3|arg4", so tests see numbers and arguments.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/strings_codec.h"
#include "protocol/grammar.h"
#include "scratch_site.h"

namespace protocol_test {

inline void load_numbered_strings() {
  static bool loaded = false;
  if (loaded) return;
  std::vector<core::StringRecord> records;
  for (std::uint32_t n = 1; n < 600; ++n)
    records.push_back({n, {"#" + std::to_string(n) + "|%s|%s|%s|%s"}});
  const scratch::ScratchDir dir("proto-strings");
  const std::string path = dir.write("mrstrings.bin", core::encode_strings(records));
  ASSERT_EQ(core::load_strings(path), 0);
  loaded = true;
}

// Captures everything the reply layer writes.
using ReplyCapture = scratch::ReplyTap;

// Writes a configuration file and reads it as the only configuration.
inline void use_config(const std::string& text) {
  const scratch::ScratchDir dir("proto-conf");
  scratch::load_config(dir / "marlod.conf", text);
}

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::session() = core::Session{};
    config::clear_config();
    load_numbered_strings();
    protocol::set_handler_override(nullptr);
  }
  void TearDown() override { protocol::set_handler_override(nullptr); }

  // Runs one command line (CRLF appended) and returns the replies.
  std::string run(const std::string& line) {
    core::Session& s = core::session();
    const std::string full = line + "\r\n";
    std::strncpy(s.command_buffer, full.c_str(), sizeof s.command_buffer - 1);
    s.error_reported = 0;
    s.command_failed = 0;
    replies_.clear();
    protocol::run_command_line();
    return replies_.text();
  }

  ReplyCapture replies_;
};

// Counts non-overlapping occurrences of `needle`.
inline int count(const std::string& haystack, const std::string& needle) {
  int found = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    ++found;
  return found;
}

}  // namespace protocol_test
