// fork/execve of external programs with their output on a pipe, the wait
// for their output and their exit, and the upload checker.
#include "text/external.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>

#include "config/config_store.h"
#include "core/format.h"
#include "core/idle_alarm.h"
#include "core/logs.h"
#include "core/match.h"
#include "core/path_text.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/signals.h"

namespace text {
namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
// How long a program may take to leave after SIGTERM before SIGKILL.
constexpr int kTermGraceMs = 250;
// Without pidfds the wait polls for the program's exit this often.
constexpr int kExitPollMs = 50;
constexpr std::size_t kMaxCommandWords = 99;
constexpr std::size_t kMaxCommandArguments = 998;

// A running program, filed under its stream's descriptor.
struct Child {
  pid_t pid = -1;
  int pidfd = -1;       // readable once the program has exited; -1 without pidfds
  bool exited = false;  // the program has exited (not yet reaped)
  bool at_end = false;  // its output has ended
  std::string pending;  // read from the pipe, not yet handed out
  std::size_t next = 0;
};

std::map<int, Child>& children() {
  static std::map<int, Child> table;
  return table;
}

struct Identity {
  uid_t uid;
  gid_t gid;
  bool keep_groups;
};

// The logged-in user (also while login is switching to them), else nobody.
// The uid is the user's, not the momentary effective uid of a privileged
// step.
Identity program_identity() {
  const core::Session& s = core::session();
  if (s.logged_in || (s.uid != 0 && core::effective_uid() == s.uid)) return {s.uid, ::getegid(), true};
  return {kNobody, kNogroup, false};
}

// The descriptor on which a child reports why it could not execute its
// program, when the caller asked to know.
constexpr int kExecErrorFd = 3;

// Ends a child that could not execute its program, telling the parent why
// when it listens on kExecErrorFd.
[[noreturn]] void fail_child(bool report) {
  const int error = errno;
  if (report) (void)!::write(kExecErrorFd, &error, sizeof error);
  ::_exit(1);
}

// Between fork and execve: async-signal-safe calls only. With `exec_error`
// (a close-on-exec pipe end, or -1) a failure from here on is reported on it.
[[noreturn]] void exec_child(const char* path, char* const argv[], int output, bool merge_stderr,
                             const Identity& identity, int exec_error) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &default_action, nullptr);
  ::setpgid(0, 0);

  // Lift both ends above 0-2 first, so no dup2 below overwrites the other.
  const int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd < 0) ::_exit(1);
  const int high_output = ::fcntl(output, F_DUPFD, 3);
  const int high_null = ::fcntl(null_fd, F_DUPFD, 3);
  const int high_error = exec_error < 0 ? -1 : ::fcntl(exec_error, F_DUPFD, kExecErrorFd + 1);
  if (high_output < 0 || high_null < 0 || (exec_error >= 0 && high_error < 0)) ::_exit(1);
  if (::dup2(high_null, STDIN_FILENO) < 0 || ::dup2(high_output, STDOUT_FILENO) < 0 ||
      ::dup2(merge_stderr ? high_output : high_null, STDERR_FILENO) < 0)
    ::_exit(1);
  const bool report = exec_error >= 0;
  if (report && ::dup3(high_error, kExecErrorFd, O_CLOEXEC) < 0) ::_exit(1);
  if (::close_range(report ? kExecErrorFd + 1 : 3, ~0U, 0) != 0) fail_child(report);

  // Root again for the change of identity (the real uid is root's); a
  // server that never was root can only keep its own ids.
  if (::seteuid(0) != 0) {
  }
  if (!identity.keep_groups && ::setgroups(0, nullptr) != 0) fail_child(report);
  if (::setresgid(identity.gid, identity.gid, identity.gid) != 0) fail_child(report);
  if (::setresuid(identity.uid, identity.uid, identity.uid) != 0) fail_child(report);

  sigset_t empty;
  sigemptyset(&empty);
  ::sigprocmask(SIG_SETMASK, &empty, nullptr);
  ::execv(path, argv);
  fail_child(report);
}

