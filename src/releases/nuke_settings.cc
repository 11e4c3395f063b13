// Reading the nuke settings and naming nuked directories.
#include "releases/nuke_settings.h"

#include <cerrno>
#include <cstdlib>

#include "config/config_store.h"

namespace releases {
namespace {

// A whole decimal number, or nothing for anything else (including a
// number out of range).
std::optional<long long> whole_number(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

long long not_below_zero(const char* text) {
  const std::optional<long long> value = whole_number(text);
  return value && *value > 0 ? *value : 0;
}

}  // namespace

NukeSettings nuke_settings() {
  NukeSettings settings;
  const config::ConfigEntry* cursor = nullptr;
  if (const config::ConfigEntry* line = config::next_config("nukedir_style", cursor)) {
    if (line->arg(1)) settings.name_template = line->arg(1);
    if (line->arg(2)) {
      const std::optional<long long> style = whole_number(line->arg(2));
      if (style == 0) settings.style = NukeStyle::Delete;
      if (style == 1) settings.style = NukeStyle::DeleteFiles;
      if (line->arg(3)) settings.threshold = static_cast<uint64_t>(not_below_zero(line->arg(3)));
    }
  }
  settings.empty_nuke_kib = not_below_zero(config::config_value("empty_nuke"));
  settings.multiplier_max = whole_number(config::config_value("multiplier_max"));
  return settings;
}

std::string nuked_name_from(std::string_view name_template, std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view parent = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
  const std::string_view own = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::string name(parent);
  for (std::size_t i = 0; i < name_template.size(); ++i) {
    const char c = name_template[i];
    if (c != '%' || i + 1 == name_template.size()) {
      name += c;
      continue;
    }
    const char next = name_template[++i];
    if (next == 'N')
      name.append(own);
    else if (next == '%')
      name += '%';
    else
      name += "%?";
  }
  return name;
}

std::string nuked_name(std::string_view path) { return nuked_name_from(nuke_settings().name_template, path); }

}  // namespace releases
