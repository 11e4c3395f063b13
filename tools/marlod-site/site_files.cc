// File helpers shared by the marlod-site sub-commands.
#include "site_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/file_io.h"

namespace site_tool {

bool read_whole_file(const std::filesystem::path& path, std::string& content) {
  const core::UniqueFd fd = core::open_file(path.c_str(), O_RDONLY);
  if (!fd) {
    std::fprintf(stderr, "marlod-site: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  if (!core::read_all(fd.get(), content)) {
    std::fprintf(stderr, "marlod-site: error reading %s\n", path.c_str());
    return false;
  }
  return true;
}

bool write_new_file(const std::filesystem::path& path, std::string_view content, unsigned mode) {
  core::UniqueFd fd = core::open_file(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
  if (!fd) {
    std::fprintf(stderr, "marlod-site: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = core::write_all(fd.get(), content) && ::fchmod(fd.get(), mode) == 0;
  int saved_errno = errno;
  if (!fd.close()) ok = false;
  if (!ok) {
    std::fprintf(stderr, "marlod-site: cannot write %s: %s\n", path.c_str(),
                 std::strerror(saved_errno));
    ::unlink(path.c_str());
  }
  return ok;
}

namespace {

// The first word of a configuration line, or empty for comments and blanks.
std::string_view line_keyword(std::string_view line) {
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos || line[start] == '#') return {};
  std::size_t end = line.find_first_of(" \t\r", start);
  return line.substr(start, end == std::string_view::npos ? line.size() - start : end - start);
}

}  // namespace

std::string site_config_text(std::string_view sample, std::string_view root,
                             std::string_view data_path, std::string_view ipc_key) {
  struct Setting {
    std::string_view key;
    std::string_view value;
    bool seen = false;
  } settings[] = {{"rootpath", root}, {"datapath", data_path}, {"ipc_key", ipc_key}};

  std::string body;
  std::size_t pos = 0;
  while (pos < sample.size()) {
    std::size_t end = sample.find('\n', pos);
    std::string_view line =
        sample.substr(pos, end == std::string_view::npos ? sample.size() - pos : end - pos);
    pos = end == std::string_view::npos ? sample.size() : end + 1;
    std::string_view keyword = line_keyword(line);
    bool replaced = false;
    for (Setting& setting : settings) {
      if (keyword != setting.key) continue;
      body.append(setting.key).append(" ").append(setting.value).append("\n");
      setting.seen = replaced = true;
    }
    if (!replaced) body.append(line).append("\n");
  }
  std::string head;
  for (const Setting& setting : settings) {
    if (!setting.seen) head.append(setting.key).append(" ").append(setting.value).append("\n");
  }
  return head + body;
}

}  // namespace site_tool
