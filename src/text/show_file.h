// Sends a text file to the client as continuation lines of one reply.
#pragma once

namespace text {

// Sends the text file at `path` (directives, cookies and colour codes
// applied) as continuation lines with `code`; the caller sends the final
// reply. 0 on success, -1 when the file cannot be read.
int show_file(int code, const char* path);

}  // namespace text
