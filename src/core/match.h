// The four name matchers of the server and the glob expander. Which matcher
// a rule uses is part of that rule's behaviour, so a caller picks one by what
// it compares, never by convenience.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace core {

// Text handed to a matcher. Configuration words come as C strings and an
// absent one is a null pointer: it reads as empty text, and as a pattern it
// matches nothing (a rule line missing its pattern must not grant anything).
struct MatchText : std::string_view {
  bool missing = false;
  MatchText(const char* s) : std::string_view(s ? s : ""), missing(s == nullptr) {}
  MatchText(std::string_view s) : std::string_view(s) {}
  MatchText(const std::string& s) : std::string_view(s) {}
};

// Outcome of glob_expand: the names in order, or a glob_error text.
struct GlobResult {
  std::vector<std::string> names;
  const char* glob_error = nullptr;  // nullptr on success
};

// LIST/NLST arguments: expands braces, then reads the directories the word
// names and keeps the entries name_match accepts. A word without magic
// characters comes back unchanged; no match at all is an empty list, not an
// error. "Out of memory" in glob_error is fatal for the session.
GlobResult glob_expand(std::string_view word);

// File names in configuration lists (freefile, ascii_downloads,
// hidden_files, ignore_type, xdupe, calc_crc name patterns, SITE UNDUPE):
// shell-style, '*' may try every split, [set] with ranges, {a,b}; a name
// beginning with '.' needs a pattern beginning with '.'.
bool name_match(MatchText name, MatchText pattern);

// Path patterns in configuration lines (the path rules, creditloss,
// creditcheck, nodupecheck, pre_check, pre_dir_check; case-insensitive for
// speed_limit and SITE UPDATE): '*' stops at the first character that can
// follow it and never goes back, only the five-character range [x-y] is
// understood, and a '*' at the start of the text takes its first character
// and refuses a leading dot.
bool wildcard_match(MatchText pattern, MatchText text, bool case_sensitive);

// Directory patterns (creditcheck during NUKE/UNNUKE, msgpath,
// show_totals): wildcard_match against the path with a '/' appended when it
// lacks one, so "/site/*/" matches the directory "/site/x" itself.
bool dir_match(MatchText pattern, MatchText path, bool case_sensitive);

// stat_section paths: the list is split at each "[:and:]" and any part
// matching the text case-insensitively with wildcard_match is enough.
bool any_match(MatchText pattern_list, MatchText text);

// The brace alternatives of a pattern ("a{b,c}d" gives "abd" and "acd"),
// nested ones included; a lone "{" or "{}" and an unbalanced brace stay
// literal. Returns false when the alternatives would exceed `limit`.
bool expand_braces(std::string_view pattern, std::vector<std::string>& out, std::size_t limit);

}  // namespace core
