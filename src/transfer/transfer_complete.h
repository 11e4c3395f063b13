// The final 226 reply of a successful transfer (downloads, uploads and
// listings share it).
#pragma once

namespace transfer {

// The user's status line with code 226 (or string 526 where the `-stat`
// rule hides it). Resets the transfer byte counters.
void transfer_complete_reply();

}  // namespace transfer
