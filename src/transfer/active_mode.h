// Active mode: the destination a client names with PORT or EPRT, checked
// once for both, and the EPSV ALL promise that shuts out the other ways.
#pragma once

#include "core/net_address.h"

namespace transfer {

// After EPSV ALL only EPSV may set up data connections: true, with a 503
// naming `command` sent, when the client promised that.
bool refused_after_epsv_all(const char* command);

// Takes `destination` as the next data connection's address for `command`
// (PORT or EPRT): refused (reply sent, false) when it is of the other
// family than the control connection or a bounce to a privileged port of
// another host; else stored, the passive socket given up, 200 sent.
bool accept_active_destination(const core::NetAddress& destination, const char* command);

}  // namespace transfer
