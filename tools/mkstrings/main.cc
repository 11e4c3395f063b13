// mkstrings: compiles a strings source into the binary strings file the
// server loads, or prints a binary strings file back as source.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/format.h"
#include "core/string_table.h"
#include "core/strings_codec.h"

namespace {

int usage() {
  std::cerr << "usage: mkstrings SOURCE.txt OUTPUT.bin   (compile; warns about records the\n"
               "                                          server needs that are missing or\n"
               "                                          take other arguments)\n"
               "       mkstrings --dump INPUT.bin\n";
  return 2;
}

int dump(const char* path) {
  std::string bytes;
  if (!core::read_file(path, bytes)) {
    std::cerr << "mkstrings: cannot read " << path << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  std::vector<core::StringRecord> records;
  const core::DecodeResult result = core::decode_strings(bytes, false, records);
  std::cout << core::write_strings_source(records);
  if (result.status == core::DecodeStatus::Ok) return 0;
  std::cerr << "mkstrings: " << path << ": record #" << result.number
            << (result.status == core::DecodeStatus::Corrupted ? " is corrupted\n"
                                                               : " has fewer lines than its header says\n");
  return 1;
}

// A site may word its texts freely, but a record the server sends must
// exist and take the arguments the server passes; anything else would show
// "No such string" or empty fields. Reported, not refused: the site decides.
void warn_about_table(const char* source_path, const std::vector<core::StringRecord>& records) {
  for (const core::StringUse& use : core::string_table()) {
    const core::StringRecord* found = nullptr;
    for (const core::StringRecord& record : records)
      if (static_cast<int>(record.number) == use.number) {
        found = &record;
        break;
      }
    if (!found) {
      std::cerr << source_path << ": warning: record @" << use.number << " is missing ("
                << use.note << ")\n";
      continue;
    }
    const std::string kinds = core::format_argument_kinds(found->lines.back());
    if (kinds != use.kinds)
      std::cerr << source_path << ": warning: record @" << use.number << " converts \""
                << kinds << "\" but the server passes \"" << use.kinds << "\" (" << use.note
                << ")\n";
  }
}

int compile(const char* source_path, const char* output_path) {
  std::string source;
  if (!core::read_file(source_path, source)) {
    std::cerr << "mkstrings: cannot read " << source_path << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  std::vector<core::StringRecord> records;
  core::SourceError error;
  if (!core::parse_strings_source(source, records, error)) {
    std::cerr << source_path << ":" << error.line << ": " << error.message << "\n";
    return 1;
  }
  warn_about_table(source_path, records);
  // Written beside the target and renamed, so a running site never loads a
  // half-written file.
  const std::string temporary = std::string(output_path) + ".tmp";
  const std::string bytes = core::encode_strings(records);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::cerr << "mkstrings: cannot write " << temporary << "\n";
      std::remove(temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), output_path) != 0) {
    std::cerr << "mkstrings: cannot rename " << temporary << " to " << output_path << ": "
              << std::strerror(errno) << "\n";
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--dump") == 0) return dump(argv[2]);
  if (argc == 3 && argv[1][0] != '-') return compile(argv[1], argv[2]);
  return usage();
}
