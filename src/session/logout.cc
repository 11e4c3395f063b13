// dologout: every end of a session goes through here.
#include "session/logout.h"

#include <unistd.h>

#include <cstdio>

#include "session/session.h"

namespace session {

void dologout(int status) {
  std::fflush(stdout);
  Session& s = session();
  if (s.data_fd >= 0) ::close(s.data_fd);
  if (s.pasv_fd >= 0) ::close(s.pasv_fd);
  // Exit statuses above 0 other than 10 pass through; -1 and 10 exit 1.
  ::_exit(status < 0 || status == 10 ? 1 : status);
}

}  // namespace session
