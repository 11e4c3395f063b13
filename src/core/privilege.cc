// Signal blocking and the effective-uid-0 bracket around privileged work.
#include "core/privilege.h"

#include <unistd.h>

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

PrivilegeBracket::PrivilegeBracket() : saved_euid_(geteuid()) {
  if (saved_euid_ != 0) (void)seteuid(0);
}

PrivilegeBracket::~PrivilegeBracket() {
  if (saved_euid_ != 0) (void)seteuid(saved_euid_);
}

}  // namespace core
