// The five log writers and show_log: each writer formats one whole line in
// memory and appends it with a single write, under the privilege bracket.
#include "core/logs.h"

#include <fcntl.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"

namespace core {
namespace {

// Messages are cut here so that a line always fits its buffer whole.
constexpr std::size_t kEventLineBuffer = 4096;
constexpr std::size_t kEventMessageLimit = 4095;
constexpr std::size_t kMessageLimit = 8191;

std::string log_path(const char* name) {
  std::string path = session().data_path;
  path += "/logs/";
  path += name;
  return path;
}

// Appends `line` with one write(2), so concurrent processes never split
// each other's lines. A log that cannot be opened is skipped silently.
void append_line(const char* name, const std::string& line) {
  PrivilegeBracket privileged;
  const UniqueFd fd =
      open_file(log_path(name).c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
  if (fd) write_all(fd.get(), line);
}


struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using LogFile = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kShownLineLimit = 1023;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Splits `text` at runs of blanks.
std::vector<std::string_view> blank_separated(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_blank(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !is_blank(text[i])) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

// Decimal text to a number, saturating instead of overflowing.
long long saturating_number(std::string_view digits) {
  long long value = 0;
  std::size_t i = 0;
  const bool negative = i < digits.size() && digits[i] == '-';
  if (negative || (i < digits.size() && digits[i] == '+')) ++i;
  for (; i < digits.size() && digits[i] >= '0' && digits[i] <= '9'; ++i) {
    if (value > (LLONG_MAX - 9) / 10) return negative ? LLONG_MIN : LLONG_MAX;
    value = value * 10 + (digits[i] - '0');
  }
  return negative ? -value : value;
}

// Reads one whole line without its newline. A line longer than the listing
// shows is cut, not split, so its tail can never pass for a line of its own.
bool read_log_line(std::FILE* file, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = std::getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < kShownLineLimit) line += static_cast<char>(c);
  }
  return any;
}

// The day of a log line's timestamp (weekday month day clock year) at
// 00:00:00 local time; nothing when the month, day or year is missing.
std::optional<time_t> line_day(std::string_view line) {
  static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::vector<std::string_view> words = blank_separated(line);
  if (words.size() < 5) return std::nullopt;
  std::tm day{};
  for (int month = 0; month < 12; ++month)
    if (words[1] == kMonths[month]) day.tm_mon = month;
  const long long mday = saturating_number(words[2]);
  const long long year = saturating_number(words[4]) - 1900;
  // Values mktime cannot hold make the line as unreadable as a missing field.
  if (mday < INT_MIN / 2 || mday > INT_MAX / 2 || year < INT_MIN / 2 || year > INT_MAX / 2)
    return static_cast<time_t>(-1);
  day.tm_mday = static_cast<int>(mday);
  day.tm_year = static_cast<int>(year);
  day.tm_isdst = -1;
  return std::mktime(&day);
}

}  // namespace

LogFilter parse_log_filter(std::string_view argument) {
  LogFilter filter;
  const std::vector<std::string_view> words = blank_separated(argument);
  if (words.empty()) return filter;
  const bool all_digits =
      words[0].find_first_not_of("0123456789") == std::string_view::npos;
  if (!all_digits) {
    filter.search = std::string(words[0]);
    return filter;
  }
  filter.days = saturating_number(words[0]);
  if (words.size() > 1) filter.search = std::string(words[1]);
  return filter;
}

std::string log_time_text(time_t when) {
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  if (!localtime_r(&when, &local)) {
    const time_t epoch = 0;
    localtime_r(&epoch, &local);
  }
  const int weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
  const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
  return format("%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                {kWeekdays[weekday], kMonths[month], local.tm_mday, local.tm_hour, local.tm_min,
                 local.tm_sec, 1900LL + local.tm_year});
}

std::string event_time_text(time_t when) {
  const std::string text = log_time_text(when);
  std::string collapsed;
  bool pending_blank = false;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
      pending_blank = !collapsed.empty();
      continue;
    }
    if (pending_blank) collapsed += ' ';
    pending_blank = false;
    collapsed += c;
  }
  return collapsed;
}

std::string event_log_line(time_t when, std::string_view message) {
  const std::string stamp = event_time_text(when);
  // The line buffer holds 4095 characters; the message gives way so the
  // newline always ends the line.
  const std::size_t room = kEventLineBuffer - 1 - stamp.size() - 2;
  if (message.size() > room) message = message.substr(0, room);
  std::string line = stamp;
  line += ' ';
  line.append(message);
  line += '\n';
  return line;
}

std::string login_log_line(time_t when, unsigned pid, std::string_view message) {
  const std::string pid_text = format("%u", {pid});
  if (message.size() > kMessageLimit) message = message.substr(0, kMessageLimit);
  return format("%.24s [%-6.6s] %s\n", {log_time_text(when), pid_text, message},
                kMessageLimit + 64);
}

std::string sysop_log_line(time_t when, int pid, std::string_view message) {
  if (message.size() > kMessageLimit) message = message.substr(0, kMessageLimit);
  return format("%.24s [%-8d] %s\n", {log_time_text(when), pid, message}, kMessageLimit + 64);
}

void event_log_args(std::string_view fmt, std::span<const FormatArg> args) {
  const time_t when = now();
  const std::string message = format(fmt, args, kEventMessageLimit);
  append_line("marlod.log", event_log_line(when, message));
}

void login_log_args(std::string_view fmt, std::span<const FormatArg> args) {
  const time_t when = now();
  const std::string message = format(fmt, args, kMessageLimit);
  append_line("login.log", login_log_line(when, static_cast<unsigned>(getpid()), message));
}

void request_log_args(std::string_view fmt, std::span<const FormatArg> args) {
  const time_t when = now();
  const std::string message = format(fmt, args, kMessageLimit);
  append_line("request.log", login_log_line(when, static_cast<unsigned>(getpid()), message));
}

void sysop_log_args(std::string_view fmt, std::span<const FormatArg> args) {
  const time_t when = now();
  const std::string message = format(fmt, args, kMessageLimit);
  append_line("sysop.log", sysop_log_line(when, getpid(), message));
}

void error_log_args(std::string_view fmt, std::span<const FormatArg> args) {
  const time_t when = now();
  const std::string message = format(fmt, args, kMessageLimit);
  append_line("error.log", sysop_log_line(when, getpid(), message));
}

int show_log(int code, const char* argument, const char* log_name) {
  const LogFilter filter = parse_log_filter(argument ? argument : "");
  const time_t current = ::time(nullptr);

  LogFile file(std::fopen(log_path(log_name).c_str(), "re"));
  if (!file) {
    // Nothing else follows, so the notice closes the reply.
    string_reply(code, 310, 0, log_name);
    return 1;
  }

  std::string line;
  while (read_log_line(file.get(), line)) {
    const bool matches = filter.search.empty() || line.find(filter.search) != std::string::npos;
    if (filter.days == 0) {
      if (matches) lreply(code, "%s", line);
      continue;
    }
    const std::optional<time_t> stamp = line_day(line);
    if (!stamp) {
      string_reply(code, 309, 1, log_name);
      reply(code, "%s", line);
      file.reset();
      error_log("Error: %s log is corrupted: %s", log_name, line);
      return 1;
    }
    if (*stamp < 0) {
      file.reset();
      string_reply(code, 309, 0, log_name);
      error_log("Error: %s log is corrupted: %s", log_name, line);
      return 1;
    }
    if ((current - *stamp) / 86400 >= filter.days || !matches) continue;
    lreply(code, "%s", line);
  }
  file.reset();
  string_reply(code, 7, 0);
  return 0;
}

}  // namespace core
