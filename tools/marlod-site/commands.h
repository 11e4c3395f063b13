// The sub-commands of marlod-site, the offline site administration tool.
// Each takes the arguments after its own name and returns the exit status.
#pragma once

namespace site_tool {

// marlod-site create ROOT --config CONF [--ipc-key HEX] [--share DIR]
//                    [--siteop NAME:PASSWORD] [--scripts]
int create_command(int argc, char** argv);

}  // namespace site_tool
