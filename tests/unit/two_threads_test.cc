// The loop shared with a helper thread takes every step exactly once.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "core/two_threads.h"

namespace {

TEST(TwoThreads, EveryStepRunsOnceAtEveryCount) {
  for (std::size_t count : {0u, 1u, 63u, 64u, 65u, 129u, 5000u}) {
    for (std::size_t least_for_helper : {1u, 1000000u}) {
      std::vector<int> runs(count, 0);
      core::for_each_in_two_threads(count, least_for_helper, [&](std::size_t i) { ++runs[i]; });
      EXPECT_EQ(runs, std::vector<int>(count, 1)) << count << " steps, helper from " << least_for_helper;
    }
  }
}

}  // namespace
