// A program for the external-program tests, linked statically so it also
// runs inside a changed root. What it does is chosen by the name it is
// started under (argument 0):
//   report    prints its arguments, ids, groups, open descriptors, the
//             SIGPIPE action and the signal mask, one "key value" a line
//   exit7     exits with status 7
//   segv      ends by SIGSEGV
//   hold      leaves a process that keeps standard output open for 30 s,
//             prints "x <its pid>" and exits
//   sleeper   prints "pid <pid>" and sleeps
//   stubborn  as sleeper, ignoring SIGTERM
//   noisy     writes "err" to standard error and "out" to standard output
#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void report(int argc, char** argv) {
  std::printf("args");
  for (int i = 0; i < argc; ++i) std::printf("%s%s", i == 0 ? " " : "|", argv[i]);
  std::printf("\n");
  uid_t ru, eu, su;
  gid_t rg, eg, sg;
  getresuid(&ru, &eu, &su);
  getresgid(&rg, &eg, &sg);
  std::printf("uid %u %u %u\ngid %u %u %u\n", ru, eu, su, rg, eg, sg);
  std::printf("groups %d\n", getgroups(0, nullptr));
  std::printf("fds");
  if (DIR* dir = opendir("/proc/self/fd")) {
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
      std::printf(" %s", entry->d_name);
    }
    closedir(dir);
  }
  std::printf("\n");
  struct sigaction action {};
  sigaction(SIGPIPE, nullptr, &action);
  std::printf("sigpipe %s\n", action.sa_handler == SIG_DFL ? "default" : "changed");
  sigset_t mask;
  sigprocmask(SIG_SETMASK, nullptr, &mask);
  bool empty = true;
  for (int sig = 1; sig < NSIG; ++sig)
    if (sigismember(&mask, sig) == 1) empty = false;
  std::printf("mask %s\n", empty ? "empty" : "blocked");
}

void print_pid_and_sleep() {
  std::printf("pid %d\n", static_cast<int>(getpid()));
  std::fflush(stdout);
  for (int i = 0; i < 1000; ++i) sleep(1);
}

}  // namespace

int main(int argc, char** argv) {
  const char* slash = std::strrchr(argv[0], '/');
  const char* mode = slash ? slash + 1 : argv[0];
  if (std::strcmp(mode, "exit7") == 0) return 7;
  if (std::strcmp(mode, "segv") == 0) {
    kill(getpid(), SIGSEGV);
    return 0;
  }
  if (std::strcmp(mode, "hold") == 0) {
    const pid_t left = fork();
    if (left == 0) {
      sleep(30);
      _exit(0);
    }
    std::printf("x %d\n", static_cast<int>(left));
    return 0;
  }
  if (std::strcmp(mode, "sleeper") == 0) print_pid_and_sleep();
  if (std::strcmp(mode, "stubborn") == 0) {
    signal(SIGTERM, SIG_IGN);
    print_pid_and_sleep();
  }
  if (std::strcmp(mode, "noisy") == 0) {
    std::fputs("err\n", stderr);
    std::fflush(stderr);
    std::puts("out");
    return 0;
  }
  report(argc, argv);
  return 0;
}
