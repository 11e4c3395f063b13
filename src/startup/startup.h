// Process start-up: from process entry to the command loop.
#pragma once

namespace startup {

// Identifies the peer, reads the configuration and the strings file,
// changes root, takes an online slot, greets the client and then runs the
// command loop. Never returns: every end goes through session::dologout.
[[noreturn]] int run(int argc, char** argv, char** envp);

}  // namespace startup
