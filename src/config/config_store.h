// The configuration file: read once at start-up into an ordered list of
// lines (keyword + up to 50 arguments), queried by keyword.
#pragma once

#include <string>
#include <string_view>

namespace config {

inline constexpr int kMaxArgs = 50;

struct ConfigEntry {
  ConfigEntry* next = nullptr;
  // The next line with the same keyword.
  ConfigEntry* next_same = nullptr;
  char keyword[20] = {};
  // The keyword had 20 or more characters and was cut: it matches no key.
  bool keyword_cut = false;
  // The arguments, args[0] the first. A line keeps only the pointers it
  // has: a site's few hundred lines are read by every process it starts.
  int arg_count = 0;
  const char* const* args = nullptr;

  // The n-th argument counting from 1 (arg(1) is the first), or nullptr.
  const char* arg(int n) const { return n >= 1 && n <= arg_count ? args[n - 1] : nullptr; }
};

// The client's dotted address, which `ifip` masks are matched against; set
// by start-up before the file is read.
void set_client_address(std::string_view dotted);

// Reads a configuration file and appends its lines; 1 on success, 0 on
// failure (logged through syslog).
int read_config_file(const char* path);

// Walks the lines with keyword `key`: an empty cursor starts at the head,
// otherwise the search starts after the cursor. Stores and returns the
// match, or nullptr at the end.
const ConfigEntry* next_config(const char* key, const ConfigEntry*& cursor);

// First-match convenience: the first argument of the first `key` line, or
// nullptr when the key or its argument is missing.
const char* config_value(const char* key);

// Forgets every line read so far (tests read several files per process).
void clear_config();

// Where the reader's messages go. The site's own logs are not known before
// the configuration is, so by default they go to syslog at LOG_ERR; tests
// install a sink to see them. nullptr restores syslog.
using ConfigLogSink = void (*)(const std::string& message);
void set_config_log_sink(ConfigLogSink sink);

}  // namespace config
