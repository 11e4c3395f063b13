// The arguments of SITE NUKE ("dir multiplier reason") and SITE UNNUKE
// ("dir reason"), taken apart without looking at the disk, and the name of
// the marker directory that carries a nuke's multiplier and reason.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace site {

// A directory name in braces may hold blanks; it is cut off at this length.
inline constexpr std::size_t kMaxBracedDirectory = 4096;

struct NukeArguments {
  std::string directory;  // empty: none was given
  std::optional<std::string> multiplier;  // NUKE's second word
  std::string reason;     // the remaining words joined by single blanks
};

// The directory is the text between '{' and '}' when the arguments begin
// with '{' (so "dupe of {Other}" in a reason names nothing); otherwise the
// first word. A '{' without its '}' gives no directory. NUKE
// (`with_multiplier`) then takes the multiplier word.
NukeArguments parse_nuke_arguments(std::string_view text, bool with_multiplier);

// A nuke multiplier word: a decimal number with an optional sign. Nothing
// when it is not one; numbers too large for any multiplier come back
// clamped to a value outside 0..65535, so range checks still refuse them.
std::optional<long long> parse_multiplier(std::string_view word);

// The reason as the marker directory's name carries it: control
// characters and * / ; < > [ ] { } become '_'.
std::string marker_reason(std::string_view reason);

// The marker directory a nuke leaves in a renamed release:
// "NUKED <multiplier>x by <nuker> - <reason>", the reason as marker_reason.
std::string marker_name(long long multiplier, std::string_view nuker, std::string_view reason);

// The multiplier a marker name states, or nothing when `name` is not of
// the form "NUKED <digits>x by ...".
std::optional<long long> marker_multiplier(std::string_view name);

}  // namespace site
