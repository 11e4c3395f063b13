// This process's id, asked of the kernel once per process: booking a
// transfer names it a dozen times (lock text, lock seed, staged files), and
// on a virtual machine every system call is a trap.
#pragma once

#include <sys/types.h>

namespace core {

// getpid(), remembered; a child made by fork asks again.
pid_t own_pid();

}  // namespace core
