// A loop shared with one helper thread: for long runs of independent system
// calls (the status of every entry of a large directory) whose caller would
// otherwise leave the machine's other processors idle.
#pragma once

#include <cstddef>
#include <functional>

namespace core {

// Runs `step(i)` once for every i below `count`, in no particular order.
// From `least_for_helper` steps on, and when the process may run on more
// than one processor, a helper thread takes steps too; it ends before this
// returns. Steps must touch only their own data. The helper blocks every
// signal, so handlers keep running in the calling thread. When no helper
// can be started the caller takes every step itself.
void for_each_in_two_threads(std::size_t count, std::size_t least_for_helper,
                             const std::function<void(std::size_t)>& step);

}  // namespace core
