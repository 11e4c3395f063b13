// Reading the amount of a credit transfer.
#include "site/credit_amount.h"

#include <cstdint>

namespace site {
namespace {

constexpr int kNotANumber = 443;
constexpr int kOutOfRange = 444;

}  // namespace

CreditAmount parse_credit_amount(std::string_view word, std::size_t kept_length) {
  CreditAmount amount;
  if (word.empty() || word.find_first_not_of("0123456789") != std::string_view::npos) {
    amount.refusal = kNotANumber;
    return amount;
  }
  if (word.size() > kept_length) {
    amount.refusal = kOutOfRange;
    return amount;
  }
  const bool octal = word.size() > 1 && word.front() == '0';
  if (octal && word.find_first_of("89") != std::string_view::npos) {
    amount.refusal = kNotANumber;
    return amount;
  }
  const long long base = octal ? 8 : 10;
  for (const char digit : word) {
    amount.value = amount.value * base + (digit - '0');
    if (amount.value > INT32_MAX) {
      amount.refusal = kOutOfRange;
      amount.value = 0;
      return amount;
    }
  }
  return amount;
}

}  // namespace site
