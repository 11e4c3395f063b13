// Showing text files: variants, directives and cookie lines.
#include "text/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/file_io.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "text/cookie_values.h"
#include "text/cookies.h"
#include "text/list_directives.h"
#include "userdb/userfile.h"

namespace text {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kPathLimit = 4096;
constexpr std::size_t kNameLimit = 8191;
// Included files may include others; a file that includes itself stops
// here instead of recursing until the stack runs out.
constexpr int kMaxIncludeDepth = 8;
// A file that includes itself twice on its way down would still open 2^8
// files (and more for more includes per line), so one text file shows at
// most this many files in all, itself counted.
constexpr int kMaxFilesShown = 32;

// How far one text file still reaches through its includes.
struct Reach {
  int depth = 0;
  int files_left = kMaxFilesShown;
};
// Flag letters of %= and the group name of %@ are at most this long.
constexpr std::size_t kSelectorLimit = 50;

bool exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// The entry count of %NUKES, %UNNUKES and %NEW: the two characters after
// the keyword.
int entry_count(std::string_view line, std::size_t keyword_length) {
  const std::string digits(line.substr(keyword_length, 2));
  return std::atoi(digits.c_str());
}

struct TopListDirective {
  std::string_view keyword;
  TopList list;
};

constexpr TopListDirective kTopLists[] = {
    {"%WEEKUP", TopList::WeekUp},       {"%WEEKDN", TopList::WeekDown},
    {"%DAYUP", TopList::DayUp},         {"%DAYDN", TopList::DayDown},
    {"%MONTHUP", TopList::MonthUp},     {"%MONTHDN", TopList::MonthDown},
    {"%ALLUP", TopList::AllUp},         {"%ALLDN", TopList::AllDown},
    {"%GALLTOP", TopList::GroupAllUp},  {"%GWKTOP", TopList::GroupWeekUp},
    {"%GWKDOWN", TopList::GroupWeekDown}, {"%GALLDOWN", TopList::GroupAllDown},
    {"%NUKETOP", TopList::NukeTop},
};

int show_within(int code, const std::string& path, Reach& reach);

// Runs the directive `line` starts with, if any. Returns true when the
// line was a directive; `count` receives what a list directive returned.
bool run_directive(int code, std::string_view line, Reach& reach, int& count) {
  count = 0;
  if (line.size() < 2 || line[0] != '%') return false;
  if (line.starts_with("%REQS")) {
    count = show_request_list(code);
    return true;
  }
  if (line.starts_with("%ONEL")) {
    count = show_oneliner_list(code);
    return true;
  }
  if (line.starts_with("%LASTON")) {
    count = show_last_online_list(code);
    return true;
  }
  for (const TopListDirective& top : kTopLists) {
    if (line.starts_with(top.keyword)) {
      count = show_top_list(code, top.list, line.substr(top.keyword.size()));
      return true;
    }
  }
  if (line.starts_with("%NUKES")) {
    count = show_recent_nukes(code, entry_count(line, 6));
    return true;
  }
  if (line.starts_with("%UNNUKES")) {
    count = show_recent_unnukes(code, entry_count(line, 8));
    return true;
  }
  if (line.starts_with("%EXEC")) {
    count = show_command_output(code, collapse_white_space(line.substr(5)));
    return true;
  }
  if (line.starts_with("%WHO")) {
    count = show_who_body(code);
    return true;
  }
  if (line.starts_with("%NEW")) {
    const std::size_t start = line.find_first_of("/.", 4);
    const std::string_view dir = start == std::string_view::npos ? std::string_view() : trim(line.substr(start));
    count = show_recent_directories(code, entry_count(line, 4), dir);
    return true;
  }
  if (line.starts_with("%=")) {
    const std::size_t slash = line.find('/', 2);
    if (slash == std::string_view::npos) return true;
    const std::string_view letters = line.substr(2, std::min(slash - 2, kSelectorLimit));
    if (user_has_any_flag(letters)) show_within(code, std::string(trim(line.substr(slash))), reach);
    return true;
  }
  if (line.starts_with("%!")) {
    const std::string_view path = trim(line.substr(2));
    if (!path.empty()) show_within(code, std::string(path), reach);
    return true;
  }
  if (line.starts_with("%@")) {
    const std::string_view rest = line.substr(2);
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return true;
    const std::string_view group = rest.substr(0, std::min(blank, kSelectorLimit));
    const std::string path = collapse_white_space(rest.substr(blank + 1));
    if (!path.empty() && user_in_group(group)) show_within(code, path, reach);
    return true;
  }
  return false;
}

// Texts are regular files: a device or a pipe named by an include would
// never end, or never open.
FileHandle open_text(const std::string& path) {
  core::UniqueFd fd = core::open_file(path.c_str(), O_RDONLY | O_NONBLOCK);
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
  FileHandle file(::fdopen(fd.get(), "r"));
  if (file) fd.release();
  return file;
}

// Shows a file one level below the file that named it.
int show_within(int code, const std::string& requested, Reach& reach) {
  if (reach.depth > kMaxIncludeDepth || requested.empty() || requested.size() >= kPathLimit) return 0;
  if (!exists(requested) || reach.files_left <= 0) return 0;
  --reach.files_left;
  const std::string path = choose_variant(requested, core::now());
  FileHandle file = open_text(path);
  if (!file) return 1;
  struct stat status {};
  const bool have_status = ::fstat(fileno(file.get()), &status) == 0;

  int result = 1;
  // Lines longer than the buffer arrive in pieces; each piece is a line.
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, file.get())) {
    if (buffer[0] == '\r') buffer[0] = ' ';
    std::string_view line(buffer, std::strlen(buffer));
    line = line.substr(0, line.find_first_of("\r\n"));
    int count = 0;
    ++reach.depth;
    const bool directive = run_directive(code, line, reach, count);
    --reach.depth;
    if (directive) {
      result += count;
      continue;
    }
    const std::string expanded = expand_cookies(code, line, have_status ? &status : nullptr);
    core::lreply(code, "%s", expanded);
  }
  return result;
}

