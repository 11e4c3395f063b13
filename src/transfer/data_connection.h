// Data connections: the one way downloads, uploads and listings get a TCP
// stream to the client (passive accept, a PORT address, or the default
// port), with the preliminary 150/125 reply and the foreign-address policy.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "core/net_address.h"

namespace transfer {

// Which way data moves; decides which `allow_fxp` switch applies.
enum class XferDirection : int8_t {
  Upload = 0,    // data comes from the client
  Download = 1,  // data goes to the client
  Listing = -1,  // no foreign-address check
};

// Opens the data connection for a transfer of `name` (used in replies
// only) of `size` bytes (-1 unknown) and sends the 150 (or 125) reply.
// Returns the connected descriptor, owned by the session (its data_fd):
// write to it or read from it, never close it yourself, and end with
// close_data_connection(). On failure the reply has been sent already and
// -1 comes back; the caller ends the command without another reply.
int open_data_connection(const char* name, off_t size, XferDirection direction);

// Closes the data connection and forgets the passive socket: the next
// transfer needs a new PASV or PORT (or uses the default port).
void close_data_connection();

// The foreign-address (FXP) policy for a data peer at `address`: 0 allowed,
// 1 refused with `code` and string 150 (already sent).
int check_foreign_address(int code, const core::NetAddress& address, XferDirection direction);

// Progress of the current data connection, reset by open_data_connection:
// the announced size (-1 unknown) and the bytes moved so far. Listings add
// what they write; STAT during a transfer reports both.
struct TransferProgress {
  off_t file_size = -1;
  off_t byte_count = 0;
};
TransferProgress& progress();

}  // namespace transfer
