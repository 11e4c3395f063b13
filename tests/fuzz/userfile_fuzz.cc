// The userfile reader: a userfile read from the users folder as a login
// reads it, then parsed with every number of statistics sections and
// written back. A userfile the server wrote must read back to the same
// text (the first write may tidy what a person typed).
#include <ctime>

#include "fuzz_support.h"
#include "userdb/userfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_state();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz::write_file(fuzz::scratch_path("data/users/someone"), text);
  userdb::read_userfile("someone");

  const time_t today = 1'700'000'000;
  const int sections = size > 0 ? data[0] % 11 : 0;
  core::UserRecord record{};
  std::string home;
  userdb::parse_userfile(text, "someone", sections, today, record, &home);
  core::UserRecord tidied{};
  userdb::parse_userfile(userdb::format_userfile(record, sections), "someone", sections, today, tidied, &home);
  const std::string written = userdb::format_userfile(tidied, sections);
  core::UserRecord again{};
  userdb::parse_userfile(written, "someone", sections, today, again, &home);
  if (userdb::format_userfile(again, sections) != written) __builtin_trap();
  return 0;
}
