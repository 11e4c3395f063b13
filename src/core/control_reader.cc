// Buffered reading of the control connection with telnet option refusal.
#include "core/control_reader.h"

#include <poll.h>
#include <strings.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/idle_alarm.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/signals.h"
#include "core/tls_stream.h"

namespace core {
namespace {

constexpr unsigned char kIAC = 255;
constexpr unsigned char kDONT = 254;
constexpr unsigned char kDO = 253;
constexpr unsigned char kWONT = 252;
constexpr unsigned char kWILL = 251;

struct ReadBuffer {
  int fd = 0;
  unsigned char bytes[4096];
  std::size_t begin = 0;
  std::size_t end = 0;
};

ReadBuffer& input() {
  static ReadBuffer buffer;
  return buffer;
}

// The next byte of the connection, or -1 at end of input (or on a read
// error, which ends the connection just the same). Interrupted reads are
// retried after the idle timer has had its say.
int next_byte() {
  ReadBuffer& in = input();
  while (in.begin == in.end) {
    end_session_if_requested();
    check_idle_alarm();
    const ssize_t got = stream_read(in.fd, in.bytes, sizeof in.bytes);
    if (got > 0) {
      in.begin = 0;
      in.end = static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      // A termination signal shuts the reading side down to wake us.
      end_session_if_requested();
      return -1;
    }
  }
  return in.bytes[in.begin++];
}

void answer_option(unsigned char verb, int option) {
  std::FILE* out = reply_stream();
  std::fprintf(out, "%c%c%c", kIAC, verb, option);
  std::fflush(out);
}

// Characters the urgent-data handler left behind start the next line.
std::size_t take_oob_characters(char* buffer, std::size_t size, bool& complete) {
  char* oob = session().oob_line;
  std::size_t taken = 0;
  complete = false;
  while (oob[taken] != '\0' && taken < size && taken < sizeof session().oob_line) {
    buffer[taken] = oob[taken];
    if (oob[taken++] == '\n') {
      complete = true;
      break;
    }
  }
  const std::size_t left = std::strlen(oob + taken);
  std::memmove(oob, oob + taken, left + 1);
  return taken;
}

LoggedLength& logged_length() {
  static LoggedLength measure = nullptr;
  return measure;
}

void log_command(const char* line) {
  if (!session().debug) return;
  if (::strncasecmp(line, "PASS ", 5) == 0) {
    syslog(LOG_DEBUG, "command: %s", "PASS password\r\n");
    return;
  }
  const std::size_t shown = logged_length() ? logged_length()(line) : std::string_view::npos;
  if (shown == std::string_view::npos)
    syslog(LOG_DEBUG, "command: %s", line);
  else
    syslog(LOG_DEBUG, "command: %.*s ********\r\n", static_cast<int>(shown), line);
}

}  // namespace

char* get_line(char* buffer, std::size_t size) {
  bool complete = false;
  std::size_t stored = take_oob_characters(buffer, size, complete);
  while (!complete && stored < size) {
    int c = next_byte();
    if (c < 0) break;
    if (c == kIAC) {
      c = next_byte();
      if (c < 0) break;
      if (c == kWILL || c == kWONT || c == kDO || c == kDONT) {
        const int option = next_byte();
        if (option < 0) break;
        answer_option(c == kWILL || c == kWONT ? kDONT : kWONT, option);
        continue;
      }
      if (c != kIAC) continue;  // any other telnet command is dropped
    }
    buffer[stored++] = static_cast<char>(c);
    if (c == '\n') complete = true;
  }
  buffer[stored] = '\0';
  if (stored == 0 && !complete) return nullptr;
  log_command(buffer);
  return buffer;
}

void set_logged_length(LoggedLength measure) { logged_length() = measure; }

bool control_input_buffered() {
  const ReadBuffer& in = input();
  return in.begin < in.end || session().oob_line[0] != '\0' || stream_pending(in.fd);
}

bool control_has_input() {
  if (control_input_buffered()) return true;
  struct pollfd poll_fd {};
  poll_fd.fd = input().fd;
  poll_fd.events = POLLIN;
  return ::poll(&poll_fd, 1, 0) > 0 && (poll_fd.revents & (POLLIN | POLLHUP)) != 0;
}

void set_control_fd(int fd) {
  ReadBuffer& in = input();
  in.fd = fd;
  in.begin = in.end = 0;
}

int control_fd() { return input().fd; }

void discard_buffered_input() {
  ReadBuffer& in = input();
  in.begin = in.end = 0;
}

}  // namespace core
