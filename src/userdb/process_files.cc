// The files a process keeps in the users directory (see process_files.h).
#include "userdb/process_files.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>

#include "core/own_pid.h"
#include "core/privilege.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

constexpr std::string_view kPrefix = ".marlod-process-";
constexpr std::string_view kSuffix = ".lock";

std::string path_of(long pid, const char* role) {
  return userfile_path("") + std::string(kPrefix) + std::to_string(pid) + "-" + role + std::string(kSuffix);
}

// The process id in a process file's name, or 0 when it is not one.
pid_t pid_in_name(std::string_view name) {
  if (name.size() <= kPrefix.size() + kSuffix.size() || name.substr(0, kPrefix.size()) != kPrefix ||
      name.substr(name.size() - kSuffix.size()) != kSuffix)
    return 0;
  long pid = 0;
  std::size_t at = kPrefix.size();
  for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && pid < 100000000; ++at)
    pid = pid * 10 + (name[at] - '0');
  return at < name.size() && name[at] == '-' ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

std::string process_file_path(const char* role) { return path_of(static_cast<long>(core::own_pid()), role); }

void remove_process_files() {
  core::PrivilegeBracket privileged;
  (void)unlink(process_file_path(kLockSeedRole).c_str());
  for (const char* role : kSpareUserfileRoles) (void)unlink(process_file_path(role).c_str());
}

void remove_dead_processes_files() {
  const std::string directory = userfile_path("");
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.c_str()), closedir);
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    const pid_t pid = pid_in_name(entry->d_name);
    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) (void)unlink((directory + entry->d_name).c_str());
  }
}

}  // namespace userdb
