// The five log files below the data path, appended whole lines at a time by
// every server process, and show_log, which reads four of them back.
#pragma once

#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "core/format.h"

namespace core {

void event_log_args(std::string_view fmt, std::span<const FormatArg> args);
void login_log_args(std::string_view fmt, std::span<const FormatArg> args);
void request_log_args(std::string_view fmt, std::span<const FormatArg> args);
void sysop_log_args(std::string_view fmt, std::span<const FormatArg> args);
void error_log_args(std::string_view fmt, std::span<const FormatArg> args);

#define MARLOD_LOG_WRITER(name)                                                    \
  template <typename... Args>                                                      \
  void name(std::string_view fmt, const Args&... args) {                           \
    const FormatArg list[] = {FormatArg(args)..., FormatArg("")};                  \
    name##_args(fmt, std::span<const FormatArg>(list, sizeof...(Args)));           \
  }
MARLOD_LOG_WRITER(event_log)
MARLOD_LOG_WRITER(login_log)
MARLOD_LOG_WRITER(request_log)
MARLOD_LOG_WRITER(sysop_log)
MARLOD_LOG_WRITER(error_log)
#undef MARLOD_LOG_WRITER

// The line layouts, each a complete line with its newline. A message too
// long for its line is cut; the newline always stays.
// ctime() text of `when` (local time), 24 characters and a newline.
std::string log_time_text(time_t when);
// ctime text with runs of white space collapsed and the ends trimmed.
std::string event_time_text(time_t when);
// marlod.log: "%s %s\n" with the collapsed timestamp, at most 4095 bytes.
std::string event_log_line(time_t when, std::string_view message);
// login.log and request.log: "%.24s [%-6.6s] %s\n", pid printed with "%u".
std::string login_log_line(time_t when, unsigned pid, std::string_view message);
// sysop.log and error.log: "%.24s [%-8d] %s\n".
std::string sysop_log_line(time_t when, int pid, std::string_view message);

// The "[days] [search]" argument of the log-reading commands.
struct LogFilter {
  long long days = 0;  // 0: every day
  std::string search;  // empty: every line
};
LogFilter parse_log_filter(std::string_view argument);

// Lists `log_name` ("login.log", ...) as continuation lines with `code`,
// filtered by the optional "[days] [search]" argument, and ends with string
// 7 as the final reply; 0 on success. A corrupted line ends the listing with
// a final reply; a log that cannot be opened gets string 310 as the final
// reply. Non-zero on either failure; the caller sends nothing more.
int show_log(int code, const char* argument, const char* log_name);

}  // namespace core
