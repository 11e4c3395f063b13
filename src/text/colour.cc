// Translation of "!" colour codes in reply lines into ANSI escapes.
#include "text/colour.h"

#include "core/reply.h"
#include "core/session.h"

namespace text {
namespace {

struct ColourCode {
  char code;
  std::string_view sequence;
};

// Plain colours in lower case, bold in upper case, blinking in K-S and k-s,
// backgrounds in the digits. Q and q are not codes.
constexpr ColourCode kColourCodes[] = {
    {'0', "[0m"},      {'1', "[40m"},     {'2', "[41m"},     {'3', "[42m"},
    {'4', "[43m"},     {'5', "[44m"},     {'6', "[45m"},     {'7', "[46m"},
    {'8', "[47m"},
    {'A', "[1;30m"},   {'B', "[1;31m"},   {'C', "[1;32m"},   {'D', "[1;33m"},
    {'E', "[1;34m"},   {'F', "[1;35m"},   {'G', "[1;36m"},   {'H', "[1;37m"},
    {'Z', "[1m"},
    {'K', "[5;1;30m"}, {'L', "[5;1;31m"}, {'M', "[5;1;32m"}, {'N', "[5;1;33m"},
    {'O', "[5;1;34m"}, {'P', "[5;1;35m"}, {'R', "[5;1;36m"}, {'S', "[5;1;37m"},
    {'a', "[30m"},     {'b', "[31m"},     {'c', "[32m"},     {'d', "[33m"},
    {'e', "[34m"},     {'f', "[35m"},     {'g', "[36m"},     {'h', "[37m"},
    {'k', "[5;30m"},   {'l', "[5;31m"},   {'m', "[5;32m"},   {'n', "[5;33m"},
    {'o', "[5;34m"},   {'p', "[5;35m"},   {'r', "[5;36m"},   {'s', "[5;37m"},
};

constexpr char kEscape = 27;

}  // namespace

std::string_view colour_sequence(char code) {
  for (const ColourCode& entry : kColourCodes)
    if (entry.code == code) return entry.sequence;
  return {};
}

std::string translate_colours(std::string_view line, bool colour) {
  std::string out;
  out.reserve(line.size() < kColourLineLimit ? line.size() : kColourLineLimit);
  auto append = [&out](char c) {
    if (out.size() < kColourLineLimit) out.push_back(c);
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c != '!' || i + 1 >= line.size()) {
      append(c);
      continue;
    }
    const char code = line[i + 1];
    if (code == '!') {
      append('!');
      ++i;
      continue;
    }
    const std::string_view sequence = colour_sequence(code);
    if (sequence.empty()) {
      // Not a code: the "!" stays and the next character is read normally.
      append('!');
      continue;
    }
    ++i;
    // A sequence is sent whole or not at all, so a cut line never ends in
    // half an escape.
    if (colour && out.size() + 1 + sequence.size() <= kColourLineLimit) {
      out.push_back(kEscape);
      out.append(sequence);
    }
  }
  return out;
}

void colour_filter(std::FILE* out, std::string_view line) {
  const std::string translated = translate_colours(line, core::session().color_mode != 0);
  std::fwrite(translated.data(), 1, translated.size(), out);
}

void install_colour_filter() { core::set_output_filter(colour_filter); }

}  // namespace text
