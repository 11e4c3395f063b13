// LIST switches and globbing: the input is a LIST argument ("-laR dir*")
// listed from a small home directory, as a long and as an NLST listing,
// and its file argument expanded as a pattern the way LIST expands it. The
// tree has hidden names and a link back up, so -a and -L have something to
// show. Patterns climbing out with ".." are left out: the real server is
// changed into its root, where ".." goes nowhere.
#include <unistd.h>

#include "core/match.h"
#include "fs/listing.h"
#include "fs/listing_options.h"
#include "fuzz_support.h"

namespace {

const std::string& home_tree() {
  static const std::string home = [] {
    const std::string root = fuzz::scratch_path("home");
    std::filesystem::create_directories(root + "/Some.Release-GRP/Sample");
    std::filesystem::create_directories(root + "/.hidden_dir");
    fuzz::write_file(root + "/Some.Release-GRP/some.r00", "data");
    fuzz::write_file(root + "/Some.Release-GRP/some.sfv", "some.r00 12345678\n");
    fuzz::write_file(root + "/Some.Release-GRP/.message", "hello\n");
    fuzz::write_file(root + "/notes.txt", "");
    std::error_code ignored;
    std::filesystem::create_directory_symlink("..", root + "/Some.Release-GRP/Sample/up", ignored);
    return root;
  }();
  return home;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_state();
  const std::string& home = home_tree();
  static const bool in_home = ::chdir(home.c_str()) == 0;
  if (!in_home) return 0;
  const std::string argument(reinterpret_cast<const char*>(data), size);
  if (argument.find("..") != std::string::npos || argument.find('\0') != std::string::npos) return 0;
  core::Session& s = core::session();
  s.home_dir = home;
  std::snprintf(s.cwd, sizeof s.cwd, "%s", home.c_str());
  s.color_allowed = s.color_mode = 1;

  std::string listing;
  for (const bool nlst : {false, true}) {
    fs::ListingOutput out([&listing](std::string_view bytes) {
      listing.append(bytes);
      return true;
    });
    fs::list_files(argument, nlst, out);
    out.flush();
  }

  fs::ListOptions options = fs::default_list_options(false);
  std::string pattern = fs::parse_list_switches(argument, options);
  if (!pattern.empty() && (pattern.front() == '/' || pattern.front() == '~')) pattern = home + "/" + pattern.substr(1);
  core::glob_expand(pattern);
  return 0;
}