std::string data_file_path(std::string_view folder, std::string_view name_format,
                           std::span<const core::FormatArg> args) {
  const std::string name = core::format(name_format, args, kNameLimit);
  std::string path = core::format("%s/%s/%s", {core::session().data_path, folder, name}, kPathLimit - 1);
  return path;
}

// A user name that could leave the users directory names no user.
bool plausible_user_name(const char* name) {
  return name && *name && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
         std::strcmp(name, "..") != 0;
}

}  // namespace

std::string choose_variant(const std::string& path, time_t moment) {
  long long variants = 1;
  while (exists(path + "." + std::to_string(variants))) ++variants;
  long long chosen = static_cast<long long>(moment) % variants;
  if (chosen < 0) chosen += variants;
  return chosen > 0 ? path + "." + std::to_string(chosen) : path;
}

int show_text_file(int code, const char* path) {
  if (!path) return 0;
  Reach reach;
  return show_within(code, path, reach);
}

int show_text_args(int code, std::string_view name_format, std::span<const core::FormatArg> args) {
  return show_text_file(code, data_file_path("text", name_format, args).c_str());
}

int show_help_args(int code, std::string_view name_format, std::span<const core::FormatArg> args) {
  return show_text_file(code, data_file_path("help", name_format, args).c_str());
}

int show_userfile(int code, const char* name) {
  if (!plausible_user_name(name) || !userdb::user_exists(name)) {
    core::string_reply(code, 311, 0, name ? name : "");
    return 1;
  }
  FileHandle file(std::fopen(userdb::userfile_path(name).c_str(), "r"));
  if (!file) {
    core::string_reply(code, 311, 0, name);
    return 1;
  }
  core::Session& s = core::session();
  const int saved_raw = s.raw_replies;
  s.raw_replies = 1;  // a "!" in a tagline is shown as stored
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, file.get())) {
    std::string_view line(buffer, std::strlen(buffer));
    line = line.substr(0, line.find_first_of("\r\n"));
    core::lreply(code, "%s", line);
  }
  s.raw_replies = saved_raw;
  return 0;
}

}  // namespace text
