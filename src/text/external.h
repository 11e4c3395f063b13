// Running site-supplied external programs: start one with its standard
// output on a pipe the server reads, then reap it for its exit status.
//
// Every program runs without a shell, in a process group of its own, with
// default signal actions and an empty signal mask, standard input on
// /dev/null and no descriptor of the server beyond 0-2. It runs for good as
// the logged-in user (real, effective and saved ids), or as 65534:65534
// without supplementary groups before anyone has logged in.
//
// While the server waits for a program, the idle alarm, a termination
// signal or a lost control connection ends the run: the program's process
// group gets SIGTERM, then SIGKILL, the program is reaped and the session
// ends as it would have without the program.
#pragma once

#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/session.h"

namespace text {

// Starts the program at `program` (no shell, no PATH search) with argument 0
// set to the program's base name followed by `arguments`. Its standard
// output is the returned stream; standard error goes to /dev/null. A
// program that cannot be executed gives an empty stream whose status is 1.
// Returns nullptr (errno set) only when the pipe or the fork fails.
std::FILE* run_script(const char* program, const std::vector<std::string>& arguments);

// Starts a command line: split at blanks, tabs and newlines into at most 99
// words, the first being the program (argument 0 is its base name); every
// further word is replaced by its filename expansions when it matches any
// file. Standard error joins the output unless `quiet`. Otherwise
// as run_script.
std::FILE* run_command(std::string_view command_line, bool quiet = false);

// A site's custom command: `command_line` (the configured part) is split and
// expanded as by run_command, then `literal_arguments` follow as they are:
// words a user typed are never expanded, so they cannot list the server's
// files, and never reach a shell. Standard error joins the output. Returns
// nullptr with errno set when the pipe or the fork fails, and also when the
// program cannot be executed (the errno of the execve).
std::FILE* run_command(std::string_view command_line, std::span<const std::string> literal_arguments);

// Closes a stream made by run_script or run_command and reaps its program:
// the exit status 0-255, 128 + the signal for a program a signal ended, or
// -1 when the stream was not made by a runner.
int close_command(std::FILE* stream);

// Reads one line of a program's output (at most `limit` bytes kept) without
// its trailing newline; false at the end of the output. The output of a
// runner's stream ends when the program exits, even when a process it left
// behind still holds the pipe.
bool read_output_line(std::FILE* stream, std::string& line, std::size_t limit = 8191);

// While one lives, programs run to their end: neither a lost connection
// nor a termination request stops them (the session ends once they have),
// only the idle alarm. The upload checker runs so, whether after the
// transfer or at logout after an upload the end of the session cut short:
// its verdict decides whether a received file stays.
class ProgramsRunToTheEnd {
 public:
  ProgramsRunToTheEnd();
  ~ProgramsRunToTheEnd();
  ProgramsRunToTheEnd(const ProgramsRunToTheEnd&) = delete;
  ProgramsRunToTheEnd& operator=(const ProgramsRunToTheEnd&) = delete;

 private:
  bool before_;
};

// Runs the upload checker on an uploaded file: the first `post_check` line
// whose pattern (any case) matches the path, or that has none. Argument 1
// is the file's base name, argument 2 its directory, argument 3 the CRC as
// "%08lX". Its output lines are held for the final reply. Returns the
// program's status (0 passes); 0 when no line applies or the program is
// missing; 1 when it cannot be started.
int post_check(const char* path, unsigned long crc);

// Each environment entry is at most this long; values are cut to fit.
inline constexpr std::size_t kEnvironmentEntryLimit = 59;

// USER, FLAGS, TAGLINE, GROUP, PGROUP, RATIO, HOST and HOME, in that order.
std::array<std::string, 8> script_environment_entries(const core::Session& s);

// Puts the entries above and the session's SECTION entry into the process
// environment, where external programs find them; SPEED starts at 0 until a
// transfer sets it. Called at login and whenever the user's groups change.
void set_script_environment();

}  // namespace text
