// Running site-supplied external programs: start one with its standard
// output on a pipe the server reads, then reap it for its exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace text {

// Starts the program at `path` (used as is, no PATH search) with the
// argument vector `argv` (argv[0] is argument 0). The child's standard
// output is the returned stream; its standard error goes to /dev/null, or
// into the same pipe with `merge_stderr`. The child runs permanently as the
// session's effective identity, without the control connection or any
// other descriptor of the server. Returns nullptr (errno set) when the pipe
// or the fork fails or the program cannot be executed.
std::FILE* run_command(const char* path, const std::vector<std::string>& argv,
                       bool merge_stderr = false);

// Closes a stream made by run_command and waits for its child: the exit
// status 0-255 (a child ended by a signal counts as 128 + the signal), or
// -1 when the stream was not made by run_command or waiting failed.
int close_command(std::FILE* stream);

// Reads one line of a child's output (at most `limit` bytes) without its
// trailing newline; false at the end of the output.
bool read_output_line(std::FILE* stream, std::string& line, std::size_t limit = 8191);

}  // namespace text
