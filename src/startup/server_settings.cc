// The server-wide settings of the configuration.
#include "startup/server_settings.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/logs.h"
#include "userdb/userfile.h"

namespace startup {
namespace {

int decimal(const char* text) { return static_cast<int>(std::strtol(text, nullptr, 10)); }

const config::ConfigEntry* first_line(const char* key) {
  const config::ConfigEntry* cursor = nullptr;
  return config::next_config(key, cursor);
}

// One `pasv_ports` word: "LOW-HIGH" or a single port.
core::PasvRange parse_pasv_range(const char* word) {
  std::string_view text = word;
  std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return {decimal(word), 0};
  std::string low_text(text.substr(0, dash));
  std::string high_text(text.substr(dash + 1));
  int low = decimal(low_text.c_str());
  int high = decimal(high_text.c_str());
  if (high < low) {
    core::error_log("Incorrect pasv_ports range %s-%s: reversing", low_text, high_text);
    std::swap(low, high);
  }
  if (high == low) high = 0;
  return {low, high};
}

}  // namespace

void read_site_paths(core::Session& s) {
  if (const char* path = config::config_value("pwd_path")) core::copy_field(s.passwd_path, path);
  if (const char* hours = config::config_value("timezone")) s.tz_offset = decimal(hours) * 3600;
  if (const char* path = config::config_value("grp_path")) core::copy_field(s.group_path, path);
  if (const char* cache = config::config_value("user_cache")) s.user_cache = decimal(cache);
}

void read_server_settings(core::Session& s) {
  if (const char* path = config::config_value("botscript_path")) core::copy_field(s.botscript_path, path);

  s.mmap_amount = 4;
  if (const char* amount = config::config_value("mmap_amount")) {
    int value = decimal(amount);
    if (value >= 1 && value <= 50) s.mmap_amount = value;
  }

  if (const char* space = config::config_value("free_space")) s.free_space = decimal(space);

  if (const char* unit = config::config_value("use_dir_size")) {
    switch (std::toupper(static_cast<unsigned char>(unit[0]))) {
      case 'K': s.dir_size_unit = 2; break;
      case 'B': s.dir_size_unit = 1; break;
      case 'M': s.dir_size_unit = 3; break;
      default: s.dir_size_unit = 0; break;
    }
  }

  if (const config::ConfigEntry* line = first_line("lslong"); line && line->arg(1)) {
    core::copy_field(s.lslong_options, line->arg(1));
    if (line->arg(2)) s.lslong_depth = static_cast<uint8_t>(decimal(line->arg(2)));
  }

  if (const char* count = config::config_value("file_dl_count"))
    s.file_dl_count = static_cast<uint8_t>(decimal(count));

  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("cscript", cursor)) {
    if (!line->arg(1) || !line->arg(2) || !line->arg(3)) continue;
    core::CustomScript script;
    core::copy_field(script.command, line->arg(1));
    script.when = strcasecmp(line->arg(2), "pre") == 0 ? 1 : strcasecmp(line->arg(2), "post") == 0 ? 2 : 0;
    core::copy_field(script.script, line->arg(3));
    s.cscripts.push_back(script);
  }

  if (const config::ConfigEntry* line = first_line("pasv_ports")) {
    for (int n = 0; n < config::kMaxArgs; ++n)
      s.pasv_ranges[n] = line->arg(n + 1) ? parse_pasv_range(line->arg(n + 1)) : core::PasvRange{};
    s.pasv_next = 0;
  }

  if (const config::ConfigEntry* line = first_line("sim_xfers"); line && line->arg(1)) {
    s.sim_downloads = decimal(line->arg(1));
    if (line->arg(2)) s.sim_uploads = decimal(line->arg(2));
  }
}

}  // namespace startup
