// The strings-file loader: the input read as a compiled strings file and
// as strings source text; every record loaded is then sent as a reply with
// arguments of each kind, so the record texts reach the reply formatter.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_state();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::vector<core::StringRecord> records;
  core::decode_strings(bytes, size > 0 && (data[0] & 1), records);
  core::SourceError error;
  std::vector<core::StringRecord> from_source;
  if (core::parse_strings_source(bytes, from_source, error)) {
    // What the source compiles to reads back, and writes out as source
    // that parses again.
    std::vector<core::StringRecord> decoded;
    std::vector<core::StringRecord> reparsed;
    if (core::decode_strings(core::encode_strings(from_source), false, decoded).status == core::DecodeStatus::Ok &&
        !core::parse_strings_source(core::write_strings_source(decoded), reparsed, error))
      __builtin_trap();
  }

  const std::string path = fuzz::scratch_path("fuzzed.bin");
  fuzz::write_file(path, bytes);
  if (core::load_strings(path) == 0) {
    const std::string_view words = "word";
    for (const core::StringRecord& record : records) {
      const int number = static_cast<int>(record.number);
      core::string_reply(200, number, 0, words, -42, 3.5, 7u, 'c', words);
      core::string_reply(200, number, 1, 1234567890123LL);
    }
    core::string_reply(200, 1, 0, "x");
  }
  return 0;
}
