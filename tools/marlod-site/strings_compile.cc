// Compiles a site's strings source into the binary strings file with the
// same codec that mkstrings uses.
#include <cstdio>
#include <string>
#include <vector>

#include "core/strings_codec.h"
#include "site_files.h"

namespace site_tool {

bool compile_strings_file(const std::filesystem::path& source, const std::filesystem::path& output) {
  std::string text;
  if (!read_whole_file(source, text)) return false;
  std::vector<core::StringRecord> records;
  core::SourceError error;
  if (!core::parse_strings_source(text, records, error)) {
    std::fprintf(stderr, "marlod-site: %s:%d: %s\n", source.c_str(), error.line, error.message.c_str());
    return false;
  }
  return write_new_file(output, core::encode_strings(records), 0644);
}

}  // namespace site_tool
