// The strings file: numbered reply texts loaded once at start-up and sent
// by number with typed printf-style arguments.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/format.h"
#include "core/strings_codec.h"

namespace core {

// Loads the binary strings file; 0 on success, 1 on any failure (logged
// through syslog). A successful load replaces the records loaded before.
int load_strings(const std::string& path);

// A record line "%file:PATH" shows the text file PATH as continuation
// lines. Text files (cookies, directives) belong to a layer above the
// strings; start-up installs the function that shows one, returning 0 when
// shown and -1 when unreadable. Without one every file counts as unreadable.
using TextFileShower = int (*)(int code, const char* path);
void set_text_file_shower(TextFileShower shower);

// The first loaded record with `number`, or nullptr.
const StringRecord* find_string(int number);

// Sends record `number` with reply code `code`: with `continued` every line
// is a continuation line, otherwise the last line is the final reply.
void string_reply_args(int code, int number, bool continued, std::span<const FormatArg> args);

template <typename... Args>
void string_reply(int code, int number, int continued, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg("")};
  string_reply_args(code, number, continued != 0, std::span<const FormatArg>(list, sizeof...(Args)));
}

}  // namespace core
