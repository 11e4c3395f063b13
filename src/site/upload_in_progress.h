// Whether another session is receiving an upload into a directory tree, as
// the online table shows it: a STOR, APPE or STOU with bytes moving.
#pragma once

#include <string>

namespace site {

// True when the target of another live session's running upload lies in
// `tree` (or the session uploads from inside it without naming a file).
bool upload_in_progress_below(const std::string& tree);

}  // namespace site
