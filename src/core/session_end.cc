#include "core/session_end.h"

#include <unistd.h>

#include "core/stand_in_user.h"

namespace core {
namespace {

SessionEnder installed_ender = nullptr;

}  // namespace

void set_session_ender(SessionEnder ender) { installed_ender = ender; }

void end_session(int status) {
  restore_own_user();
  if (installed_ender != nullptr) installed_ender(status);
  ::_exit(session_exit_code(status));
}

}  // namespace core
