// How a site nukes: the `nukedir_style` line (name of a nuked directory,
// style, size threshold), `empty_nuke` and `multiplier_max`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace releases {

enum class NukeStyle {
  Delete = 0,         // everything goes
  DeleteFiles = 1,    // the files go, the directory is renamed
  RenameKeep = 2,     // the directory is renamed with its files
};

struct NukeSettings {
  std::string name_template = "NUKED-%N";
  NukeStyle style = NukeStyle::RenameKeep;
  uint64_t threshold = 50000;  // bytes: a release this small is an empty nuke
  long long empty_nuke_kib = 0;
  std::optional<long long> multiplier_max;
};

// The settings of the configuration read at start-up. A style other than
// 0, 1 or 2 is style 2; a threshold or amount that is not a number is 0.
NukeSettings nuke_settings();

// `path` with its last component replaced by `name_template`, in which
// "%N" is that component, "%%" a '%' and '%' before any other character
// "%?".
std::string nuked_name_from(std::string_view name_template, std::string_view path);

// nuked_name_from with the site's template.
std::string nuked_name(std::string_view path);

}  // namespace releases
