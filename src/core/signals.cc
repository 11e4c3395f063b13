// The start-up signal handlers.
#include "core/signals.h"

#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include "core/privilege.h"
#include "core/session.h"
#include "core/session_end.h"

namespace core {

volatile sig_atomic_t urgent_data_pending = 0;
volatile sig_atomic_t termination_requested = 0;

namespace {

// Signals that ask the session to end. Their handler only records the
// request and wakes the command reader; the session then ends through
// end_session at a known point, never from inside the handler.
constexpr int kTerminationSignals[] = {
    SIGHUP,  SIGTERM, SIGINT,  SIGQUIT, SIGALRM, SIGTSTP, SIGTTIN, SIGTTOU, SIGIO,
    SIGXCPU, SIGXFSZ, SIGWINCH, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2, SIGPIPE,
};

// Synchronous faults cannot just set a flag (the faulting instruction would
// run again), and the state they leave is not to be trusted with a userfile
// save: the process leaves at once. A dead owner's online slot is reused by
// the next process that attaches.
constexpr int kFaultSignals[] = {SIGILL, SIGTRAP, SIGABRT, SIGFPE, SIGBUS, SIGSEGV, SIGSYS};

void termination_handler(int) {
  termination_requested = 1;
  // A read blocked on the control connection returns at once.
  ::shutdown(0, SHUT_RD);
}

void fault_handler(int) { ::_exit(1); }

void urgent_data_handler(int) { urgent_data_pending = 1; }

bool install(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_mask = handled_signals();
  action.sa_flags = 0;  // no SA_RESTART: blocked reads must see EINTR
  return sigaction(signal_number, &action, nullptr) == 0;
}

}  // namespace

void end_session_if_requested() {
  if (!termination_requested) return;
  if (::chdir("/") != 0) {
    // Nothing to do: the process is ending anyway.
  }
  ::signal(SIGABRT, SIG_DFL);
  ::signal(SIGILL, SIG_DFL);
  session().session_lost = 1;
  end_session(-1);
}

void install_signal_handlers() {
  sigset_t& handled = handled_signals();
  sigemptyset(&handled);
  for (int signal_number : kTerminationSignals) sigaddset(&handled, signal_number);
  for (int signal_number : kFaultSignals) sigaddset(&handled, signal_number);
  sigaddset(&handled, SIGURG);

  for (int signal_number : kTerminationSignals) install(signal_number, termination_handler);
  for (int signal_number : kFaultSignals) install(signal_number, fault_handler);
  // Ignoring SIGCHLD outright (SIG_IGN) would make the kernel reap external
  // programs at once, and their exit status (which decides whether a
  // pre-command script refuses a command) would be lost to waitpid. The
  // default disposition discards the signal just the same.
  ::signal(SIGCHLD, SIG_DFL);
  if (!install(SIGURG, urgent_data_handler)) syslog(LOG_ERR, "signal: %m");
}

}  // namespace core
