// The environment external programs inherit: who the user is, set at login
// and again whenever the user's groups change.
#pragma once

#include <array>
#include <string>

#include "core/session.h"

namespace session {

// Every entry is at most this long; values are cut to fit.
inline constexpr std::size_t kEnvironmentEntryLimit = 59;

// USER, FLAGS, TAGLINE, GROUP, PGROUP, RATIO, HOST and HOME, in that order.
std::array<std::string, 8> script_environment_entries(const core::Session& s);

// Puts the entries above and the session's SECTION entry into the process
// environment, where they stay for the rest of the process.
void set_script_environment();

}  // namespace session
