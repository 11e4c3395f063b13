// send_data: the loop that moves a file to the data connection, in ASCII
// (LF sent as CR LF) or binary (sendfile), with progress in the online
// table, throttling, ABOR/STAT between chunks and the growing-file follow.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace transfer {

// Binary chunks: large enough that the per-chunk work (progress, polling
// the control connection, the throttle) costs nothing next to the copy,
// small enough that ABOR and STAT are answered quickly. A throttled
// transfer uses small chunks so its pace is even and the online table's
// byte count advances at least every 64 KiB.
inline constexpr std::size_t kBinaryChunk = 1 << 20;
inline constexpr std::size_t kThrottledChunk = 64 << 10;
// The first chunk of a transfer, doubled with every chunk up to
// kBinaryChunk: on loopback the client starts reading while the rest is
// sent, where one 1 MiB call would hand it the file only at the end.
inline constexpr std::size_t kFirstBinaryChunk = 128 << 10;
// ASCII conversion reads this much at a time.
inline constexpr std::size_t kAsciiBlock = 64 << 10;
// A file with these permission bits is still being uploaded; it is
// followed while it changed within the window.
inline constexpr mode_t kGrowingMode = 0755;
inline constexpr int kGrowingWindowSeconds = 30;

// Sends `in` (positioned at the restart point `position`, `size` bytes long
// when opened) to `out`. `path` is the file's path for the throttle and the
// online status. Returns 0, or -1 after an error reply (551 input, 426 data
// connection) or an ABOR (whose replies are sent already).
int send_data(int in, int out, const std::string& path, bool ascii, off_t position, off_t size);

// Converts LF to CR LF: appends the converted `data` to `out`.
void ascii_convert(const char* data, std::size_t size, std::string& out);

// True while a file of `mode` last modified at `mtime` may still grow at
// time `now`.
bool still_growing(mode_t mode, time_t mtime, time_t now);

}  // namespace transfer
