// Mailbox files: locked appends with their headers, locked reads and moves.
#include "userdb/mailbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "core/file_io.h"
#include "core/format.h"
#include "core/privilege.h"
#include "core/session.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

constexpr int kReopenTries = 100;
constexpr std::size_t kDashes = 78;

// What this process last wrote, so that its next message to the same
// mailbox can continue under the same header. The mailbox stays open: while
// it is, its inode cannot be reused by a mailbox created after this one was
// moved away and purged, which could otherwise look like the same file at
// the same size.
struct LastDelivery {
  bool any = false;
  std::string recipient;
  std::string sender;
  core::UniqueFd mailbox;
  off_t size = 0;
};

LastDelivery& last_delivery() {
  static LastDelivery last;
  return last;
}

// Opens `path` and locks it; once the lock is held the path must still
// name the open file (another process may have moved or removed it
// meanwhile), otherwise the name is opened again. `status` receives the
// locked file's status; `error` the system error of a failure.
core::UniqueFd open_locked(const std::string& path, int flags, int lock, struct stat& status, int& error) {
  for (int attempt = 0; attempt < kReopenTries; ++attempt) {
    core::UniqueFd fd = core::open_file(path.c_str(), flags | O_NOFOLLOW, 0666);
    if (!fd || !core::lock_file(fd.get(), lock)) {
      error = errno;
      return {};
    }
    struct stat named {};
    if (::fstat(fd.get(), &status) != 0) {
      error = errno;
      return {};
    }
    if (::stat(path.c_str(), &named) == 0 && core::same_file(status, named)) return fd;
  }
  error = EAGAIN;
  return {};
}

// rename that never replaces an existing target: EEXIST then.
int move_without_replacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without RENAME_NOREPLACE: a hard link fails just the
  // same when the target exists.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  return ::unlink(from.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string mailbox_path(std::string_view user, Mailbox which) {
  std::string path = core::session().data_path;
  path += "/msgs/";
  path += user;
  if (which == Mailbox::Kept) path += ".purge";
  return path;
}

bool mailbox_exists(std::string_view user, Mailbox which) {
  struct stat status {};
  return valid_user_name(user) && ::stat(mailbox_path(user, which).c_str(), &status) == 0;
}

std::string message_header(std::string_view sender, time_t sent) {
  char when[26] = {};
  if (::ctime_r(&sent, when) == nullptr) when[0] = '\0';
  return core::format("!HFrom: !C%.23s !H(!C%.24s!H)!0\n", {sender, std::string_view(when)}) +
         std::string(kDashes, '-') + "\n";
}

Delivery deliver_message(std::string_view recipient, std::string_view sender,
                         std::string_view text, time_t sent) {
  Delivery delivery;
  if (!valid_user_name(recipient)) {
    delivery.error = EINVAL;
    return delivery;
  }
  const std::string path = mailbox_path(recipient, Mailbox::Unread);
  core::PrivilegeBracket privileged;
  struct stat status {};
  core::UniqueFd fd = open_locked(path, O_WRONLY | O_APPEND | O_CREAT, LOCK_EX, status, delivery.error);
  if (!fd) return delivery;

  LastDelivery& last = last_delivery();
  const std::string header = message_header(sender, sent);
  std::string bytes;
  if (!last.any) {
    bytes = "\n" + header;
  } else if (status.st_size == 0) {
    bytes = header;
  } else {
    struct stat last_status {};
    delivery.continued = last.recipient == recipient && last.sender == sender && last.mailbox &&
                         ::fstat(last.mailbox.get(), &last_status) == 0 && core::same_file(last_status, status) &&
                         last.size == status.st_size;
    bytes = delivery.continued ? "\n" : "\n\n" + header;
  }
  bytes += core::format("!H%s!0\n", {text}, 1100);

  if (!core::write_all(fd.get(), bytes)) {
    delivery.error = errno;
    // A message cut short would run into the next one.
    [[maybe_unused]] const int truncated = ::ftruncate(fd.get(), status.st_size);
    delivery.continued = false;
    return delivery;
  }
  (void)core::lock_file(fd.get(), LOCK_UN);
  last = LastDelivery{true, std::string(recipient), std::string(sender), std::move(fd),
                      status.st_size + static_cast<off_t>(bytes.size())};
  delivery.delivered = true;
  return delivery;
}

MailboxOutcome read_mailbox(std::string_view user, Mailbox which, std::string& contents) {
  contents.clear();
  if (!valid_user_name(user)) return MailboxOutcome::Missing;
  const std::string path = mailbox_path(user, which);
  core::PrivilegeBracket privileged;
  struct stat status {};
  int error = 0;
  core::UniqueFd fd = open_locked(path, O_RDONLY, which == Mailbox::Unread ? LOCK_EX : LOCK_SH, status, error);
  if (!fd) return error == ENOENT ? MailboxOutcome::Missing : MailboxOutcome::Failed;
  if (!core::read_all(fd.get(), contents)) return MailboxOutcome::Failed;
  if (which == Mailbox::Kept) return MailboxOutcome::Done;
  const int moved = move_without_replacing(path, mailbox_path(user, Mailbox::Kept));
  if (moved == EEXIST) return MailboxOutcome::KeptExists;
  return moved == 0 ? MailboxOutcome::Done : MailboxOutcome::Failed;
}

MailboxOutcome save_mailbox(std::string_view user) {
  if (!valid_user_name(user)) return MailboxOutcome::Missing;
  const std::string path = mailbox_path(user, Mailbox::Unread);
  core::PrivilegeBracket privileged;
  struct stat status {};
  int error = 0;
  core::UniqueFd fd = open_locked(path, O_RDONLY, LOCK_EX, status, error);
  if (!fd) return error == ENOENT ? MailboxOutcome::Missing : MailboxOutcome::Failed;
  const int moved = move_without_replacing(path, mailbox_path(user, Mailbox::Kept));
  if (moved == EEXIST) return MailboxOutcome::KeptExists;
  return moved == 0 ? MailboxOutcome::Done : MailboxOutcome::Failed;
}

void purge_mailbox(std::string_view user) {
  if (!valid_user_name(user)) return;
  core::PrivilegeBracket privileged;
  (void)::unlink(mailbox_path(user, Mailbox::Kept).c_str());
}

}  // namespace userdb
