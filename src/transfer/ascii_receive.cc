// The CR LF conversion of ASCII uploads.
#include "transfer/ascii_receive.h"

#include <algorithm>
#include <cstring>

namespace transfer {

void AsciiReceiver::convert(const char* data, std::size_t size, std::string& out) {
  const char* at = data;
  const char* const end = data + size;
  if (held_cr_ && at < end) {
    held_cr_ = false;
    if (*at == '\n') {
      out += '\n';
      ++at;
    } else {
      out += '\r';
    }
  }
  while (at < end) {
    const char* cr = static_cast<const char*>(std::memchr(at, '\r', static_cast<std::size_t>(end - at)));
    const char* run_end = cr != nullptr ? cr : end;
    bare_linefeeds_ += std::count(at, run_end, '\n');
    out.append(at, run_end);
    if (cr == nullptr) return;
    if (cr + 1 == end) {
      held_cr_ = true;
      return;
    }
    if (cr[1] == '\n') {
      out += '\n';
      at = cr + 2;
    } else {
      out += '\r';
      at = cr + 1;
    }
  }
}

void AsciiReceiver::finish(std::string& out) {
  if (held_cr_) out += '\r';
  held_cr_ = false;
}

}  // namespace transfer