// The errno a child reported on `exec_error` (its read end), or 0 once the
// pipe closed empty: the program is running.
int read_exec_error(int exec_error) {
  int error = 0;
  ssize_t got;
  do {
    got = ::read(exec_error, &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

void reap_failed_start(pid_t pid, int pidfd) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (pidfd >= 0) ::close(pidfd);
}

// Starts the program. With `report_exec_failure`, a program that cannot
// be executed gives nullptr with the execve's errno instead of a stream
// that ends at once with status 1.
std::FILE* start(const char* path, const std::vector<std::string>& argv, bool merge_stderr,
                 bool report_exec_failure = false) {
  std::vector<char*> arguments;
  arguments.reserve(argv.size() + 1);
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  const Identity identity = program_identity();

  int output[2];
  if (::pipe2(output, O_CLOEXEC) != 0) return nullptr;
  int exec_error[2] = {-1, -1};
  if (report_exec_failure && ::pipe2(exec_error, O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(output[0]);
    ::close(output[1]);
    errno = error;
    return nullptr;
  }
  // An ignored SIGCHLD would let the kernel reap the program before its
  // status is known.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(SIGCHLD, &default_action, nullptr);

  // No handler of the server may run in the child: one that shuts the
  // control connection down would do so for the server too.
  sigset_t all, previous;
  sigfillset(&all);
  ::sigprocmask(SIG_BLOCK, &all, &previous);
  const pid_t pid = ::fork();
  if (pid == 0) exec_child(path, arguments.data(), output[1], merge_stderr, identity, exec_error[1]);
  const int fork_error = errno;
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  ::close(output[1]);
  if (exec_error[1] >= 0) ::close(exec_error[1]);
  if (pid < 0) {
    ::close(output[0]);
    if (exec_error[0] >= 0) ::close(exec_error[0]);
    errno = fork_error;
    return nullptr;
  }
  ::setpgid(pid, pid);  // the child does the same; whoever is first wins

  Child child;
  child.pid = pid;
  child.pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));  // close-on-exec
  if (exec_error[0] >= 0) {
    const int error = read_exec_error(exec_error[0]);
    ::close(exec_error[0]);
    if (error != 0) {
      ::close(output[0]);
      reap_failed_start(pid, child.pidfd);
      errno = error;
      return nullptr;
    }
  }
  std::FILE* stream = ::fdopen(output[0], "r");
  if (stream == nullptr) {
    const int error = errno;
    ::close(output[0]);
    ::kill(-pid, SIGKILL);
    reap_failed_start(pid, child.pidfd);
    errno = error;
    return nullptr;
  }
  children()[output[0]] = std::move(child);
  return stream;
}

// --- waiting for a program, and ending it when the session ends

// The signals that end a session (and with it a run) while blocked.
sigset_t ending_signals() {
  sigset_t set = core::handled_signals();
  sigaddset(&set, SIGALRM);
  sigaddset(&set, SIGTERM);
  return set;
}

// The control connection, watched for a hang-up; -1 when standard input is
// no socket (a test, a tool).
int control_socket() {
  struct stat st {};
  return ::fstat(STDIN_FILENO, &st) == 0 && S_ISSOCK(st.st_mode) ? STDIN_FILENO : -1;
}

// Set while programs run to their end: see ProgramsRunToTheEnd.
bool session_ending = false;

bool session_must_end() {
  return core::idle_alarm_pending() || (!session_ending && core::termination_requested);
}

void sleep_ms(int ms) {
  struct timespec pause {0, ms * 1000000L};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

bool has_exited(const Child& child, int wait_ms) {
  if (child.pidfd >= 0) {
    struct pollfd exit_fd {child.pidfd, POLLIN, 0};
    return ::poll(&exit_fd, 1, wait_ms) > 0;
  }
  for (int waited = 0;; waited += kExitPollMs) {
    siginfo_t info {};
    if (::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
      return true;  // nothing left to wait for
    if (info.si_pid == child.pid) return true;
    if (waited >= wait_ms) return false;
    sleep_ms(kExitPollMs);
  }
}

int reap(const Child& child) {
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(child.pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (child.pidfd >= 0) ::close(child.pidfd);
  if (reaped != child.pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// SIGTERM to the program's group, SIGKILL after a short grace, then the
// reap. The group's id stays the program's until it is reaped.
void stop_program(const Child& child) {
  ::kill(-child.pid, SIGTERM);
  has_exited(child, kTermGraceMs);
  ::kill(-child.pid, SIGKILL);
  ::kill(child.pid, SIGKILL);
  reap(child);
}

// The session ends: the program goes first (out of the table when it is
// still filed there), then the session ends the way the reason asks for.
[[noreturn]] void end_run_and_session(const Child& running, bool connection_lost) {
  const Child child = running;
  auto& table = children();
  for (auto entry = table.begin(); entry != table.end(); ++entry) {
    if (entry->second.pid == child.pid) {
      table.erase(entry);
      break;
    }
  }
  stop_program(child);
  if (core::idle_alarm_pending()) core::check_idle_alarm();
  if (connection_lost) core::termination_requested = 1;
  core::end_session_if_requested();
  core::end_session(-1);  // a termination request ends the session above
}

// Waits until the program's pipe `fd` has data or has ended, or the program
// has exited. Returns the pipe's poll bits, or 0 once the program has
// exited and its pipe has nothing more right now. With `fd` -1 it waits
// for the exit only. The session-ending checks run with the ending signals
// blocked, so a signal arriving just before the wait still interrupts it.
short wait_for(int fd, Child& child) {
  const sigset_t ending = ending_signals();
  const int control = session_ending ? -1 : control_socket();
  for (;;) {
    sigset_t open_mask;
    ::sigprocmask(SIG_BLOCK, &ending, &open_mask);
    if (session_must_end()) {
      ::sigprocmask(SIG_SETMASK, &open_mask, nullptr);
      end_run_and_session(child, false);
    }
    struct pollfd fds[3] = {{fd, POLLIN, 0},
                            {child.exited ? -1 : child.pidfd, POLLIN, 0},
                            {control, POLLRDHUP, 0}};
    struct timespec timeout {};
    const struct timespec* limit = nullptr;
    if (child.exited) {
      limit = &timeout;  // only what is already in the pipe
    } else if (child.pidfd < 0) {
      timeout.tv_nsec = kExitPollMs * 1000000L;
      limit = &timeout;
    }
    const int ready = ::ppoll(fds, 3, limit, &open_mask);
    const int error = errno;
    ::sigprocmask(SIG_SETMASK, &open_mask, nullptr);
    if (ready < 0) {
      if (error == EINTR) continue;
      return POLLHUP;
    }
    if (fds[0].revents != 0) return fds[0].revents;
    if (fds[2].revents != 0) end_run_and_session(child, true);
    if (child.exited) return 0;
    if (fds[1].revents != 0 || (child.pidfd < 0 && has_exited(child, 0))) child.exited = true;
  }
}

// Reads the next piece of the program's output into `child.pending`, or
// marks the output as ended.
void fill(int fd, Child& child) {
  for (;;) {
    if (wait_for(fd, child) == 0) {
      child.at_end = true;
      return;
    }
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      child.pending.assign(buffer, static_cast<std::size_t>(got));
      child.next = 0;
      return;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    child.at_end = true;
    return;
  }
}

bool read_stdio_line(std::FILE* stream, std::string& line, std::size_t limit) {
  for (;;) {
    const int c = std::fgetc(stream);
    if (c == '\n') return true;
    if (c != EOF) {
      if (line.size() < limit) line.push_back(static_cast<char>(c));
      continue;
    }
    // A signal may interrupt the read; the line continues after it.
    if (std::ferror(stream) && errno == EINTR) {
      std::clearerr(stream);
      continue;
    }
    return !line.empty();
  }
}

bool case_insensitive_match(std::string pattern, std::string text) {
  for (char& c : pattern) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return core::name_match(text, pattern);
}

}  // namespace

std::FILE* run_script(const char* program, const std::vector<std::string>& arguments) {
  if (program == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  std::vector<std::string> argv;
  argv.reserve(arguments.size() + 1);
  argv.emplace_back(core::last_component(program));
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return start(program, argv, false);
}

namespace {

// The argument vector of a command line: the words split at blanks, tabs
// and newlines (at most kMaxCommandWords), argument 0 the program's base
// name, every further word replaced by its filename expansions when it
// matches any file. Empty without a program.
std::vector<std::string> command_words(std::string_view command_line, std::string& program,
                                       std::size_t& words_used) {
  std::vector<std::string> words;
  for (std::size_t at = 0; at < command_line.size() && words.size() < kMaxCommandWords;) {
    const std::size_t end = std::min(command_line.find_first_of(" \t\n", at), command_line.size());
    if (end > at) words.emplace_back(command_line.substr(at, end - at));
    at = end + 1;
  }
  if (words.empty()) return {};
  program = words[0];
  words_used = words.size();
  std::vector<std::string> argv{std::string(core::last_component(words[0]))};
  for (std::size_t i = 1; i < words.size(); ++i) {
    // A word that matches no file stays as written, as in a shell.
    const core::GlobResult expanded = core::glob_expand(words[i]);
    if (expanded.glob_error != nullptr || expanded.names.empty())
      argv.push_back(words[i]);
    else
      argv.insert(argv.end(), expanded.names.begin(), expanded.names.end());
  }
  if (argv.size() > kMaxCommandArguments) argv.resize(kMaxCommandArguments);
  return argv;
}

}  // namespace

std::FILE* run_command(std::string_view command_line, bool quiet) {
  std::string program;
  std::size_t words_used = 0;
  const std::vector<std::string> argv = command_words(command_line, program, words_used);
  if (argv.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  return start(program.c_str(), argv, !quiet);
}

std::FILE* run_command(std::string_view command_line, std::span<const std::string> literal_arguments) {
  std::string program;
  std::size_t words_used = 0;
  std::vector<std::string> argv = command_words(command_line, program, words_used);
  if (argv.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  // The typed words count toward the same limits as the configured ones.
  std::size_t words = words_used;
  for (const std::string& argument : literal_arguments) {
    if (words++ >= kMaxCommandWords || argv.size() >= kMaxCommandArguments) break;
    argv.push_back(argument);
  }
  return start(program.c_str(), argv, true, true);
}

int close_command(std::FILE* stream) {
  if (stream == nullptr) return -1;
  auto& table = children();
  const auto found = table.find(::fileno(stream));
  if (found == table.end()) return -1;
  Child child = std::move(found->second);
  table.erase(found);
  // A program still writing gets SIGPIPE; one still running is waited for
  // as for its output, so the end of the session still stops it.
  std::fclose(stream);
  while (!child.exited) wait_for(-1, child);
  return reap(child);
}

bool read_output_line(std::FILE* stream, std::string& line, std::size_t limit) {
  line.clear();
  auto& table = children();
  const int fd = ::fileno(stream);
  const auto found = table.find(fd);
  if (found == table.end()) return read_stdio_line(stream, line, limit);
  Child& child = found->second;
  bool any = false;
  for (;;) {
    while (child.next < child.pending.size()) {
      const char c = child.pending[child.next++];
      if (c == '\n') return true;
      any = true;
      if (line.size() < limit) line.push_back(c);
    }
    if (child.at_end) return any;
    fill(fd, child);
  }
}

ProgramsRunToTheEnd::ProgramsRunToTheEnd() : before_(session_ending) { session_ending = true; }
ProgramsRunToTheEnd::~ProgramsRunToTheEnd() { session_ending = before_; }

int post_check(const char* path, unsigned long crc) {
  const std::string_view full(path);
  const config::ConfigEntry* cursor = nullptr;
  const char* program = nullptr;
  while (const config::ConfigEntry* line = config::next_config("post_check", cursor)) {
    if (line->arg(1) == nullptr) continue;
    if (line->arg(2) != nullptr && !case_insensitive_match(line->arg(2), std::string(full)))
      continue;
    program = line->arg(1);
    break;
  }
  if (program == nullptr) return 0;
  struct stat st {};
  if (::stat(program, &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return 0;

  const std::size_t slash = full.rfind('/');
  const std::string file(core::last_component(full));
  const std::string directory(slash == std::string_view::npos ? "" : full.substr(0, slash));
  char crc_text[24];
  std::snprintf(crc_text, sizeof crc_text, "%08lX", crc);
  std::FILE* output = run_script(program, {file, directory, crc_text});
  if (output == nullptr) {
    core::error_log("Unable to execute post_check script '%s'", program);
    return 1;
  }
  // The lines go out with the code of the final reply, whatever it is.
  core::hold_continuations(true);
  std::string text_line;
  while (read_output_line(output, text_line, 8191)) core::lreply(226, "%s", text_line);
  core::hold_continuations(false);
  return close_command(output);
}

}  // namespace text
