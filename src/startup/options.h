// The daemon's command line.
#pragma once

#include "core/session.h"

namespace startup {

// Parses the options into `s` with getopt (option string
// ":vdebBlLiIon:t:T:u:r:s:"). A missing argument and an unknown option are
// logged and skipped; parsing always goes on.
void parse_options(int argc, char** argv, core::Session& s);

}  // namespace startup
