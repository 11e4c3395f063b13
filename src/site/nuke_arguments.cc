// Taking NUKE and UNNUKE arguments apart; the marker name.
#include "site/nuke_arguments.h"

#include <cstring>

#include "site/argument_words.h"

namespace site {
namespace {

// Far beyond the largest multiplier; longer numbers stop growing here.
constexpr long long kMultiplierCeiling = 1'000'000'000;

std::string joined(const std::vector<std::string>& words, std::size_t first) {
  std::string text;
  for (std::size_t i = first; i < words.size(); ++i) {
    if (!text.empty()) text += ' ';
    text += words[i];
  }
  return text;
}

}  // namespace

NukeArguments parse_nuke_arguments(std::string_view text, bool with_multiplier) {
  NukeArguments parsed;
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return parsed;
  text.remove_prefix(start);

  std::string_view rest;
  if (text.front() == '{') {
    const std::size_t close = text.find('}');
    if (close == std::string_view::npos) return parsed;
    parsed.directory = std::string(text.substr(1, std::min(close - 1, kMaxBracedDirectory)));
    rest = text.substr(close + 1);
  } else {
    const std::size_t end = text.find_first_of(" \t");
    parsed.directory = std::string(text.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : text.substr(end);
  }

  const std::vector<std::string> words = argument_words(rest);
  std::size_t first_reason_word = 0;
  if (with_multiplier && !words.empty()) {
    parsed.multiplier = words[0];
    first_reason_word = 1;
  }
  parsed.reason = joined(words, first_reason_word);
  return parsed;
}

std::optional<long long> parse_multiplier(std::string_view word) {
  bool negative = false;
  if (!word.empty() && (word.front() == '-' || word.front() == '+')) {
    negative = word.front() == '-';
    word.remove_prefix(1);
  }
  if (word.empty()) return std::nullopt;
  long long value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value < kMultiplierCeiling) value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

std::string marker_reason(std::string_view reason) {
  std::string text(reason);
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || std::strchr("*/;<>[]{}", c) != nullptr) c = '_';
  }
  return text;
}

std::string marker_name(long long multiplier, std::string_view nuker, std::string_view reason) {
  std::string name = "NUKED " + std::to_string(multiplier) + "x by ";
  name.append(nuker);
  name += " - ";
  name += marker_reason(reason);
  return name;
}

std::optional<long long> marker_multiplier(std::string_view name) {
  constexpr std::string_view kStart = "NUKED ";
  constexpr std::string_view kAfterDigits = "x by ";
  if (!name.starts_with(kStart)) return std::nullopt;
  name.remove_prefix(kStart.size());
  std::size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
  if (digits == 0 || !name.substr(digits).starts_with(kAfterDigits)) return std::nullopt;
  return parse_multiplier(name.substr(0, digits));
}

}  // namespace site
