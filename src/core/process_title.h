// The process title: process listings show "marlod: " and what the session
// is doing, written over the process's argument area.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/format.h"

namespace core {

// The span from the first argument to the end of the last environment
// string that directly follows it; empty when there is nothing to write.
struct ArgumentArea {
  char* begin = nullptr;
  std::size_t size = 0;
};

// Finds the argument area of `argv` and `envp` (both null-terminated).
ArgumentArea find_argument_area(char** argv, char** envp);

// Writes "marlod: " + `text` into `area`: CR and LF are dropped, the text
// is cut to the space available, the rest is filled with blanks and the
// last byte stays NUL so readers find the end.
void write_process_title(ArgumentArea area, std::string_view text);

// Records the argument area of this process and moves the environment to
// the heap so that overwriting the area cannot change what getenv sees.
// Called first thing at start-up.
void init_process_title(int argc, char** argv, char** envp);

void set_process_title_text(std::string_view text);

template <typename... Args>
void set_process_title(std::string_view fmt, const Args&... args) {
  set_process_title_text(core::format(fmt, {core::FormatArg(args)...}, 8191));
}

}  // namespace core
