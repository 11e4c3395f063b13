// The final reply of a finished transfer: the user's status line.
#include "transfer/transfer_complete.h"

#include "transfer/status_line.h"

namespace transfer {

void transfer_complete_reply() { session::show_statline(false); }

}  // namespace transfer
