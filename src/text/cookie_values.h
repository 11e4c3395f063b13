// The values behind the cookie names of text files and templates: the
// top-level cookies, the user cookies (I and one more letter) and the
// listing cookies that read the shared display fields.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <string>
#include <string_view>

#include "core/format.h"

namespace text {

struct CookieValue {
  enum class Kind {
    None,           // the name stands for nothing: nothing is written
    UnknownMember,  // a listing or user family with an undefined second letter
    Integer,
    Floating,
    Text,
  };
  Kind kind = Kind::None;
  long long integer = 0;
  double floating = 0;
  std::string text;

  static CookieValue of_integer(long long v) { return {Kind::Integer, v, 0, {}}; }
  static CookieValue of_floating(double v) { return {Kind::Floating, 0, v, {}}; }
  static CookieValue of_text(std::string v) { return {Kind::Text, 0, 0, std::move(v)}; }
  static CookieValue unknown_member() { return {Kind::UnknownMember, 0, 0, {}}; }

  // Only meaningful for Integer, Floating and Text; the view borrows `text`.
  core::FormatArg argument() const;
};

// Letters of the cookie name that starts `letters` (1 or 2; 0 for an empty
// text): families take their member letter, "B" takes an "o" after it.
std::size_t cookie_name_length(std::string_view letters);

// The value of cookie `name` for the session user. `file_status` is the
// text file being shown (the D cookie), or nullptr.
CookieValue cookie_value(std::string_view name, const struct stat* file_status);

// Tests on the session user shared by conditions and text-file directives.

// Whether the user has any of the flag letters in `letters`.
bool user_has_any_flag(std::string_view letters);
// Whether `group` is one of the user's groups or private groups.
bool user_in_group(std::string_view group);

// Text helpers shared with the listings that fill display fields.

// Runs of white space become one blank; the ends are trimmed.
std::string collapse_white_space(std::string_view text);
// ctime of `t` with its white space collapsed.
std::string ctime_text(time_t t);
// "%02d:%02d:%02d", or three blanks and "%02d:%02d" under one hour.
std::string clock_text(long long seconds);
// "%d day%s, %d hour%s, %d minute%s", shortened while the leading units
// are 0.
std::string since_text(long long seconds);
// The user's ratio in `section` as shown by the Ir cookie before the
// creditcheck lines apply: -1 stands for section 0's ratio.
int effective_ratio(int section);

}  // namespace text
