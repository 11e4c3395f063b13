// ABOR and STAT during a transfer.
#include "transfer/transfer_control.h"

#include <poll.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/control_reader.h"
#include "core/idle_alarm.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/signals.h"
#include "core/strings.h"
#include "transfer/data_connection.h"

namespace transfer {
namespace {

// The longest line looked at during a transfer: "ABOR\r\n" or "STAT\r\n"
// and one spare character.
constexpr std::size_t kTransferLineLimit = 7;

void report_progress() {
  const TransferProgress& now = progress();
  if (now.file_size != -1)
    core::string_reply(213, 567, 0, static_cast<long long>(now.byte_count),
                       static_cast<long long>(now.file_size));
  else
    core::string_reply(213, 568, 0, static_cast<long long>(now.byte_count));
}

}  // namespace

int classify_transfer_line(const char* line) {
  std::string_view text = line;
  // Only a complete line is a command; the line end may be CR LF or LF.
  if (text.empty() || text.back() != '\n') return 0;
  text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.size() != 4) return 0;
  char word[5] = {};
  for (std::size_t i = 0; i < 4; ++i) word[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  if (std::strcmp(word, "ABOR") == 0) return 1;
  if (std::strcmp(word, "STAT") == 0) return 2;
  return 0;
}

bool abort_requested() {
  core::urgent_data_pending = 0;
  core::Session& s = core::session();
  // A command sent ahead is waiting already; it is read after the transfer.
  if (s.oob_line[0] != '\0') return false;
  if (!core::control_has_input()) return false;
  char line[kTransferLineLimit + 1] = {};
  if (core::get_line(line, kTransferLineLimit) == nullptr) core::end_session(0);
  switch (classify_transfer_line(line)) {
    case 1:
      // Two final replies, so a client pairs the 426 with the transfer
      // command and the 226 with its ABOR.
      core::string_reply(426, 565, 0);
      core::string_reply(226, 566, 0);
      return true;
    case 2:
      report_progress();
      return false;
    default:
      // The start of the next command, kept as the client wrote it.
      std::strncpy(s.oob_line, line, sizeof s.oob_line - 1);
      s.oob_line[sizeof s.oob_line - 1] = '\0';
      return false;
  }
}

bool interrupted_by_signal() {
  core::end_session_if_requested();
  core::check_idle_alarm();
  return abort_requested();
}

bool wait_for_data_connection(int fd, short events) {
  const core::Session& s = core::session();
  for (;;) {
    // A line read ahead waits in oob_line for the command loop; until it
    // is taken, the control connection is not watched.
    const bool watch_control = s.oob_line[0] == '\0';
    if (watch_control && core::control_input_buffered() && abort_requested()) return false;
    pollfd watched[2] = {{fd, events, 0}, {0, POLLIN, 0}};
    const int ready = ::poll(watched, watch_control ? 2 : 1, -1);
    if (ready < 0) {
      if (errno != EINTR) return true;
      if (interrupted_by_signal()) return false;
      continue;
    }
    if (watched[0].revents != 0) return true;
    if (abort_requested()) return false;  // the control connection stirred
  }
}

ControlWatch::ControlWatch() : next_look_(std::chrono::steady_clock::now() + kControlInterval) {}

bool ControlWatch::interrupted() {
  if (core::urgent_data_pending == 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_look_) {
      core::end_session_if_requested();
      core::check_idle_alarm();
      return false;
    }
    next_look_ = now + kControlInterval;
  }
  return interrupted_by_signal();
}

}  // namespace transfer
