// Signal blocking and the effective-uid-0 bracket around privileged work.
#include "core/privilege.h"

#include <unistd.h>

#include "core/file_io.h"

namespace core {
namespace {
// The effective uid as last set; unknown until asked or set.
constexpr uid_t kUnknownUid = static_cast<uid_t>(-1);
uid_t known_euid = kUnknownUid;
}  // namespace

uid_t effective_uid() {
  if (known_euid == kUnknownUid) known_euid = ::geteuid();
  return known_euid;
}

bool set_effective_uid(uid_t uid) {
  if (::seteuid(uid) == 0) {
    known_euid = uid;
    return true;
  }
  known_euid = kUnknownUid;
  return false;
}

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
  saved_euid_ = effective_uid();
  // Without root (a test run) the work inside fails on its own and says so.
  if (saved_euid_ != 0) set_effective_uid(0);
}

PrivilegeBracket::~PrivilegeBracket() {
  --open_brackets;
  if (!outermost_) return;
  // A session must never go on with root rights it was not meant to keep.
  if (saved_euid_ != 0 && !set_effective_uid(saved_euid_)) ::_exit(1);
  // The signals are unblocked when signals_ ends, after the uid is back.
}

}  // namespace core
