// Protection of data connections (PBSZ, PROT, SSCN, CPSV): the state the
// client set, the rule that may require protection, and the TLS handshake
// and closure of each data connection.
#pragma once

namespace transfer {

struct DataProtection {
  bool buffer_size_set = false;  // PBSZ was given (PROT needs it first)
  bool private_data = false;     // PROT P: every data connection is TLS
  bool client_method = false;    // SSCN ON: data handshakes in the client role
  bool client_once = false;      // CPSV: the next data connection only
};
DataProtection& data_protection();

// Before a data connection is opened: false, after a 521 reply, when a
// `tls_data` rule requires protection that the session has not asked for.
bool data_protection_allowed();

// After the data connection on `fd` is open and its opening reply is out:
// with PROT P, the TLS handshake. A data connection from the control
// connection's own host must resume the control connection's TLS session,
// so nobody else can take it over; one from a third host (a site-to-site
// transfer, which `allow_fxp` governs) cannot. False after a final reply;
// the caller closes the connection.
bool protect_data_connection(int fd);

// Ends the TLS session of a data connection with a close_notify (the
// descriptor stays open); nothing for a clear one.
void end_data_protection(int fd);

}  // namespace transfer
