// The stand-in guard and its undo at session end.
#include "core/stand_in_user.h"

#include "core/session.h"

namespace core {
namespace {

// The innermost active guard; each keeps the state its outer one left.
StandInUser* innermost = nullptr;

}  // namespace

StandInUser::StandInUser(const UserRecord& stand_in)
    : own_(session().user),
      own_section_(session().current_section),
      own_credit_section_(session().shown_credit_section),
      outer_(innermost) {
  innermost = this;
  session().user = stand_in;
}

StandInUser::~StandInUser() { undo(); }

void StandInUser::undo() {
  if (!active_) return;
  active_ = false;
  Session& s = session();
  s.user = own_;
  s.current_section = own_section_;
  s.shown_credit_section = own_credit_section_;
  innermost = outer_;
}

void restore_own_user() {
  // Undoing from the innermost guard outwards leaves the outermost guard's
  // saved state: the session's own.
  while (innermost != nullptr) innermost->undo();
}

}  // namespace core
