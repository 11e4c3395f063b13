// The amount word of SITE GIVE and TAKE.
#pragma once

#include <cstddef>
#include <string_view>

namespace site {

// An amount in KiB, 0 to 2147483647, read with base detection: a leading 0
// makes the word octal, so 010 is 8. `refusal` is the strings record of a
// word that is no amount: 443 when it holds anything but digits (or an 8 or
// 9 in an octal word), 444 when it is longer than `kept_length` or its value
// is too large. Nothing is ever cut off.
struct CreditAmount {
  long long value = 0;
  int refusal = 0;
};
CreditAmount parse_credit_amount(std::string_view word, std::size_t kept_length);

}  // namespace site
