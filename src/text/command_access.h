// Whether the session user may run a command, explained when not.
#pragma once

namespace text {

// The access rule `key` for the session user: 1 allowed; 0 denied, after
// telling the client why with the key's "misc/ad" text (the key without
// its leading "-") or, when there is none, string 22.
int command_allowed(const char* key);

}  // namespace text
