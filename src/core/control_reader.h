// The control connection reader: a small buffered reader on descriptor 0
// that answers telnet option negotiation and hands out one command line at
// a time, and lets transfer loops look for pending ABOR/STAT input.
#pragma once

#include <cstddef>
#include <string_view>

namespace core {

// Reads one line from the control connection into `buffer`, which holds
// `size` + 1 bytes: reading stops after LF or once `size` bytes are stored,
// and a NUL follows. Characters left in the session's oob_line come first.
// Telnet IAC sequences are answered on the reply stream and dropped; IAC
// IAC stores one byte 255. A read interrupted by a signal is retried (after
// the idle timer has had its say). Returns `buffer`, or nullptr at end of
// input before any byte.
char* get_line(char* buffer, std::size_t size);

// How much of a line the debug log may show: the number of leading
// characters, or npos for all of it. The command reader, which knows which
// commands carry passwords, installs it; without one a line shows whole
// (PASS lines excepted).
using LoggedLength = std::size_t (*)(std::string_view line);
void set_logged_length(LoggedLength measure);

// True when a command byte is waiting: buffered already, or readable on
// the control descriptor right now (zero-timeout poll).
bool control_has_input();

// True when a command byte is buffered already (by this reader or the TLS
// layer), which a poll of the descriptor cannot see; no system call.
bool control_input_buffered();

// The descriptor the reader takes its bytes from; 0 unless a test points it
// elsewhere. Changing it drops anything buffered.
void set_control_fd(int fd);
int control_fd();

// Drops what was read but not yet handed out: bytes that arrived in clear
// text must not count once the connection changes to or from TLS.
void discard_buffered_input();

}  // namespace core
