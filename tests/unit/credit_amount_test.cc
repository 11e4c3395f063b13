// The amount word of GIVE and TAKE: base detection, and words that are
// refused rather than cut.
#include <gtest/gtest.h>

#include "site/credit_amount.h"

namespace {

struct Case {
  const char* word;
  std::size_t kept;
  long long value;
  int refusal;
};

class CreditAmount : public ::testing::TestWithParam<Case> {};

TEST_P(CreditAmount, ReadsOrRefuses) {
  const Case& c = GetParam();
  const site::CreditAmount amount = site::parse_credit_amount(c.word, c.kept);
  EXPECT_EQ(amount.refusal, c.refusal) << c.word;
  if (c.refusal == 0) {
    EXPECT_EQ(amount.value, c.value) << c.word;
  }
}

INSTANTIATE_TEST_SUITE_P(Words, CreditAmount, ::testing::Values(
    Case{"0", 15, 0, 0}, Case{"100", 15, 100, 0}, Case{"010", 15, 8, 0},
    Case{"2147483647", 10, 2147483647, 0}, Case{"017777777777", 15, 2147483647, 0},
    Case{"08", 15, 0, 443}, Case{"019", 15, 0, 443}, Case{"1a", 15, 0, 443}, Case{"-1", 15, 0, 443},
    Case{"2147483648", 15, 0, 444}, Case{"020000000000", 15, 0, 444},
    Case{"0000000000000001", 15, 0, 444}, Case{"00000000001", 10, 0, 444}));

}  // namespace
