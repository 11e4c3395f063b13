// The "!" colour codes of reply text: translated to ANSI escape sequences
// for a session with colour on, removed for everyone else.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace text {

// The longest text one reply line may carry after translation; characters
// and sequences that would pass it are dropped.
inline constexpr std::size_t kColourLineLimit = 8191;

// The escape sequence (without the leading ESC) that colour code `code`
// stands for, or an empty view when `code` is no colour code.
std::string_view colour_sequence(char code);

// Translates the "!" codes of `line`: with `colour` on every code becomes
// ESC plus its sequence, with it off every code is removed. "!!" always
// gives one "!"; any other "!" stays as it is.
std::string translate_colours(std::string_view line, bool colour);

// Removes every colour code ("!!" still gives "!").
inline std::string strip_colours(std::string_view line) { return translate_colours(line, false); }

// The reply layer's output filter: writes `line` translated according to
// the session's colour mode.
void colour_filter(std::FILE* out, std::string_view line);

// Makes colour_filter the filter of every reply line.
void install_colour_filter();

}  // namespace text
