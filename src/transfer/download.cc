// The download command.
#include "transfer/download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/logs.h"
#include "core/match.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/unique_fd.h"
#include "fs/path.h"
#include "online/online_table.h"
#include "transfer/data_connection.h"
#include "transfer/data_socket.h"
#include "transfer/download_accounting.h"
#include "transfer/send_data.h"
#include "transfer/transfer_commands.h"
#include "transfer/transfer_complete.h"
#include "transfer/transfer_timing.h"
#include "transfer/xferlog.h"
#include "userdb/userfile.h"

namespace transfer {
namespace {

// Files this small are never refused for want of credits.
constexpr off_t kCreditCheckThreshold = 49;
// Transfers up to this many bytes leave statistics and credits alone.
constexpr long long kAccountingThreshold = 1023;
// The download counter in a file's group id stops before each hundred.
constexpr gid_t kDownloadCountWrap = 100;

std::string file_name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool all_digits(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

// The first `ascii_downloads` line limits ASCII downloads of the files its
// patterns name.
bool ascii_download_too_large(const std::string& file_name, off_t size) {
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config("ascii_downloads", cursor);
  if (line == nullptr || !all_digits(line->arg(1))) return false;
  const unsigned long long limit = std::strtoull(line->arg(1), nullptr, 10);
  if (limit == 0 || static_cast<unsigned long long>(size) <= limit) return false;
  for (int n = 2; line->arg(n) != nullptr; ++n)
    if (core::name_match(file_name, line->arg(n))) return true;
  return false;
}

// The checks before the file is opened; false after the refusal's reply.
bool may_retrieve(const std::string& name, const std::string& path) {
  core::Session& s = core::session();
  if (const char* forced = config::config_value("tagline"); forced && std::strcmp(forced, s.user.tagline) == 0) {
    core::string_reply(550, 162, 0);
    return false;
  }
  if (!config::privpath_allowed(path.c_str()) || !fs::inside_home(path)) {
    core::string_reply(553, 512, 0, name);
    return false;
  }
  if (!config::path_allowed("download", path.c_str(), config::kPathIsFile)) {
    core::string_reply(553, 163, 0, name);
    return false;
  }
  if (!config::retrieve_allowed(path.c_str())) {
    core::string_reply(553, 164, 0, s.user.name, name);
    core::error_log("WARNING: %.23s tried to retrieve (%s)", s.user.name, name);
    return false;
  }
  return true;
}

// The credit rules, once the file is known; false after the refusal.
bool may_afford(const std::string& name, const std::string& path, off_t size) {
  core::Session& s = core::session();
  DownloadTerms& terms = download_terms();
  terms.file_is_free = is_free_file(file_name_of(path));

  // When the userfile cannot be read again the session's copy decides; the
  // client is not told, because a final reply here followed by the
  // transfer's 150 would put every later reply out of step.
  if (userdb::load_user(s.user.name) != 0) core::error_log("%.23s: userfile cannot be loaded before a download", s.user.name);

  terms.file_ratio = effective_ratio(s.user, config::section_of(path.c_str()));
  if (const config::ConfigEntry* line = governing_creditloss(path)) {
    if (terms.file_ratio == 0 && line->arg(2) != nullptr && ::strcasecmp(line->arg(2), "no") == 0) {
      core::string_reply(553, 163, 0, name);
      return false;
    }
    if (creditloss_multiplier(*line) == 0) terms.file_is_free = true;
  }
  if (!terms.file_is_free && size > kCreditCheckThreshold && terms.file_ratio != 0) {
    const long long needed = static_cast<long long>(size - s.restart_point) / 1024;
    if (needed > s.user.sections[config::credit_section_of(path.c_str())].credits) {
      core::string_reply(550, 166, 0);
      return false;
    }
  }
  return true;
}

// Counts a complete download in the file's group id (the owner stays).
// The caller holds the privilege bracket.
void count_download(int fd) {
  const core::Session& s = core::session();
  if (s.restart_point != 0 || s.file_dl_count == 0) return;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (st.st_gid + 1) % kDownloadCountWrap == 0) return;
  if (::fchown(fd, static_cast<uid_t>(-1), st.st_gid + 1) != 0) {
    // A file system without owners keeps no count; the download stands.
  }
}

// The download counter, the transfer-log line and the booking of `moved`
// bytes, under one switch to root (each switch is four system calls).
void book_download(int fd, const std::string& path, long long moved) {
  const core::Session& s = core::session();
  const DownloadTerms& terms = download_terms();
  core::PrivilegeBracket root;
  count_download(fd);
  if (moved <= 0) return;
  if (s.log_downloads) xferlog_write(terms.xfer_seconds, moved, path, 'o');
  if (moved > kAccountingThreshold) account_download(moved);
}

int run_download(const std::string& name, const std::string& path, int fd, off_t size) {
  core::Session& s = core::session();
  DownloadTerms& terms = download_terms();
  if (open_data_connection(name.c_str(), size, XferDirection::Download) < 0) return 1;

  online::begin_own_transfer();
  const TransferClock clock;
  int result = 0;
  if (size > 0) {
    if (s.type == 1 || s.type == 3 || s.type == 4) {
      result = send_data(fd, s.data_fd, path, s.type == 1, terms.restart_point, size);
    } else {
      core::string_reply(550, 523, 0, s.type, "send_data");
      result = -1;
    }
  } else {
    transfer_complete_reply();
  }
  close_data_connection();
  const TransferTime taken = clock.stop();
  terms.xfer_seconds = taken.seconds;
  terms.xfer_elapsed = taken.elapsed;
  export_transfer_speed(taken.elapsed);

  book_download(fd, path, progress().byte_count);
  if (size > 0 && result != -1) transfer_complete_reply();

  online::set_own_command_start();
  s.data_fd = -1;
  s.pasv_fd = -1;
  s.transfer_in_progress = 0;
  return 0;
}

}  // namespace

bool seek_ascii_restart(int fd, off_t restart_point) {
  char block[8192];
  off_t counted = 0;
  off_t position = 0;
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  while (counted < restart_point) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got <= 0) return false;
    ssize_t i = 0;
    while (i < got && counted < restart_point) {
      counted += block[i] == '\n' ? 2 : 1;
      ++i;
    }
    position += i;
  }
  return ::lseek(fd, position, SEEK_SET) == position;
}

