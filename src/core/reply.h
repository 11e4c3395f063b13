// Reply output: formats FTP reply lines on the control connection, marks
// continuation lines, wraps them in colour escapes for colour users and
// flushes after every line.
#pragma once

#include <cstdio>
#include <string_view>

#include "core/format.h"

namespace core {

// Final reply line: "%d " + text + CRLF.
void reply_text(int code, std::string_view text);
// Continuation line: "%d- " + text + CRLF (with colour escapes in colour
// mode); nothing at all when continuation lines are switched off.
void lreply_text(int code, std::string_view text);

template <typename... Args>
void reply(int code, std::string_view fmt, const Args&... args) {
  reply_text(code, format(fmt, {FormatArg(args)...}));
}

template <typename... Args>
void lreply(int code, std::string_view fmt, const Args&... args) {
  lreply_text(code, format(fmt, {FormatArg(args)...}));
}

// reply(code, "%s: %s.", what, strerror(errno))
void perror_reply(int code, std::string_view what);
// string 555/502 with the command: not implemented.
void nack(std::string_view command);
// string 552/451 with the text, string 553/221, then logout.
[[noreturn]] void fatal(std::string_view text);

// While holding, continuation lines are kept back instead of sent; they
// go out, with the code of that reply, in front of the next reply line
// sent after holding ends. A notice whose reply may end in success or in a
// refusal (the ghost kill at login) thus always belongs to the reply that
// follows it. Holds nest: lines go out once every hold has ended.
void hold_continuations(bool hold);
// Forgets the lines held so far (a transfer the client aborted has had its
// final replies already).
void discard_held_continuations();

// Text written through the output filter: the colour-code translation of
// text files, bypassed while the session's raw_replies flag is set.
using OutputFilter = void (*)(std::FILE* out, std::string_view text);
void set_output_filter(OutputFilter filter);

// The control stream; standard output unless a test points it elsewhere.
void set_reply_stream(std::FILE* out);
std::FILE* reply_stream();

}  // namespace core
