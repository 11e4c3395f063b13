// Reading and rewriting the bounded bulletin files. Every rewrite holds an
// exclusive flock on "<path>.lock" from the read to the rename, so two
// sessions adding at the same moment both keep their entry, and it replaces
// the file only by exchanging a complete new file with it: a failure at any
// step leaves the old file exactly as it was.
#include "releases/bounded_list.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/file_io.h"
#include "core/logs.h"
#include "core/privilege.h"

namespace releases {
namespace {

// Mode and owner the rewritten file keeps from the old one.
struct FileAttributes {
  mode_t mode = 0644;
  uid_t owner = 0;
  gid_t group = 0;
};

// The lock file is never removed: a process waiting on a removed file's
// lock would go on with nobody else serialised against it.
class ListLock {
 public:
  explicit ListLock(const std::string& path)
      : fd_(core::open_file((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600)) {
    held_ = fd_ && core::lock_file(fd_.get(), LOCK_EX);
  }
  bool held() const { return held_; }

 private:
  core::UniqueFd fd_;
  bool held_ = false;
};

enum class ReadResult { Read, Missing, Failed };

ReadResult read_entries(const std::string& path, std::vector<ListEntry>& entries,
                        FileAttributes* attributes) {
  entries.clear();
  core::UniqueFd fd = core::open_file(path.c_str(), O_RDONLY);
  if (!fd) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  struct stat st {};
  std::string text;
  if (::fstat(fd.get(), &st) != 0 || !core::read_all(fd.get(), text)) return ReadResult::Failed;
  if (attributes) *attributes = {static_cast<mode_t>(st.st_mode & 07777), st.st_uid, st.st_gid};
  entries = parse_list(text);
  return ReadResult::Read;
}

// The file the next text goes into: the old text the rewrite before this
// one exchanged out, kept as "<path>.spare", or a new file. Under the lock
// nobody else writes it; reusing it spares making and removing a file at
// every rewrite (once per logout for the last-online list), which is dear
// on a file system that passes over recently freed inodes to make one.
core::UniqueFd open_spare(const std::string& spare, struct stat& status) {
  core::UniqueFd fd = core::open_file(spare.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK);
  if (fd && ::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1) return fd;
  fd.reset();
  (void)::unlink(spare.c_str());
  fd = core::open_file(spare.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (fd && ::fstat(fd.get(), &status) != 0) fd.reset();
  return fd;
}

// Gives the spare the list's owner and mode where they differ.
bool take_attributes(int fd, const struct stat& status, const FileAttributes& attributes) {
  if ((status.st_uid != attributes.owner || status.st_gid != attributes.group) &&
      ::fchown(fd, attributes.owner, attributes.group) != 0)
    return false;
  return (status.st_mode & 07777) == attributes.mode || ::fchmod(fd, attributes.mode) == 0;
}

ListStatus rewrite(const std::string& path, std::span<const ListEntry> entries,
                   const FileAttributes& attributes) {
  const std::string spare = path + ".spare";
  struct stat status {};
  core::UniqueFd fd = open_spare(spare, status);
  if (!fd) {
    core::error_log("Can't create file %s: error %d", spare, errno);
    return ListStatus::CannotCreate;
  }
  // Cut after the text, never to nothing first: ext4 writes out at its
  // close a file that was cut to nothing.
  const std::string text = format_list(entries);
  bool written = core::pwrite_all(fd.get(), text, 0);
  if (written && status.st_size > static_cast<off_t>(text.size()))
    written = ::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0;
  if (written && !take_attributes(fd.get(), status, attributes))
    core::error_log("Can't set owner and mode of %s: error %d", spare, errno);
  const bool closed = fd.close();
  bool old_kept = false;
  if (!written || !closed) {
    core::error_log("Can't write file %s: error %d", spare, errno);
  } else if (!core::replace_file_keeping_old(spare, path, old_kept)) {
    core::error_log("Unable to rename %s to %s: error %d", spare, path, errno);
  } else {
    return ListStatus::Done;  // the old text, if any, is the next spare
  }
  (void)::unlink(spare.c_str());
  return ListStatus::CannotWrite;
}

}  // namespace

std::vector<ListEntry> parse_list(std::string_view text) {
  std::vector<ListEntry> entries;
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2)
    entries.push_back(ListEntry{std::string(lines[i]), std::string(lines[i + 1])});
  return entries;
}

std::string format_list(std::span<const ListEntry> entries) {
  std::string text;
  for (const ListEntry& entry : entries) {
    text += entry.first;
    text += '\n';
    text += entry.second;
    text += '\n';
  }
  return text;
}

bool read_list(const std::string& path, std::vector<ListEntry>& entries) {
  return read_entries(path, entries, nullptr) != ReadResult::Failed;
}

namespace {

// Every change of a list: under the list's lock, read it, let `edit` change
// the entries (it answers Done to have them written, anything else to
// leave the file as it is), and write the result through a temporary file.
template <typename Edit>
ListStatus edit_list(const std::string& path, Edit edit) {
  core::PrivilegeBracket privileged;
  ListLock lock(path);
  if (!lock.held()) return ListStatus::CannotCreate;
  std::vector<ListEntry> entries;
  FileAttributes attributes;
  if (read_entries(path, entries, &attributes) == ReadResult::Failed) return ListStatus::CannotRead;
  const ListStatus edited = edit(entries);
  if (edited != ListStatus::Done) return edited;
  return rewrite(path, entries, attributes);
}

}  // namespace

ListStatus add_to_list(const std::string& path, int maximum, const ListEntry& entry) {
  return edit_list(path, [&](std::vector<ListEntry>& entries) {
    const std::size_t keep = maximum > 1 ? static_cast<std::size_t>(maximum - 1) : 0;
    if (entries.size() > keep) entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(keep));
    entries.push_back(entry);
    return ListStatus::Done;
  });
}

ListStatus remove_from_list(const std::string& path, long long number, ListEntry& removed) {
  return edit_list(path, [&](std::vector<ListEntry>& entries) {
    if (number < 1 || static_cast<unsigned long long>(number) > entries.size()) return ListStatus::NoSuchEntry;
    const auto at = entries.begin() + static_cast<std::ptrdiff_t>(number - 1);
    removed = *at;
    entries.erase(at);
    return ListStatus::Done;
  });
}

}  // namespace releases
