#include "core/own_pid.h"

#include <pthread.h>
#include <unistd.h>

namespace core {
namespace {

pid_t remembered = 0;

void forget_in_child() { remembered = 0; }

}  // namespace

pid_t own_pid() {
  if (remembered == 0) {
    static const bool forgotten_at_fork = pthread_atfork(nullptr, nullptr, forget_in_child) == 0;
    (void)forgotten_at_fork;
    remembered = ::getpid();
  }
  return remembered;
}

}  // namespace core
