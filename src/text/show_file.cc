// Text files as multi-line replies.
#include "text/show_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "protocol/reply.h"

namespace text {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int show_file(int code, const char* path) {
  if (!path) return -1;
  FileHandle file(std::fopen(path, "r"));
  if (!file) return -1;
  // Lines longer than the buffer arrive in pieces, each sent as a line.
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, file.get())) {
    if (buffer[0] == '\r') buffer[0] = ' ';
    std::string_view line(buffer, std::strlen(buffer));
    line = line.substr(0, line.find_first_of("\r\n"));
    protocol::lreply_text(code, line);
  }
  // A directory opens but cannot be read.
  return std::ferror(file.get()) ? -1 : 0;
}

}  // namespace text
