// Reply output on the control connection.
#include "core/reply.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "core/session.h"
#include "core/session_end.h"
#include "core/strings.h"

namespace core {
namespace {

std::FILE* control_stream = nullptr;
// Holds nest: a script run inside a held reply holds and releases too.
int hold_depth = 0;
std::vector<std::string> held_lines;

void write_unfiltered(std::FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out);
}

OutputFilter output_filter = write_unfiltered;

void write_text(std::string_view text) {
  std::FILE* out = reply_stream();
  if (session().raw_replies)
    write_unfiltered(out, text);
  else
    output_filter(out, text);
}

void send_continuation(int code, std::string_view text) {
  const Session& s = session();
  if (!s.show_continuations) return;
  std::FILE* out = reply_stream();
  if (s.color_mode)
    std::fprintf(out, "%d- %c[1;37m", code, 27);
  else
    std::fprintf(out, "%d- ", code);
  write_text(text.substr(0, 8191));
  if (s.color_mode)
    std::fprintf(out, "%c[0m%c[0;37m\r\n", 27, 27);
  else
    std::fputs("\r\n", out);
  std::fflush(out);
}

void send_held_lines(int code) {
  if (hold_depth > 0 || held_lines.empty()) return;
  std::vector<std::string> lines;
  lines.swap(held_lines);
  for (const std::string& line : lines) send_continuation(code, line);
}

}  // namespace

std::FILE* reply_stream() { return control_stream ? control_stream : stdout; }
void set_reply_stream(std::FILE* out) { control_stream = out; }
void set_output_filter(OutputFilter filter) { output_filter = filter ? filter : write_unfiltered; }
void hold_continuations(bool hold) {
  if (hold)
    ++hold_depth;
  else if (hold_depth > 0)
    --hold_depth;
}

void discard_held_continuations() { held_lines.clear(); }

void reply_text(int code, std::string_view text) {
  send_held_lines(code);
  std::FILE* out = reply_stream();
  // The code goes out first and on its own, so no text can change it.
  std::fprintf(out, "%d ", code);
  write_text(text.substr(0, 8191));
  std::fputs("\r\n", out);
  std::fflush(out);
}

void lreply_text(int code, std::string_view text) {
  if (hold_depth > 0) {
    held_lines.emplace_back(text.substr(0, 8191));
    return;
  }
  send_held_lines(code);
  send_continuation(code, text);
}

void perror_reply(int code, std::string_view what) {
  const char* error = std::strerror(errno);
  reply(code, "%s: %s.", what, error);
}

void nack(std::string_view command) { string_reply(502, 555, 0, command); }

void fatal(std::string_view message) {
  string_reply(451, 552, 0, message);
  string_reply(221, 553, 0);
  end_session(0);
}

}  // namespace core
