// The configuration reader: a file (and a second one it may include as
// "inc.conf") read for a client at 10.1.2.3, then the rule checks every
// command makes run over the lines it produced.
#include <unistd.h>

#include "config/access_rules.h"
#include "fuzz_support.h"

namespace {

constexpr const char* kPaths[] = {"/site/incoming/Some.Release-GRP/file.r00", "/site/incoming", "/", "/site/x y"};
constexpr const char* kPathKeys[] = {"upload", "download", "delete", "makedir", "rename", "hideinwho", "nodupecheck"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_state();
  // Relative includes are taken from the scratch directory.
  static const bool in_scratch = ::chdir(fuzz::scratch_dir().c_str()) == 0;
  if (!in_scratch) return 0;
  const auto parts = fuzz::split_input(std::string_view(reinterpret_cast<const char*>(data), size), 2);
  fuzz::write_file("main.conf", parts[0]);
  fuzz::write_file("inc.conf", parts[1]);
  config::set_client_address("10.1.2.3");
  config::read_config_file("main.conf");

  for (const config::ConfigEntry* cursor = nullptr; config::next_config(nullptr, cursor) != nullptr;)
    config::acl_match(nullptr, 1, cursor);
  for (const char* path : kPaths) {
    for (const char* key : kPathKeys)
      for (int kind = config::kPathAsGiven; kind <= config::kPathIsDirectory; ++kind)
        config::path_allowed(key, path, kind);
    config::privpath_allowed(path);
    config::retrieve_allowed(path);
    config::name_filter(path);
    std::string name;
    config::section_name_of(path, name);
    config::credit_section_of(path);
  }
  if (const char* message = config::config_value("welcome_msg")) config::expand_user_tokens(message);
  config::clear_config();
  return 0;
}
