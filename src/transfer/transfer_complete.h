// The final 226 reply of a successful transfer (downloads, uploads and
// listings share it).
#pragma once

namespace transfer {

// The status line where the site shows one; until the status module
// provides it, the plain "transfer complete" text (string 526/226). Resets
// the transfer byte counters either way.
void transfer_complete_reply();

}  // namespace transfer
