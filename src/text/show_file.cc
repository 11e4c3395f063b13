// show_file: the text-file display in the calling convention of the reply
// layer and the strings file (0 shown, -1 unreadable).
#include "text/show_file.h"

#include "text/text_file.h"

namespace text {

int show_file(int code, const char* path) {
  if (!path) return -1;
  return show_text_file(code, path) > 0 ? 0 : -1;
}

}  // namespace text
