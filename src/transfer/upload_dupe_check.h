// The checks an upload passes before any data moves: the site's pre_check
// script, then the dupe file.
#pragma once

#include <string>

namespace transfer {

// Runs the pre_check script that applies to `path` (the resolved upload
// path) and looks its file name up in the dupe file; with `claim` (an
// upload that will create the file) a name not found is entered in the same
// step and `recorded` says so. True when the upload is refused; the final
// 553 reply has then been sent. When allowed, the script's output lines
// are still held back and go out in front of the upload's next reply, with
// its code.
bool upload_dupe_check(const std::string& path, bool claim, bool& recorded);

}  // namespace transfer
