// The directory-log, nuke-log and dupe-file record readers: the first byte
// picks the file, the rest is its content. Each file is read by every
// reader, shown through the site's templates, and changed by the writers
// that rewrite records in place.
#include "fuzz_support.h"
#include "releases/dirlog.h"
#include "releases/dupe_file.h"
#include "releases/nukelog.h"
#include "text/list_directives.h"

namespace {

const releases::PathFilter kShowAll = [](std::string_view) { return true; };

void read_dirlog() {
  releases::dirlog_newest("/", 0);
  releases::dirlog_newest("/site", 3);
  releases::dirlog_search("a Release", kShowAll);
  for (int n = 1; n <= 3; ++n) releases::cwd_to_newest(n, kShowAll);
  text::show_recent_directories(200, 10, "/");
  releases::dirlog_add_bytes("/site/incoming/Some.Release-GRP/CD1", 1000, false);
  releases::dirlog_change("/site/incoming/Some.Release-GRP", std::nullopt, releases::kDirNuked);
}

void read_nukelog() {
  releases::recent_nukes(releases::kNuked, 0);
  releases::recent_nukes(releases::kUnnuked, 3);
  text::show_recent_nukes(200, 10);
  text::show_recent_unnukes(200, 10);
  releases::nuke_multiplier_of("/site/incoming/Some.Release-GRP");
  releases::nukelog_unnuke("/site/incoming/Some.Release-GRP", "fuzzer", "fixed");
}

void read_dupe_file() {
  for (const bool ignore_case : {false, true}) releases::dupe_find("some.r00", 0, ignore_case);
  releases::dupe_expire("*.nfo", 0, false);
  releases::dupe_remove("/site/incoming/some.r00", true);
  releases::dupe_add("/site/incoming/Some.Release-GRP/new.r01");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  fuzz::reset_state("dupe_check 7 yes\nignore_type *.diz\n");
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      fuzz::write_file(releases::dirlog_path(), content);
      read_dirlog();
      std::filesystem::remove(releases::dirlog_path());
      break;
    case 1:
      fuzz::write_file(releases::nukelog_path(), content);
      read_nukelog();
      std::filesystem::remove(releases::nukelog_path());
      break;
    default:
      fuzz::write_file(releases::dupe_file_path(), content);
      read_dupe_file();
      std::filesystem::remove(releases::dupe_file_path());
      break;
  }
  return 0;
}
