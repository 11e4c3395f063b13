// The argument text of a SITE command taken apart at blanks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace site {

// The words of `text`; runs of blanks and tabs separate words and never
// make empty ones.
inline std::vector<std::string> argument_words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t", at)) != std::string_view::npos) {
    const std::size_t end = text.find_first_of(" \t", at);
    words.emplace_back(text.substr(at, end - at));
    if (end == std::string_view::npos) break;
    at = end;
  }
  return words;
}

}  // namespace site
