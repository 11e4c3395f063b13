// Block reads and in-place writes of the release databases' fixed-size
// records (dirlog, nukelog): whole records only, retried on EINTR, so a
// partial record at the end of a file is never seen.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <vector>

#include "core/file_io.h"

namespace releases {

// Records read per pread: a scan of a large log costs few system calls.
inline constexpr std::size_t kRecordBlock = 512;

// Reads records [first, first + count) of `fd` into `out`; gives the number
// of whole records read (fewer when the file is shorter) or -1 on a read
// error.
template <typename Record>
long read_records(int fd, std::size_t first, std::size_t count, Record* out) {
  std::size_t done = 0;
  const std::size_t wanted = count * sizeof(Record);
  char* bytes = reinterpret_cast<char*>(out);
  while (done < wanted) {
    const ssize_t got = ::pread(fd, bytes + done, wanted - done, static_cast<off_t>(first * sizeof(Record) + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long>(done / sizeof(Record));
}

// Hands each whole record with its index to `visit`, oldest first, until it
// returns false. False on a read error.
template <typename Record, typename Visit>
bool scan_forward(int fd, std::size_t records, Visit visit) {
  std::vector<Record> block(std::min(kRecordBlock, std::max<std::size_t>(records, 1)));
  for (std::size_t first = 0; first < records;) {
    const long got = read_records(fd, first, std::min(block.size(), records - first), block.data());
    if (got < 0) return false;
    if (got == 0) return true;  // the file shrank under a reader
    for (long i = 0; i < got; ++i)
      if (!visit(block[static_cast<std::size_t>(i)], first + static_cast<std::size_t>(i))) return true;
    first += static_cast<std::size_t>(got);
  }
  return true;
}

template <typename Record, typename Visit>
bool scan_forward(int fd, Visit visit) {
  return scan_forward<Record>(fd, core::whole_records(fd, sizeof(Record)), visit);
}

// As scan_forward, newest first.
template <typename Record, typename Visit>
bool scan_backward(int fd, Visit visit) {
  const std::size_t records = core::whole_records(fd, sizeof(Record));
  std::vector<Record> block(std::min(kRecordBlock, std::max<std::size_t>(records, 1)));
  for (std::size_t end = records; end > 0;) {
    const std::size_t first = end > block.size() ? end - block.size() : 0;
    const long got = read_records(fd, first, end - first, block.data());
    if (got < 0 || static_cast<std::size_t>(got) != end - first) return false;
    for (std::size_t i = end - first; i-- > 0;)
      if (!visit(block[i], first + i)) return true;
    end = first;
  }
  return true;
}

// Rewrites record `index` in place.
template <typename Record>
bool write_record_at(int fd, std::size_t index, const Record& record) {
  ssize_t written;
  do {
    written = ::pwrite(fd, &record, sizeof(Record), static_cast<off_t>(index * sizeof(Record)));
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(sizeof(Record));
}

}  // namespace releases
