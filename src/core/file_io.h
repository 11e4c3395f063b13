// Small file helpers every module uses: open with an owning descriptor,
// whole-file reads and whole-buffer writes, all retried on EINTR.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "core/unique_fd.h"

namespace core {

// open(2) with O_CLOEXEC, retried on EINTR.
UniqueFd open_file(const char* path, int flags, mode_t mode = 0);

// Takes the result of a call whose failure leaves nothing to do: an owner
// or mode that stays as it was, or a cleanup the next writer repeats.
inline void ignore_failure(int) {}

// Reads an open file whole; false on a read error.
bool read_all(int fd, std::string& out);
// As read_all, for a descriptor known to be a regular file, where a read
// that comes back short has met the end: a small file takes one read and
// no status.
bool read_regular_file(int fd, std::string& out);
// As read_regular_file from the file's start, whatever the descriptor's
// offset: a descriptor kept open is read again without a seek.
bool pread_regular_file(int fd, std::string& out);
// Reads a file whole; false when it cannot be opened or read.
bool read_file(const char* path, std::string& out);
// Writes the whole buffer; false on any error or short write.
bool write_all(int fd, std::string_view data);
// The same at `offset`, whatever the descriptor's own.
bool pwrite_all(int fd, std::string_view data, off_t offset);

// Puts the whole file `staged` in place of `path` (`path` is never
// missing): an existing `path` is exchanged with `staged`, and the old text
// stays under the staged name for the caller to use again (`old_kept` says
// whether there is one); a rename over an existing file would make ext4
// start writing the new one out at once (about 250 microseconds here,
// against 15). Without an old file, or where exchange is not supported,
// `staged` is renamed. False with errno; `staged` is then left as it was.
bool replace_file_keeping_old(const std::string& staged, const std::string& path, bool& old_kept);

// Whether two statuses are of one file (device and inode): a name still
// leads to the file held open, or a directory is the one met before.
bool same_file(const struct stat& a, const struct stat& b);

// flock(2) retried on EINTR: true once the lock is held.
bool lock_file(int fd, int operation);

// The number of whole `record_size` records in an open file of fixed
// records; a partial record at the end (left by a crash or a full disk
// during an append) is not one.
std::size_t whole_records(int fd, std::size_t record_size);
// The same for a file whose status the caller has already.
std::size_t whole_records(const struct stat& status, std::size_t record_size);

}  // namespace core