int retrieve(const std::string& name) {
  core::Session& s = core::session();
  DownloadTerms& terms = download_terms();
  terms = DownloadTerms{};
  terms.path = fs::resolve_path(name, true);
  terms.restart_point = s.restart_point;
  const std::string& path = terms.path;
  if (!may_retrieve(name, path)) return 1;

  core::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    core::perror_reply(550, name);
    return 1;
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    core::string_reply(550, 165, 0, name);
    return 1;
  }
  if (s.type == 1 && ascii_download_too_large(file_name_of(path), st.st_size)) {
    core::string_reply(550, 104, 0);
    return 1;
  }
  if (!may_afford(name, path, st.st_size)) return 1;

  if (s.restart_point != 0) {
    const bool positioned = s.type == 1 ? seek_ascii_restart(file.get(), s.restart_point)
                                        : ::lseek(file.get(), s.restart_point, SEEK_SET) == s.restart_point;
    if (!positioned) {
      if (s.type == 1) errno = ESPIPE;  // the file ended before the offset
      core::perror_reply(550, name);
      return 1;
    }
  }
  return run_download(name, path, file.get(), st.st_size);
}

void settle_interrupted_download() {
  core::Session& s = core::session();
  if (s.transfer_in_progress != 1) return;
  s.transfer_in_progress = 0;
  const long long moved = progress().byte_count;
  if (moved > kAccountingThreshold) account_download(moved);
}

}  // namespace transfer

namespace transfer::commands {

int retr(const CommandArgs& args) { return transfer::retrieve(args.text.value_or("")); }

}  // namespace transfer::commands
