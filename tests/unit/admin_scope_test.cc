// The names a new account may take.
#include <gtest/gtest.h>

#include <string>

#include "site/admin_scope.h"

namespace {

struct NameCase {
  std::string name;
  bool valid;
};

class NewUserName : public ::testing::TestWithParam<NameCase> {};

TEST_P(NewUserName, FollowsTheCharacterAndReservedNameRules) {
  EXPECT_EQ(site::valid_new_user_name(GetParam().name), GetParam().valid) << '"' << GetParam().name << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Names, NewUserName,
    ::testing::Values(NameCase{"bob", true}, NameCase{"x", true}, NameCase{std::string(23, 'a'), true},
                      NameCase{"b.o-b_[1]", true}, NameCase{"lockbox", true}, NameCase{"my.default.x", true},
                      NameCase{"", false}, NameCase{std::string(24, 'a'), false}, NameCase{".", false},
                      NameCase{"..", false}, NameCase{"x.lock", false}, NameCase{"default.x", false},
                      NameCase{"default.", false}, NameCase{"bo b", false}, NameCase{"bo/b", false},
                      NameCase{"bo:b", false}, NameCase{"bo\tb", false}, NameCase{"bob\n", false},
                      NameCase{"b\x7f", false}, NameCase{"b\xe9", false},
                      NameCase{"bob.1234", false}, NameCase{"bob.", true}, NameCase{"bob.1x", true}));

}  // namespace
