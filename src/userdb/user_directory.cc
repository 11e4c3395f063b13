// The walk of the users directory every list, scan and cache shares.
#include "userdb/user_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "core/file_io.h"
#include "core/session.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Regular files only; the entry's type saves a stat where the file system
// reports it.
bool regular_entry(int dir_fd, const dirent& entry, struct stat& status) {
  if (entry.d_type != DT_REG && entry.d_type != DT_UNKNOWN) return false;
  return ::fstatat(dir_fd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode);
}

// Non-blocking and without following links, so that a FIFO or a link left
// in the directory can neither stall the walk nor lead outside it.
bool read_entry(int dir_fd, const char* name, struct stat& status, std::string& text) {
  core::UniqueFd fd(::openat(dir_fd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return false;
  return ::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode) && core::read_all(fd.get(), text);
}

}  // namespace

bool is_template_name(std::string_view name) { return name.starts_with("default."); }

bool is_lock_file_name(std::string_view name) { return ends_with(name, ".lock"); }

bool is_writer_temporary_name(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return false;
  return name.find_first_not_of("0123456789", dot + 1) == std::string_view::npos;
}

bool read_user_record(std::string_view name, core::UserRecord& record) {
  if (!valid_user_name(name) || is_lock_file_name(name)) return false;
  const std::string path = userfile_path(name);
  core::UniqueFd fd = core::open_file(path.c_str(), O_RDONLY | O_NONBLOCK);
  struct stat status {};
  std::string text;
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || !core::read_all(fd.get(), text))
    return false;
  parse_userfile(text, name, userfile_section_count(), core::now(), record, nullptr);
  return true;
}

std::string users_directory() { return std::string(core::session().data_path) + "/users"; }

bool walk_users(Templates templates, Contents contents, const UserfileVisitor& visit) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(users_directory().c_str()));
  if (!dir) return false;
  const int dir_fd = ::dirfd(dir.get());
  const int section_count = contents == Contents::kRecord ? userfile_section_count() : 0;
  const time_t today = core::now();
  std::string text;
  core::UserRecord record;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (!valid_user_name(name) || is_lock_file_name(name) || is_writer_temporary_name(name)) continue;
    if (templates == Templates::kSkip && is_template_name(name)) continue;
    struct stat status {};
    UserfileEntry found;
    found.name = name;
    if (contents == Contents::kNone) {
      if (!regular_entry(dir_fd, *entry, status)) continue;
    } else {
      if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
      if (!read_entry(dir_fd, entry->d_name, status, text)) continue;
      found.text = text;
      if (contents == Contents::kRecord) {
        parse_userfile(text, name, section_count, today, record, nullptr);
        found.record = &record;
      }
    }
    found.owner = status.st_uid;
    found.group = status.st_gid;
    found.inode = status.st_ino;
    if (!visit(found)) break;
  }
  return true;
}

}  // namespace userdb
