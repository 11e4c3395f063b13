// Keeping untrusted text on one line: texts users type go into line-based
// files (mailboxes, bulletin files, logs), where a newline or another
// control character would break the layout or fake a line.
#pragma once

#include <string>
#include <string_view>

namespace core {

// `text` with every control character (newlines included) as a blank.
inline std::string blank_controls(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return out;
}

}  // namespace core
