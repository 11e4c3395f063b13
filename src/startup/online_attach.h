// Taking a slot in the online table at start-up.
#pragma once

namespace startup {

// Takes a slot for this session, or ends the process: the "sitefull" text
// with 550 when the table is full, strings 285 or 286 when it cannot be
// made or reached.
void online_attach();

}  // namespace startup
