// The start-up signal handlers.
#include "session/signals.h"

#include <syslog.h>
#include <unistd.h>

#include "session/logout.h"
#include "session/privilege.h"
#include "session/session.h"

namespace session {

volatile sig_atomic_t urgent_data_pending = 0;

namespace {

// Signals that end the session. The synchronous faults among them
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE) cannot just set a flag: the faulting
// instruction would run again.
constexpr int kFatalSignals[] = {
    SIGHUP,  SIGTERM, SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGFPE,
    SIGBUS,  SIGSEGV, SIGSYS,  SIGALRM, SIGTSTP, SIGTTIN,   SIGTTOU, SIGIO,
    SIGXCPU, SIGXFSZ, SIGWINCH, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2,
};

void fatal_signal_handler(int) { end_session_on_fatal_signal(); }

void broken_pipe_handler(int) {
  session().session_lost = 1;
  dologout(-1);
}

void urgent_data_handler(int) { urgent_data_pending = 1; }

bool install(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  // While one handler ends the session, no other handled signal may cut in.
  action.sa_mask = handled_signals();
  action.sa_flags = 0;  // no SA_RESTART: blocked reads must see EINTR
  return sigaction(signal_number, &action, nullptr) == 0;
}

}  // namespace

void end_session_on_fatal_signal() {
  if (::chdir("/") != 0) {
    // Nothing to do: the process is ending anyway.
  }
  ::signal(SIGABRT, SIG_DFL);
  ::signal(SIGILL, SIG_DFL);
  session().session_lost = 1;
  dologout(-1);
}

void install_signal_handlers() {
  sigset_t& handled = handled_signals();
  sigemptyset(&handled);
  for (int signal_number : kFatalSignals) sigaddset(&handled, signal_number);
  sigaddset(&handled, SIGPIPE);
  sigaddset(&handled, SIGURG);

  for (int signal_number : kFatalSignals) install(signal_number, fatal_signal_handler);
  install(SIGPIPE, broken_pipe_handler);
  // Ignoring SIGCHLD outright (SIG_IGN) would make the kernel reap external
  // programs at once, and their exit status (which decides whether a
  // pre-command script refuses a command) would be lost to waitpid. The
  // default disposition discards the signal just the same.
  ::signal(SIGCHLD, SIG_DFL);
  if (!install(SIGURG, urgent_data_handler)) syslog(LOG_ERR, "signal: %m");
}

}  // namespace session
