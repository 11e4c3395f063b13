// The throw-away site most unit tests stand on: a temporary directory that
// is removed when the test ends, pass or fail, files written into it, a
// configuration read from text, the replies caught for reading back, and
// writers in several processes at once.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "core/reply.h"

namespace scratch {

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A fresh directory "/tmp/marlod-<name>-XXXXXX"; gone with the object.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name) {
    std::string pattern = "/tmp/marlod-" + name + "-XXXXXX";
    // The test fails (GoogleTest reports the exception) rather than writing
    // into a directory that does not exist.
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  // Writes `text` to `relative`, making the folders on the way; gives the path.
  std::string write(const std::string& relative, const std::string& text) const {
    const std::string path = *this / relative;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    write_file(path, text);
    return path;
  }
  std::string make_dir(const std::string& relative) const {
    const std::string path = *this / relative;
    std::filesystem::create_directories(path);
    return path;
  }

 private:
  std::string path_;
};

// Replaces the whole configuration with `text`, written to `path` first.
// An empty file counts as unreadable, so `text` needs at least a comment.
inline void load_config(const std::string& path, const std::string& text) {
  config::clear_config();
  write_file(path, text);
  ASSERT_EQ(config::read_config_file(path.c_str()), 1) << path;
}

// Catches everything the reply layer writes while the object lives. The
// replies stay in this process's memory, so a forked death-test child's
// replies never show up in the parent's capture.
class ReplyTap {
 public:
  ReplyTap() : stream_(::open_memstream(&data_, &size_)) {
    if (stream_ == nullptr) throw std::runtime_error("open_memstream failed");
    core::set_reply_stream(stream_);
  }
  ~ReplyTap() {
    core::set_reply_stream(nullptr);
    std::fclose(stream_);
    std::free(data_);
  }
  ReplyTap(const ReplyTap&) = delete;
  ReplyTap& operator=(const ReplyTap&) = delete;

  // Everything written since the start or the last clear().
  std::string text() {
    std::fflush(stream_);
    return std::string(data_, size_);
  }
  void clear() {
    std::fflush(stream_);
    std::fseek(stream_, 0, SEEK_SET);
    std::fflush(stream_);
    size_ = 0;
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

// Runs `work(n)` for n = 0 .. count-1, each in its own child process; the
// children start together, so they meet at whatever lock they share, while
// the parent runs `meanwhile`. Gives the number of children that failed.
inline int failed_children(int count, const std::function<bool(int)>& work,
                           const std::function<void()>& meanwhile = [] {}) {
  int start[2];
  if (::pipe(start) != 0) return count;
  std::vector<pid_t> children;
  for (int n = 0; n < count; ++n) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(start[1]);
      char byte;
      while (::read(start[0], &byte, 1) > 0) {
      }
      ::_exit(work(n) ? 0 : 1);
    }
    children.push_back(child);
  }
  ::close(start[0]);
  ::close(start[1]);
  meanwhile();
  int failed = 0;
  for (pid_t child : children) {
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      ++failed;
  }
  return failed;
}

// The fixed-size records of a release database file, read whole.
template <typename Record>
std::vector<Record> read_records(const std::filesystem::path& path) {
  const std::string bytes = read_file(path);
  std::vector<Record> records(bytes.size() / sizeof(Record));
  std::memcpy(records.data(), bytes.data(), records.size() * sizeof(Record));
  return records;
}

}  // namespace scratch
