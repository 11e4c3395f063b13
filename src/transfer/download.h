// RETR: the checks that decide whether a user may download a file, the
// transfer itself and the bookkeeping afterwards.
#pragma once

#include <sys/types.h>

#include <string>

namespace transfer {

// Downloads `name` (as the client wrote it): 0 once a transfer was
// attempted, 1 when refused before the data connection (reply sent).
int retrieve(const std::string& name);

// Positions an ASCII file at a restart offset given in transferred bytes
// (each LF counts two, for its CR LF): false when the file ends first.
bool seek_ascii_restart(int fd, off_t restart_point);

// For logout: a download cut short by the end of the session is booked as
// far as its bytes moved.
void settle_interrupted_download();

}  // namespace transfer
