// The privilege bracket: privileged work (writing logs, userfiles and
// databases, changing owners) runs with the handled signals blocked and the
// effective uid 0, and both are restored when the bracket ends.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <optional>

namespace core {

// The effective uid. Every change of it in this process goes through
// set_effective_uid, which remembers it, so asking costs no system call
// (every privilege bracket asks).
uid_t effective_uid();
// seteuid(2); false with errno.
bool set_effective_uid(uid_t uid);

// The set of signals the server installs handlers for (start-up fills it).
sigset_t& handled_signals();

// Blocks the handled signals; only the call that actually blocked them
// unblocks them, so nested brackets are harmless.
class SignalBlock {
 public:
  SignalBlock();
  ~SignalBlock();
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t previous_;
};

// Blocks the handled signals and switches to effective uid 0; restores the
// previous effective uid and signal mask on scope exit. A bracket opened
// inside another costs nothing: the outermost one does the switching, so
// a caller may put one bracket around a run of privileged steps.
class PrivilegeBracket {
 public:
  PrivilegeBracket();
  ~PrivilegeBracket();
  PrivilegeBracket(const PrivilegeBracket&) = delete;
  PrivilegeBracket& operator=(const PrivilegeBracket&) = delete;

 private:
  bool outermost_;
  std::optional<SignalBlock> signals_;  // the outermost bracket's only
  uid_t saved_euid_ = 0;
};

}  // namespace core
