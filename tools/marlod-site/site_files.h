// File helpers shared by the marlod-site sub-commands: whole-file reads,
// exclusive writes, the configuration rewrite and the strings compile.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace site_tool {

// Reads `path` whole into `content`; false (after a message) on failure.
bool read_whole_file(const std::filesystem::path& path, std::string& content);

// Creates `path` (which must not exist) holding `content` with `mode`;
// false (after a message, with nothing left behind) on failure.
bool write_new_file(const std::filesystem::path& path, std::string_view content, unsigned mode);

// The sample configuration with the values of its `rootpath`, `datapath`
// and `ipc_key` lines replaced; a key the sample lacks is added at the top.
std::string site_config_text(std::string_view sample, std::string_view root,
                             std::string_view data_path, std::string_view ipc_key);

// Compiles the strings source into the binary strings file the daemon
// loads; false (after a message) on a malformed source or a write error.
bool compile_strings_file(const std::filesystem::path& source, const std::filesystem::path& output);

}  // namespace site_tool
