// mkstrings: compiles a strings source into the binary strings file the
// server loads, or prints a binary strings file back as source.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "text/format.h"
#include "text/string_table.h"
#include "text/strings_codec.h"
#include "userdb/file_io.h"

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
  if (!userdb::read_file(path, bytes)) {
    std::cerr << "mkstrings: cannot read " << path << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  std::vector<text::StringRecord> records;
  const text::DecodeResult result = text::decode_strings(bytes, false, records);
  std::cout << text::write_strings_source(records);
  if (result.status == text::DecodeStatus::Ok) return 0;
  std::cerr << "mkstrings: " << path << ": record #" << result.number
            << (result.status == text::DecodeStatus::Corrupted ? " is corrupted\n"
                                                               : " has fewer lines than its header says\n");
  return 1;
}

// A site may word its texts freely, but a record the server sends must
// exist and take the arguments the server passes; anything else would show
// "No such string" or empty fields. Reported, not refused: the site decides.
void warn_about_table(const char* source_path, const std::vector<text::StringRecord>& records) {
  for (const text::StringUse& use : text::string_table()) {
    const text::StringRecord* found = nullptr;
    for (const text::StringRecord& record : records)
      if (static_cast<int>(record.number) == use.number) {
        found = &record;
        break;
      }
    if (!found) {
      std::cerr << source_path << ": warning: record @" << use.number << " is missing ("
                << use.note << ")\n";
      continue;
    }
    const std::string kinds = text::format_argument_kinds(found->lines.back());
    if (kinds != use.kinds)
      std::cerr << source_path << ": warning: record @" << use.number << " converts \""
                << kinds << "\" but the server passes \"" << use.kinds << "\" (" << use.note
                << ")\n";
  }
}

int compile(const char* source_path, const char* output_path) {
  std::string source;
  if (!userdb::read_file(source_path, source)) {
    std::cerr << "mkstrings: cannot read " << source_path << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  std::vector<text::StringRecord> records;
  text::SourceError error;
  if (!text::parse_strings_source(source, records, error)) {
    std::cerr << source_path << ":" << error.line << ": " << error.message << "\n";
    return 1;
  }
  warn_about_table(source_path, records);
  // Written beside the target and renamed, so a running site never loads a
  // half-written file.
  const std::string temporary = std::string(output_path) + ".tmp";
  const std::string bytes = text::encode_strings(records);
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
