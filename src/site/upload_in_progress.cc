// Finding running uploads into a directory tree in the online table.
#include "site/upload_in_progress.h"

#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/path_text.h"
#include "fs/path.h"
#include "online/online_table.h"
#include "userdb/passwd_file.h"

namespace site {
namespace {

bool alive(int32_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

bool starts_with_word(std::string_view line, std::string_view word) {
  if (line.size() < word.size() || strncasecmp(line.data(), word.data(), word.size()) != 0) return false;
  return line.size() == word.size() || line[word.size()] == ' ';
}

// Where the session of `entry` is writing: its command's argument resolved
// as that user resolves it, or its directory for a STOU.
std::string upload_target(const online::OnlineEntry& entry, std::string_view command) {
  const std::string cwd(online::field_text(entry.currentdir));
  const std::size_t blank = command.find(' ');
  std::string_view name = blank == std::string_view::npos ? std::string_view() : command.substr(blank + 1);
  name = name.substr(0, name.find_first_of("\r\n"));
  if (name.empty()) return cwd;
  const std::optional<core::PasswdEntry> account = userdb::passwd_by_name(online::field_text(entry.username));
  const std::string home = account && !account->dir.empty() ? account->dir : "/";
  return fs::resolve_path_in(home, cwd, name, true);
}

}  // namespace

bool upload_in_progress_below(const std::string& tree) {
  const int32_t own = static_cast<int32_t>(::getpid());
  for (const online::OnlineEntry& entry : online::table()) {
    if (entry.procid == 0 || entry.procid == own || entry.bytes_xfer == 0) continue;
    const std::string_view command = online::field_text(entry.status);
    if (!starts_with_word(command, "STOR") && !starts_with_word(command, "APPE") && !starts_with_word(command, "STOU"))
      continue;
    if (!alive(entry.procid)) continue;
    if (core::path_within(upload_target(entry, command), tree)) return true;
  }
  return false;
}

}  // namespace site
