// receive_data: the loop that moves an upload from the data connection
// into its file, in ASCII (CR LF stored as LF) or binary, with the CRC-32
// of the bytes, progress in the online table, throttling and ABOR/STAT
// between reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace transfer {

// Reads this much at a time: large reads keep the per-read work (CRC call,
// progress, a look at the control connection, the throttle) negligible,
// and a buffer that stays in the processor's second-level cache between the
// read, the write to the file and the CRC is faster than a larger one (1 MiB
// uploads and 256 MiB uploads alike). A throttled upload reads less at a
// time, so its pace is even and the online table's byte count moves at
// least every 64 KiB.
inline constexpr std::size_t kReceiveChunk = 256 << 10;
inline constexpr std::size_t kThrottledReceiveChunk = 64 << 10;

// The session's one receive buffer of kReceiveChunk bytes, mapped and
// faulted in at its first use and kept: every upload (and every CRC of a
// resumed file's first part) reads into the same memory, so the session
// pays for its pages once, and its memory does not creep up with the
// largest read it happened to see. Null when no memory could be had.
char* receive_buffer();

struct ReceiveResult {
  enum Outcome { Done, InputError, OutputError, Aborted } outcome = Done;
  int error = 0;                // errno of an input or output error
  long long bare_linefeeds = 0;  // ASCII: LF received without CR
};

// Receives from `in` into `out` (positioned where the data goes) until the
// client closes the data connection. `path` is the file's path for the
// throttle. With `crc`, binary data is added to *crc by crc_update. No
// reply is sent: the caller answers after post-processing. An ABOR has had
// its replies (426 and 226) already.
ReceiveResult receive_data(int in, int out, const std::string& path, bool ascii, uint32_t* crc);

}  // namespace transfer
