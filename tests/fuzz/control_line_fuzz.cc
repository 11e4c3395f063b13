// A control connection's bytes through the telnet filter, the lexer and
// the grammar, logged in, with every command's action replaced by one that
// does nothing: the reader and parser are fuzzed, not the file system.
#include <sys/mman.h>
#include <unistd.h>

#include "core/control_reader.h"
#include "fuzz_support.h"
#include "protocol/grammar.h"

namespace {

int ignore_command(const protocol::CommandArgs&) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_state();
  protocol::set_handler_override(ignore_command);
  // The first byte chooses whether the client has logged in yet.
  if (size > 0) core::session().logged_in = data[0] & 1;

  const int fd = ::memfd_create("control", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (::write(fd, data, size) == static_cast<ssize_t>(size) && ::lseek(fd, 0, SEEK_SET) == 0) {
    core::set_control_fd(fd);
    core::Session& s = core::session();
    try {
      while (core::get_line(s.command_buffer, sizeof s.command_buffer - 1) != nullptr) {
        s.error_reported = 0;
        s.command_failed = 0;
        protocol::run_command_line();
      }
    } catch (const fuzz::SessionEnded&) {
    }
    core::set_control_fd(0);
  }
  ::close(fd);
  return 0;
}
