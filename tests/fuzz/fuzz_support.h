// What every fuzz target stands on: one scratch directory per process
// (removed at exit) that serves as the site's data path, replies thrown
// away, the site's own strings loaded, and a reset of the process-wide
// session and configuration before each input, so runs do not depend on
// each other.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_store.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/strings.h"
#include "core/strings_codec.h"

namespace fuzz {

// Thrown by the session ender, so an input that ends the session ends the
// run instead of the fuzzing process.
struct SessionEnded {
  int status;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// "/tmp/marlod-fuzz-XXXXXX", made on first use and removed when the
// process exits normally. The name lives as long as the process, since
// the removal runs after static objects are destroyed.
inline const std::string& scratch_dir() {
  static const std::string* const path = [] {
    auto* made = new std::string("/tmp/marlod-fuzz-XXXXXX");
    if (::mkdtemp(made->data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratch_dir(), ignored);
    });
    return made;
  }();
  return *path;
}

inline std::string scratch_path(const std::string& relative) { return scratch_dir() + "/" + relative; }

// The site's strings compiled from the source in the tree, loaded once.
inline void load_site_strings() {
  const std::string source = read_file(MARLOD_SOURCE_DIR "/site/strings.txt");
  std::vector<core::StringRecord> records;
  core::SourceError error;
  if (!core::parse_strings_source(source, records, error)) std::abort();
  const std::string path = scratch_path("mrstrings.bin");
  write_file(path, core::encode_strings(records));
  if (core::load_strings(path) != 0) std::abort();
}

// Once per process: replies into /dev/null, the session ender throwing,
// the site's strings and text templates in place, configuration messages
// dropped rather than sent to syslog.
inline void initialise_once() {
  static const bool done = [] {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    core::set_reply_stream(sink);
    core::set_session_ender([](int status) { throw SessionEnded{status}; });
    config::set_config_log_sink([](const std::string&) {});
    std::filesystem::create_directories(scratch_path("data/logs"));
    std::filesystem::create_directories(scratch_path("data/msgs"));
    std::filesystem::create_directories(scratch_path("data/users"));
    std::error_code ignored;
    std::filesystem::create_directory_symlink(MARLOD_SOURCE_DIR "/site/text", scratch_path("data/text"), ignored);
    load_site_strings();
    return true;
  }();
  (void)done;
}

// A fresh session logged in as "fuzzer" with the scratch data path, and no
// configuration; `config_text`, when given, is read as the configuration.
inline void reset_state(std::string_view config_text = {}) {
  initialise_once();
  core::session() = core::Session{};
  core::Session& s = core::session();
  std::snprintf(s.data_path, sizeof s.data_path, "%s/data", scratch_dir().c_str());
  std::snprintf(s.user.name, sizeof s.user.name, "fuzzer");
  std::snprintf(s.cwd, sizeof s.cwd, "/");
  s.logged_in = 1;
  config::clear_config();
  if (!config_text.empty()) {
    const std::string path = scratch_path("marlod.conf");
    write_file(path, config_text);
    config::read_config_file(path.c_str());
  }
}

// Splits the input into at most `parts` pieces at each "\n----\n".
inline std::vector<std::string_view> split_input(std::string_view data, std::size_t parts) {
  std::vector<std::string_view> pieces;
  while (pieces.size() + 1 < parts) {
    const std::size_t at = data.find("\n----\n");
    if (at == std::string_view::npos) break;
    pieces.push_back(data.substr(0, at));
    data.remove_prefix(at + 6);
  }
  pieces.push_back(data);
  pieces.resize(parts);
  return pieces;
}

}  // namespace fuzz
