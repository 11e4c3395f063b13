// Text files: the input shown as a text file with its directives (it may
// include itself as "show.txt", and the site's own templates are in place
// for the list directives) and expanded as one cookie template. %EXEC is
// taken out first: the fuzzer must not run programs it happens to name.
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "text/cookies.h"
#include "text/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_state();
  static const bool in_scratch = ::chdir(fuzz::scratch_dir().c_str()) == 0;
  if (!in_scratch) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (std::size_t at = text.find("%EXEC"); at != std::string::npos; at = text.find("%EXEC", at)) text[at + 1] = 'e';
  // A user with flags and a group, so the conditional cookies have
  // something to test.
  core::Session& s = core::session();
  std::snprintf(s.user.flags, sizeof s.user.flags, "13A");
  std::snprintf(s.user.groups[0], sizeof s.user.groups[0], "staff");

  fuzz::write_file("show.txt", text);
  try {
    text::show_text_file(200, "show.txt");
    struct stat status {};
    ::stat("show.txt", &status);
    text::expand_cookie_text(text, &status);
  } catch (const fuzz::SessionEnded&) {
  }
  return 0;
}
