// printf-compatible formatting over typed arguments. Format strings come
// from site data (the strings file, text templates), so a conversion that
// does not fit its argument must never crash or read past the arguments:
// every argument carries its kind, and each conversion converts safely.
#pragma once

#include <concepts>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace core {

struct FormatArg {
  enum class Kind { Integer, Unsigned, Floating, Text };
  Kind kind;
  long long integer = 0;
  unsigned long long unsigned_integer = 0;
  double floating = 0;
  std::string_view text;

  template <std::signed_integral T>
  FormatArg(T v) : kind(Kind::Integer), integer(v) {}
  template <std::unsigned_integral T>
  FormatArg(T v) : kind(Kind::Unsigned), unsigned_integer(v) {}
  FormatArg(bool v) : kind(Kind::Integer), integer(v ? 1 : 0) {}
  FormatArg(char c) : kind(Kind::Integer), integer(static_cast<unsigned char>(c)) {}
  FormatArg(double v) : kind(Kind::Floating), floating(v) {}
  FormatArg(float v) : kind(Kind::Floating), floating(v) {}
  FormatArg(const char* s) : kind(Kind::Text), text(s ? s : "(null)") {}
  FormatArg(std::string_view s) : kind(Kind::Text), text(s) {}
  FormatArg(const std::string& s) : kind(Kind::Text), text(s) {}
};

// Formats `format` with printf rules. Missing arguments format as 0 or the
// empty text; a conversion of another kind than its argument converts the
// argument (a number under %s prints its digits, a text under %d its
// leading number). The result is cut to `limit` bytes.
std::string format(std::string_view format, std::span<const FormatArg> args,
                   std::size_t limit = 8191);

inline std::string format(std::string_view fmt, std::initializer_list<FormatArg> args,
                          std::size_t limit = 8191) {
  return format(fmt, std::span<const FormatArg>(args.begin(), args.size()), limit);
}

// The arguments `format` takes, one letter each in order: 's' text, 'd'
// integer (d i u o x X and every '*'), 'f' floating point, 'c' character.
// Lets a site's texts be checked against the arguments the server passes.
std::string format_argument_kinds(std::string_view format);

}  // namespace core
