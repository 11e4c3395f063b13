// SIZE and MDTM: a file's transfer size and modification time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "config/access_rules.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/unique_fd.h"
#include "fs/path.h"
#include "session/base_commands.h"
#include "session/session_commands.h"

namespace session {
namespace {

// Paths a client may ask about: private paths and whatever a link leads to
// outside the home directory stay invisible, as they are to RETR and LIST.
bool visible_to_client(const std::string& path) {
  return fs::inside_home(path) && config::privpath_allowed(path.c_str());
}

void append_two_digits(std::string& out, int value) {
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

}  // namespace

std::optional<uint64_t> ascii_size(int fd) {
  char buffer[65536];
  uint64_t count = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return count;
    count += static_cast<uint64_t>(n) + static_cast<uint64_t>(std::count(buffer, buffer + n, '\n'));
  }
}

std::string mdtm_text(time_t modified) {
  struct tm parts {};
  if (!gmtime_r(&modified, &parts)) parts = {};
  std::string text;
  const long long year = parts.tm_year + 1900LL;
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, year);
  const std::size_t length = static_cast<std::size_t>(result.ptr - digits);
  if (length < 4) text.append(4 - length, '0');
  text.append(digits, length);
  append_two_digits(text, parts.tm_mon + 1);
  append_two_digits(text, parts.tm_mday);
  append_two_digits(text, parts.tm_hour);
  append_two_digits(text, parts.tm_min);
  append_two_digits(text, parts.tm_sec);
  return text;
}

std::string client_file_path(std::string_view path) { return fs::resolve_path(path, true); }

int size_command(const char* path) {
  core::Session& s = core::session();
  const std::string resolved = fs::resolve_path(path, true);
  if (s.type == 1) {
    if (!visible_to_client(resolved)) {
      core::string_reply(550, 165, 0, path);
      return 1;
    }
    core::UniqueFd fd(::open(resolved.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
      core::perror_reply(550, path);
      return 1;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      core::string_reply(550, 165, 0, path);
      return 1;
    }
    const std::optional<uint64_t> count = ascii_size(fd.get());
    if (!count) {
      core::perror_reply(550, path);
      return 1;
    }
    core::reply(213, "%llu", static_cast<unsigned long long>(*count));
    return 0;
  }
  if (s.type == 3 || s.type == 4) {
    struct stat st;
    if (!visible_to_client(resolved) || ::stat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      core::string_reply(550, 165, 0, path);
      return 1;
    }
    core::reply(213, "%llu", static_cast<unsigned long long>(st.st_size));
    return 0;
  }
  const char letter = s.type >= 0 && s.type <= 4 ? "?AEIL"[s.type] : '?';
  core::reply(504, "SIZE not implemented for Type %c.", letter);
  return 1;
}

int mdtm_command(const char* path) {
  const std::string resolved = client_file_path(path);
  struct stat st;
  if (!visible_to_client(resolved)) {
    errno = ENOENT;
    core::perror_reply(550, path);
    return 1;
  }
  if (::stat(resolved.c_str(), &st) != 0) {
    core::perror_reply(550, path);
    return 1;
  }
  if (!S_ISREG(st.st_mode)) {
    core::string_reply(550, 165, 0, path);
    return 1;
  }
  core::reply(213, "%s", mdtm_text(st.st_mtime));
  return 0;
}

}  // namespace session

namespace session::commands {

int size(const CommandArgs& args) { return session::size_command(args.text ? args.text->c_str() : ""); }
int mdtm(const CommandArgs& args) { return session::mdtm_command(args.text ? args.text->c_str() : ""); }

}  // namespace session::commands
