// Text files shown as multi-line replies: rotating variants, the file-level
// directives (lists, includes, conditions, command output) and cookies on
// every other line. Also the three named places text files live in.
#pragma once

#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "core/format.h"

namespace text {

// Sends the file at `path` as continuation lines with `code`; the caller
// sends the final reply. 0 when the file does not exist, otherwise 1 plus
// the counts of its list directives.
int show_text_file(int code, const char* path);

// The version of `path` to show at `moment` (site time): with x.1 ... x.k
// present, one of x, x.1 ... x.k chosen by the moment modulo k + 1.
std::string choose_variant(const std::string& path, time_t moment);

// "%s/text/%s" and "%s/help/%s" under the data path, the name formatted
// from `name_format` and the arguments first. Results as show_text_file.
int show_text_args(int code, std::string_view name_format, std::span<const core::FormatArg> args);
int show_help_args(int code, std::string_view name_format, std::span<const core::FormatArg> args);

template <typename... Args>
int show_text(int code, std::string_view name_format, const Args&... args) {
  const core::FormatArg list[] = {core::FormatArg(args)..., core::FormatArg("")};
  return show_text_args(code, name_format, std::span<const core::FormatArg>(list, sizeof...(Args)));
}

template <typename... Args>
int show_help(int code, std::string_view name_format, const Args&... args) {
  const core::FormatArg list[] = {core::FormatArg(args)..., core::FormatArg("")};
  return show_help_args(code, name_format, std::span<const core::FormatArg>(list, sizeof...(Args)));
}

// SITE SHOW: sends the userfile of `name` exactly as stored (continuation
// lines, no cookies or colour codes) and returns 0; for an unknown user
// sends strings record 311 as the final reply and returns 1.
int show_userfile(int code, const char* name);

}  // namespace text
