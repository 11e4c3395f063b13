// The transfer-complete reply.
#include "transfer/transfer_complete.h"

#include "online/online_table.h"
#include "text/strings.h"
#include "transfer/data_connection.h"

namespace transfer {

void transfer_complete_reply() {
  // Seam: the status line (statline.txt with the user's figures) replaces
  // this plain text once the status module has it.
  text::string_reply(226, 526, 0);
  progress().byte_count = 0;
  online::end_own_transfer();
}

}  // namespace transfer
