// ASCII uploads: CR LF from the network becomes LF on disk. A CR not
// followed by LF is kept; a LF without CR (a "bare linefeed") is kept and
// counted, since it means the client sent a text file without converting
// it and the file may be damaged.
#pragma once

#include <cstddef>
#include <string>

namespace transfer {

class AsciiReceiver {
 public:
  // Appends `data`, converted, to `out`. A CR at the very end is held back
  // until the next block (or finish) shows what follows it, so a CR LF
  // split between two reads is still one line end.
  void convert(const char* data, std::size_t size, std::string& out);
  // At the end of the input: a CR still held back goes out as it is.
  void finish(std::string& out);
  long long bare_linefeeds() const { return bare_linefeeds_; }

 private:
  bool held_cr_ = false;
  long long bare_linefeeds_ = 0;
};

}  // namespace transfer
