// The loop shared with a helper thread.
#include "core/two_threads.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <csignal>

namespace core {
namespace {

// Steps are handed out in batches, so the two threads seldom meet on the
// counter, and a thread that is not scheduled leaves the rest to the other.
constexpr std::size_t kBatch = 64;

struct SharedLoop {
  std::size_t count;
  const std::function<void(std::size_t)>* step;
  std::atomic<std::size_t> next{0};

  void run() {
    for (;;) {
      const std::size_t first = next.fetch_add(kBatch, std::memory_order_relaxed);
      if (first >= count) return;
      const std::size_t end = first + kBatch < count ? first + kBatch : count;
      for (std::size_t i = first; i < end; ++i) (*step)(i);
    }
  }
};

void* run_helper(void* loop) {
  static_cast<SharedLoop*>(loop)->run();
  return nullptr;
}

bool more_than_one_processor() {
  cpu_set_t allowed;
  return ::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 1;
}

}  // namespace

void for_each_in_two_threads(std::size_t count, std::size_t least_for_helper,
                             const std::function<void(std::size_t)>& step) {
  SharedLoop loop{count, &step};
  if (count < least_for_helper || !more_than_one_processor()) {
    loop.run();
    return;
  }
  // The helper inherits this mask: every signal blocked.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_t helper;
  const bool started = ::pthread_create(&helper, nullptr, run_helper, &loop) == 0;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  loop.run();
  if (started) ::pthread_join(helper, nullptr);
}

}  // namespace core
