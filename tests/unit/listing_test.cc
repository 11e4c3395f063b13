// The built-in listing: switches, the three formats, what is left out,
// colours, download counts, directory sizes, sorting and recursion.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "core/session.h"
#include "fs/listing.h"
#include "fs/listing_format.h"
#include "fs/listing_options.h"
#include "fs/listing_output.h"
#include "scratch_site.h"

namespace {

namespace stdfs = std::filesystem;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return lines;
}

// The name column: what follows the time of a long line.
std::string name_of(const std::string& line) {
  std::istringstream words(line);
  std::string word;
  for (int i = 0; i < 8 && words >> word;) ++i;
  std::string rest;
  std::getline(words, rest);
  return rest.empty() ? rest : rest.substr(1);
}

class ListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.make_dir("site");
    site_.write("etc/passwd", "alice:x:1001:1200::/site:/bin/false\n");
    site_.write("etc/group", "Staff::1200:0\nOther::300:0\n");
    core::Session& s = core::session();
    s = core::Session{};
    s.home_dir = home_;
    std::snprintf(s.cwd, sizeof s.cwd, "%s", home_.c_str());
    std::snprintf(s.passwd_path, sizeof s.passwd_path, "%s/etc/passwd", root_.c_str());
    std::snprintf(s.group_path, sizeof s.group_path, "%s/etc/group", root_.c_str());
    configure("");
  }
  void TearDown() override { config::clear_config(); }

  void configure(const std::string& text) {
    config::clear_config();
    if (!text.empty()) scratch::load_config(site_ / "marlod.conf", text);
  }

  std::string file(const std::string& name, std::size_t size = 0, mode_t mode = 0644) {
    const std::string path = home_ + "/" + name;
    scratch::write_file(path, std::string(size, 'x'));
    ::chmod(path.c_str(), mode);
    return path;
  }
  std::string dir(const std::string& name) {
    const std::string path = home_ + "/" + name;
    stdfs::create_directories(path);
    return path;
  }
  static void set_mtime(const std::string& path, time_t when) {
    struct timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::lutimes(path.c_str(), times), 0);
  }

  std::string list(const std::string& argument, bool nlst = false, int* status = nullptr) {
    std::string text;
    fs::ListingOutput out(fs::string_writer(text), 64);
    const int result = fs::list_files(argument, nlst, out);
    if (status) *status = result;
    return text;
  }
  std::vector<std::string> names(const std::string& argument) {
    std::vector<std::string> found;
    for (const std::string& line : lines_of(list(argument)))
      if (line.rfind("total ", 0) != 0) found.push_back(name_of(line));
    return found;
  }

  const scratch::ScratchDir site_{"listing"};
  const std::string root_ = site_.path();
  const std::string home_ = site_ / "site";
};

TEST_F(ListingTest, LongLineHasEveryColumn) {
  const std::string path = file("song.mp3", 1234);
  ASSERT_EQ(::chown(path.c_str(), 1001, 1200), 0);
  set_mtime(path, time(nullptr) - 3600);
  const std::vector<std::string> lines = lines_of(list(""));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "total 3");
  const std::string& line = lines[1];
  EXPECT_EQ(line.substr(0, 42), "-rw-r--r--   1 alice    Staff        1234 ") << line;
  EXPECT_EQ(line.substr(54), " song.mp3");
  EXPECT_EQ(line[45], ' ');
  EXPECT_EQ(line[51], ':') << "a recent file shows the time of day";
}

TEST_F(ListingTest, UnknownIdsAndNumericSwitchShowNumbers) {
  const std::string path = file("f");
  ASSERT_EQ(::chown(path.c_str(), 4242, 777), 0);
  EXPECT_NE(list("").find(" 4242     700      "), std::string::npos) << list("");
  ASSERT_EQ(::chown(path.c_str(), 1001, 1200), 0);
  EXPECT_NE(list("-ln").find(" 1001     1200     "), std::string::npos);
  EXPECT_EQ(list("-lG").find("Staff"), std::string::npos);
}

TEST_F(ListingTest, ExecutablesAreColouredOnlyInLongListings) {
  file("run.sh", 1, 0755);
  core::Session& s = core::session();
  s.color_allowed = 1;
  s.color_mode = 1;
  // (Download counts and the plain and directory colours: the end-to-end tests.)
  EXPECT_NE(list("").find("\033[01;32mrun.sh\033[0m"), std::string::npos);
  // NLST never colours, nor does a user whose colours are not allowed.
  EXPECT_EQ(list("-1", true).find('\033'), std::string::npos);
  s.color_allowed = 0;
  EXPECT_EQ(list("").find('\033'), std::string::npos);
}

