// The five log files below the data path, appended whole lines at a time by
// every server process, and show_log, which reads four of them back.
#pragma once

#include <span>
#include <string_view>

#include "text/format.h"

namespace text {

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

// Lists `log_name` ("login.log", ...) as continuation lines with `code`,
// filtered by the optional "[days] [search]" argument; 0 on success.
int show_log(int code, const char* argument, const char* log_name);

}  // namespace text
