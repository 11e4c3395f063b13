// Signal blocking and the effective-uid-0 bracket around privileged work.
#include "core/privilege.h"

#include <unistd.h>

#include "core/file_io.h"

namespace core {

sigset_t& handled_signals() {
  static sigset_t set = [] {
    sigset_t s;
    sigemptyset(&s);
    return s;
  }();
  return set;
}

SignalBlock::SignalBlock() { sigprocmask(SIG_BLOCK, &handled_signals(), &previous_); }

SignalBlock::~SignalBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

namespace {
// Brackets open in this process; only the outermost one switches.
int open_brackets = 0;
}  // namespace

PrivilegeBracket::PrivilegeBracket() : outermost_(open_brackets++ == 0) {
  if (!outermost_) return;
  signals_.emplace();
  saved_euid_ = geteuid();
  // Without root (a test run) the work inside fails on its own and says so.
  if (saved_euid_ != 0) ignore_failure(::seteuid(0));
}

PrivilegeBracket::~PrivilegeBracket() {
  --open_brackets;
  if (!outermost_) return;
  // A session must never go on with root rights it was not meant to keep.
  if (saved_euid_ != 0 && ::seteuid(saved_euid_) != 0) ::_exit(1);
  // The signals are unblocked when signals_ ends, after the uid is back.
}

}  // namespace core
