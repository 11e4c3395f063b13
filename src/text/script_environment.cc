// The USER, FLAGS, ... entries of the process environment that external
// programs inherit.
#include <cstdlib>
#include <cstring>

#include "core/format.h"
#include "text/external.h"

namespace text {
namespace {

std::string entry(std::string_view fmt, std::initializer_list<core::FormatArg> args) {
  return core::format(fmt, args, kEnvironmentEntryLimit);
}

}  // namespace

std::array<std::string, 8> script_environment_entries(const core::Session& s) {
  return {
      entry("USER=%s", {s.user.name}),
      entry("FLAGS=%s", {s.user.flags}),
      entry("TAGLINE=%s", {s.user.tagline}),
      entry("GROUP=%s", {s.user.groups[0]}),
      entry("PGROUP=%s", {s.user.private_groups[0]}),
      entry("RATIO=%d", {static_cast<int>(s.user.sections[0].ratio)}),
      entry("HOST=%s@%s", {s.ident_user, s.remote_ip}),
      entry("HOME=%s", {s.home_dir}),
  };
}

void set_script_environment() {
  // putenv keeps the pointer, so the buffers live as long as the process;
  // a later call rewrites them in place.
  static char buffers[8][kEnvironmentEntryLimit + 1];
  core::Session& s = core::session();
  const auto entries = script_environment_entries(s);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::memset(buffers[i], 0, sizeof buffers[i]);
    std::memcpy(buffers[i], entries[i].data(), entries[i].size());
    ::putenv(buffers[i]);
  }
  if (s.section_env[0] != '\0') ::putenv(s.section_env);
  // Programs see a speed of 0 until the first transfer sets it.
  ::setenv("SPEED", "0", 0);
}

}  // namespace text