TEST_F(ListingTest, LinksShowTheirTargetAndOrphansTheirColour) {
  file("target");
  stdfs::create_symlink("target", home_ + "/good");
  stdfs::create_symlink("missing", home_ + "/bad");
  const std::string text = list("");
  EXPECT_NE(text.find(" good -> target\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" bad -> missing\r\n"), std::string::npos);
  core::Session& s = core::session();
  s.color_allowed = s.color_mode = 1;
  const std::string coloured = list("");
  EXPECT_NE(coloured.find("\033[01;31mbad\033[0m -> missing"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\033[01;36mgood\033[0m -> \033[0mtarget\033[0m"), std::string::npos);
}

TEST_F(ListingTest, OldAndFutureFilesShowTheYear) {
  const time_t now = time(nullptr);
  set_mtime(file("old"), now - 200 * 86400);
  set_mtime(file("future"), now + 2 * 3600);
  set_mtime(file("soon"), now + 1800);
  for (const std::string& line : lines_of(list(""))) {
    if (line.rfind("total", 0) == 0) continue;
    const bool shows_clock = line.find(':') != std::string::npos;
    EXPECT_EQ(shows_clock, name_of(line) == "soon") << line;
  }
}

TEST_F(ListingTest, DirectorySizesReplaceTheEntrySize) {
  configure("use_dir_size K " + home_ + "\n");
  core::session().dir_size_unit = 2;
  dir("small");
  file("small/a", 100);
  dir("big");
  file("big/a", 3 * 1024);
  file("big/b", 1024);
  dir("big/nested");
  file("big/nested/c", 100 * 1024);  // one level only
  dir("empty");
  const std::string text = list("");
  EXPECT_NE(text.find("        1 "), std::string::npos) << text;
  EXPECT_NE(text.find("        4 "), std::string::npos) << text;
  EXPECT_NE(text.find("        0 "), std::string::npos) << text;
  // Outside the configured prefixes the entry size shows.
  configure("use_dir_size K /elsewhere\n");
  EXPECT_EQ(list("").find("        1 "), std::string::npos);
}

TEST_F(ListingTest, SortsByEachKeyAndReverses) {
  const time_t now = time(nullptr);
  set_mtime(file("b.txt", 30), now - 30);
  set_mtime(file("a.zip", 10), now - 10);
  set_mtime(file("c", 20), now - 20);
  EXPECT_EQ(names(""), (std::vector<std::string>{"a.zip", "b.txt", "c"}));
  EXPECT_EQ(names("-lr"), (std::vector<std::string>{"c", "b.txt", "a.zip"}));
  EXPECT_EQ(names("-lt"), (std::vector<std::string>{"a.zip", "c", "b.txt"}));
  EXPECT_EQ(names("-lS"), (std::vector<std::string>{"b.txt", "c", "a.zip"}));
  EXPECT_EQ(names("-lX"), (std::vector<std::string>{"c", "b.txt", "a.zip"}));
  EXPECT_EQ(names("-lSr"), (std::vector<std::string>{"a.zip", "c", "b.txt"}));
}

// Names that share long prefixes, end inside one another or carry bytes
// above 127 come out in byte order, both ways: among themselves, where
// their first differing bytes decide, and beside a name of one letter,
// where most share all of their first eight.
TEST_F(ListingTest, NamesSortInByteOrderWhateverTheyShare) {
  const std::vector<std::string> releases = {"release.2024.part10", "release.2024.part1", "release.2024.part2",
                                             "release.2024", "release.2024.part1a", "release.2024.\xc3\xa9",
                                             "release.2024.partZ", "release.2023.part9"};
  for (const std::string& extra : {std::string(), std::string("r")}) {
    std::vector<std::string> made = releases;
    if (!extra.empty()) made.push_back(extra);
    for (const std::string& name : made) file(name);
    std::sort(made.begin(), made.end());
    EXPECT_EQ(names(""), made) << "with '" << extra << "'";
    std::reverse(made.begin(), made.end());
    EXPECT_EQ(names("-lr"), made) << "with '" << extra << "'";
  }
}

// A directory large enough that its status calls are shared between two
// threads: each entry shows its own size, in name order.
TEST_F(ListingTest, ALargeDirectoryShowsEveryEntryWithItsOwnStatus) {
  dir("big");
  std::vector<std::string> expected;
  for (int i = 0; i < 1500; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%04d", i);
    file(std::string("big/") + name, static_cast<std::size_t>(i % 97));
    expected.push_back(std::to_string(i % 97) + " " + name);
  }
  std::vector<std::string> shown;
  for (const std::string& line : lines_of(list("-l big"))) {
    if (line.rfind("total ", 0) == 0) continue;
    std::istringstream words(line);
    std::string word, size;
    for (int i = 0; i < 5 && words >> word; ++i) size = word;
    shown.push_back(size + " " + name_of(line));
  }
  EXPECT_EQ(shown, expected);
}

TEST_F(ListingTest, RecursionListsSubdirectoriesWithHeaders) {
  dir("a/deep");
  file("a/deep/f");
  file("top");
  const std::vector<std::string> lines = lines_of(list("-1R"));
  EXPECT_EQ(lines, (std::vector<std::string>{"/:", "a", "top", "", "/a:", "deep", "", "/a/deep:", "f"}));
}

TEST_F(ListingTest, RecursionThroughLinkLoopsEnds) {
  dir("a");
  stdfs::create_symlink("..", home_ + "/a/up");
  int status = 0;
  const std::string text = list("-1RL", false, &status);
  EXPECT_NE(text.find("/a:"), std::string::npos);
  EXPECT_LT(text.size(), 200u) << text;
}

TEST_F(ListingTest, ColumnsRunDownAndClassifyMarksTypes) {
  for (const char* name : {"aa", "bb", "cc", "dd", "ee"}) file(name);
  dir("zz");
  file("x", 0, 0755);
  // 7 entries of width 2 (+2) in 80 columns fit on one row.
  EXPECT_EQ(lines_of(list("-C")), (std::vector<std::string>{"aa  bb  cc  dd  ee  x   zz"}));
  EXPECT_EQ(lines_of(list("-CF")), (std::vector<std::string>{"aa   bb   cc   dd   ee   x*   zz/"}));
  EXPECT_EQ(lines_of(list("-1F")).back(), "zz/");
}

TEST_F(ListingTest, BlocksAndKilobytes) {
  file("f", 2000);
  EXPECT_EQ(lines_of(list("-1s")), (std::vector<std::string>{"total 4", "   4 f"}));
  EXPECT_EQ(lines_of(list("-1sk")), (std::vector<std::string>{"total 2", "   2 f"}));
}

// (".." and "/" at home: the end-to-end tests.)
TEST_F(ListingTest, ALinkOutOfHomeListsHome) {
  stdfs::create_directories(root_ + "/outside");
  stdfs::create_symlink(root_ + "/outside", home_ + "/escape");
  EXPECT_EQ(fs::listing_path("escape"), home_);
}

TEST_F(ListingTest, DefaultSwitchesComeFromLslong) {
  file(".dot");
  std::snprintf(core::session().lslong_options, sizeof core::session().lslong_options, "-A");
  EXPECT_EQ(names(""), (std::vector<std::string>{".dot"}));
  EXPECT_EQ(lines_of(list("-1", true)), (std::vector<std::string>{".dot"}));
}

TEST_F(ListingTest, FailedOutputStopsQuietly) {
  for (int n = 0; n < 50; ++n) file("f" + std::to_string(n));
  int calls = 0;
  fs::ListingOutput out([&calls](std::string_view) { return ++calls > 1 ? false : true; }, 16);
  fs::list_files("-la", false, out);
  EXPECT_TRUE(out.failed());
  EXPECT_GT(out.byte_count(), 0u);
}

TEST(ListingSwitches, ParseLettersAndTheFileArgument) {
  fs::ListOptions options = fs::default_list_options(false);
  EXPECT_EQ(fs::parse_list_switches("-laRt some dir", options), "some dir");
  EXPECT_EQ(options.show_dotfiles, fs::Dotfiles::All);
  EXPECT_TRUE(options.recursive);
  EXPECT_EQ(options.sort_type, fs::SortType::Time);
  options = fs::default_list_options(false);
  EXPECT_EQ(fs::parse_list_switches("-f", options), "");
  EXPECT_EQ(options.format, fs::ListFormat::OnePerLine);
  EXPECT_EQ(options.sort_type, fs::SortType::None);
  options = fs::default_list_options(true);
  EXPECT_EQ(fs::parse_list_switches("plain name", options), "plain name");
  EXPECT_EQ(options.format, fs::ListFormat::OnePerLine);
  EXPECT_TRUE(options.needs_no_status());
  fs::parse_list_switches("-F", options);
  EXPECT_FALSE(options.needs_no_status());
}

TEST(ListingFormat, ModeTextShowsSpecialBits) {
  EXPECT_EQ(fs::mode_text(S_IFDIR | 0755), "drwxr-xr-x");
  EXPECT_EQ(fs::mode_text(S_IFREG | 04755), "-rwsr-xr-x");
  EXPECT_EQ(fs::mode_text(S_IFREG | 02644), "-rw-r-Sr--");
  EXPECT_EQ(fs::mode_text(S_IFDIR | 01777), "drwxrwxrwt");
  EXPECT_EQ(fs::mode_text(S_IFDIR | 01770), "drwxrwx--T");
  EXPECT_EQ(fs::mode_text(S_IFLNK | 0777), "lrwxrwxrwx");
  EXPECT_EQ(fs::mode_text(S_IFIFO | 0600), "prw-------");
}

TEST(ListingFormat, TimeTextAndBlockWidth) {
  const time_t now = 1780000000;  // 2026-05-28
  std::string text;
  fs::append_time(text, now - 60, now);
  EXPECT_EQ(text, "May 28 20:25");
  text.clear();
  fs::append_time(text, 1000000000, now);  // 2001-09-09
  EXPECT_EQ(text, "Sep  9  2001");
  EXPECT_EQ(fs::block_width(9999), 4);
  EXPECT_EQ(fs::block_width(10000), 5);
  EXPECT_EQ(fs::block_width(1000000), 7);
}

}  // namespace
