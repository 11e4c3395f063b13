// Name and path pattern matching, pattern and name both fuzzed: the input
// is the pattern, a "----" line and the name.
#include <string>

#include "core/match.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzz::split_input(std::string_view(reinterpret_cast<const char*>(data), size), 2);
  // Configuration words are C strings: both sides end at a zero byte there.
  const std::string pattern(parts[0]);
  const std::string name(parts[1]);
  // name_match expands the braces of the pattern, up to its own limit.
  core::name_match(name, pattern);
  if (name.find('\0') != std::string::npos || pattern.find('\0') != std::string::npos)
    core::name_match(name.c_str(), pattern.c_str());
  core::wildcard_match(pattern, name, true);
  core::wildcard_match(pattern, name, false);
  core::dir_match(pattern, name, true);
  core::any_match(pattern, name);
  return 0;
}
