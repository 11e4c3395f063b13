// fork/execve of external programs with their output on a pipe, and the
// table of running children that close_command reaps.
#include "text/external.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>

namespace text {
namespace {

// The child of each stream, by the stream's descriptor.
std::map<int, pid_t>& children() {
  static std::map<int, pid_t> table;
  return table;
}

void close_descriptors_from(int first) {
  struct rlimit limit {};
  int last = 1024;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    last = static_cast<int>(limit.rlim_cur);
  if (::close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return;
  for (int fd = first; fd < last; ++fd) ::close(fd);
}

// Runs in the child between fork and execve: only async-signal-safe calls.
[[noreturn]] void exec_child(const char* path, char* const argv[], int output, int error_report,
                             bool merge_stderr) {
  const uid_t euid = ::geteuid();
  const gid_t egid = ::getegid();
  if (::dup2(output, STDOUT_FILENO) < 0) ::_exit(1);
  if (merge_stderr) {
    ::dup2(output, STDERR_FILENO);
  } else {
    const int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      ::dup2(null_fd, STDERR_FILENO);
      if (null_fd > STDERR_FILENO) ::close(null_fd);
    }
  }
  ::close(STDIN_FILENO);  // the control connection stays with the server
  // Keep only the error-report pipe (close-on-exec) beyond stderr.
  if (error_report != 3) {
    ::dup2(error_report, 3);
    ::fcntl(3, F_SETFD, FD_CLOEXEC);
    error_report = 3;
  }
  close_descriptors_from(4);

  // The program runs as the logged-in identity for good.
  sigset_t all, previous;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &previous);
  if (::seteuid(0) == 0) {
    if (::setgid(egid) != 0 || ::setuid(euid) != 0) ::_exit(1);
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);

  ::execve(path, argv, environ);
  const int error = errno;
  ssize_t ignored = ::write(error_report, &error, sizeof error);
  (void)ignored;
  ::_exit(1);
}

}  // namespace

std::FILE* run_command(const char* path, const std::vector<std::string>& argv, bool merge_stderr) {
  if (path == nullptr || argv.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  std::vector<char*> arguments;
  arguments.reserve(argv.size() + 1);
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  int output[2];
  if (::pipe2(output, O_CLOEXEC) != 0) return nullptr;
  int error_report[2];
  if (::pipe2(error_report, O_CLOEXEC) != 0) {
    ::close(output[0]);
    ::close(output[1]);
    return nullptr;
  }
  // An ignored SIGCHLD would let the kernel reap the child before we can
  // learn its status.
  struct sigaction default_action {}, previous_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(SIGCHLD, &default_action, &previous_action);

  const pid_t pid = ::fork();
  if (pid == 0) exec_child(path, arguments.data(), output[1], error_report[1], merge_stderr);
  const int fork_error = errno;
  ::close(output[1]);
  ::close(error_report[1]);
  if (pid < 0) {
    ::close(output[0]);
    ::close(error_report[0]);
    ::sigaction(SIGCHLD, &previous_action, nullptr);
    errno = fork_error;
    return nullptr;
  }

  int exec_error = 0;
  ssize_t got;
  do {
    got = ::read(error_report[0], &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  ::close(error_report[0]);
  if (got > 0) {
    ::close(output[0]);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::sigaction(SIGCHLD, &previous_action, nullptr);
    errno = exec_error;
    return nullptr;
  }

  std::FILE* stream = ::fdopen(output[0], "r");
  if (stream == nullptr) {
    ::close(output[0]);
    ::kill(pid, SIGTERM);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return nullptr;
  }
  children()[output[0]] = pid;
  return stream;
}

int close_command(std::FILE* stream) {
  if (stream == nullptr) return -1;
  auto& table = children();
  const auto found = table.find(::fileno(stream));
  if (found == table.end()) return -1;
  const pid_t pid = found->second;
  table.erase(found);
  std::fclose(stream);

  sigset_t interrupting, previous;
  sigemptyset(&interrupting);
  sigaddset(&interrupting, SIGINT);
  sigaddset(&interrupting, SIGQUIT);
  sigaddset(&interrupting, SIGHUP);
  sigprocmask(SIG_BLOCK, &interrupting, &previous);
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (reaped != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool read_output_line(std::FILE* stream, std::string& line, std::size_t limit) {
  line.clear();
  for (;;) {
    const int c = std::fgetc(stream);
    if (c == '\n') return true;
    if (c != EOF) {
      if (line.size() < limit) line.push_back(static_cast<char>(c));
      continue;
    }
    // A signal may interrupt the pipe read; the line continues after it.
    if (std::ferror(stream) && errno == EINTR) {
      std::clearerr(stream);
      continue;
    }
    return !line.empty();
  }
}

}  // namespace text
