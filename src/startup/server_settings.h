// The server-wide settings read from the configuration at start-up and
// constant for the rest of the session.
#pragma once

#include "core/session.h"

namespace startup {

// `pwd_path`, `grp_path`, `timezone` and `user_cache`.
void read_site_paths(core::Session& s);

// `botscript_path`, `mmap_amount`, `free_space`, `use_dir_size`, `lslong`,
// `file_dl_count`, every `cscript`, `pasv_ports` and `sim_xfers`. (The
// `banner` is shown by start-up itself.) A reversed `pasv_ports` range is
// reported in the error log and swapped.
void read_server_settings(core::Session& s);

}  // namespace startup
