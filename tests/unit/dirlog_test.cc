// The directory log: record bytes, the parent-directory rule, totals that
// saturate, size texts, many writers at once, UPDATE racing adds, torn
// tails, and the NEW / SEARCH / numbered CWD readers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "core/path_text.h"
#include "core/session.h"
#include "releases/dirlog.h"
#include "scratch_site.h"

namespace {

using releases::DirlogEntry;
namespace stdfs = std::filesystem;

class DirlogSite : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.make_dir("logs");
    core::Session& s = core::session();
    s = core::Session{};
    std::snprintf(s.data_path, sizeof s.data_path, "%s", site_.path().c_str());
    s.account.uid = 1001;
    s.account.gid = 300;
    scratch::load_config(site_ / "marlod.conf", "# none\n");
  }
  void TearDown() override { config::clear_config(); }

  std::string dirlog() const { return site_ / "logs/dirlog"; }

  static DirlogEntry entry(const std::string& path, uint16_t status = 0, int32_t time = 1000, uint16_t files = 0,
                           uint32_t bytes = 0) {
    DirlogEntry e{};
    e.status = status;
    e.time = time;
    e.files = files;
    e.bytes = bytes;
    std::memcpy(e.path, path.data(), std::min(path.size(), sizeof e.path));
    return e;
  }
  static std::string bytes_of(const std::vector<DirlogEntry>& entries) {
    return std::string(reinterpret_cast<const char*>(entries.data()), entries.size() * sizeof(DirlogEntry));
  }
  void write_log(const std::vector<DirlogEntry>& entries, const std::string& tail = "") const {
    scratch::write_file(dirlog(), bytes_of(entries) + tail);
  }
  std::vector<DirlogEntry> records() const { return scratch::read_records<DirlogEntry>(dirlog()); }

  const scratch::ScratchDir site_{"dirlog"};
};

TEST(PathWithin, PrefixEndsAtASlashOrTheEnd) {
  struct Case {
    const char* path;
    const char* prefix;
    bool within;
  } cases[] = {
      {"/site/rel", "/site/rel", true},       {"/site/rel/CD1", "/site/rel", true},
      {"/site/rel2", "/site/rel", false},     {"/site/rel2/CD1", "/site/rel", false},
      {"/site", "/site/rel", false},          {"/site/rel/CD1", "/site/rel/", true},
      {"/site/rel", "/", true},               {"/", "/", true},
      {"/site/relx", "/site/rel/", false},    {"/sitex", "/site", false},
  };
  for (const Case& c : cases) EXPECT_EQ(core::path_within(c.path, c.prefix), c.within) << c.path << " in " << c.prefix;
}

TEST_F(DirlogSite, AnAddAppendsExactBytesToARootOwnedFile) {
  core::session().tz_offset = 7200;
  const time_t before = core::now();
  ASSERT_TRUE(releases::dirlog_add("/site/incoming/Some.Release-GRP"));
  const time_t after = core::now();

  const std::string bytes = scratch::read_file(dirlog());
  ASSERT_EQ(bytes.size(), 284u);
  int32_t stamp = 0;
  std::memcpy(&stamp, bytes.data() + 4, 4);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  std::string expected(284, '\0');
  const unsigned char head[] = {0, 0, 0, 0, 0, 0, 0, 0, 0xE9, 0x03, 0x2C, 0x01};  // uid 1001, gid 300
  std::memcpy(expected.data(), head, sizeof head);
  std::memcpy(expected.data() + 4, &stamp, 4);
  const std::string path = "/site/incoming/Some.Release-GRP";
  std::memcpy(expected.data() + 20, path.data(), path.size());
  EXPECT_EQ(bytes, expected);

  struct stat st{};
  ASSERT_EQ(::stat(dirlog().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(st.st_uid, 0u);
}

TEST_F(DirlogSite, APathOf255BytesFillsTheFieldUnterminated) {
  const std::string path = "/" + std::string(300, 'x');
  ASSERT_TRUE(releases::dirlog_add(path));
  const std::vector<DirlogEntry> list = records();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(releases::entry_path(list[0]), path.substr(0, 255));
  EXPECT_EQ(list[0].pad3, 0);
}

TEST(DirlogTotals, SaturateAndClamp) {
  struct Case {
    uint16_t files;
    uint32_t bytes;
    uint64_t add;
    bool subtract;
    uint16_t files_after;
    uint32_t bytes_after;
  } cases[] = {
      {0, 0, 1000, false, 1, 1000},
      {65535, 10, 5, false, 65535, 15},
      {3, 4294967000u, 1000, false, 4, 4294967295u},
      {3, 100, 10000000000ull, false, 4, 4294967295u},
      {2, 100, 1000, true, 1, 0},
      {0, 500, 100, true, 0, 400},
      {1, 4294967295u, 10000000000ull, true, 0, 0},
  };
  for (const Case& c : cases) {
    DirlogEntry e{};
    e.files = c.files;
    e.bytes = c.bytes;
    releases::apply_file(e, c.add, c.subtract);
    EXPECT_EQ(e.files, c.files_after) << c.files << "/" << c.bytes << (c.subtract ? " - " : " + ") << c.add;
    EXPECT_EQ(e.bytes, c.bytes_after) << c.files << "/" << c.bytes << (c.subtract ? " - " : " + ") << c.add;
  }
}

TEST(DirlogSizes, MegabytesOf1024000AndGigabytesOf1073741824) {
  struct Case {
    unsigned files;
    uint64_t bytes;
    const char* size;
    const char* column;
  } cases[] = {
      {0, 0, "0.0M", "   =Empty= "},
      {1, 2048000, "2.0M", "  1F   2.0M"},
      {12, 1073741824, "1048.6M", " 12F1048.6M"},
      {12, 1073741825, "1.000G", " 12F 1.000G"},
      {150, 2000000000, "1.863G", "150F 1.863G"},
      {9999, 51200000000ull, "47.684G", "9999F47.684G"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(releases::size_text(c.bytes), c.size) << c.bytes;
    EXPECT_EQ(releases::files_size_text(c.files, c.bytes), c.column) << c.bytes;
  }
}

TEST_F(DirlogSite, ConcurrentUploadsCountIntoEveryParentAndNoSibling) {
  write_log({entry("/site/rel"), entry("/site/rel/CD1"), entry("/site/rel2", 0, 1000, 5, 777),
             entry("/site/rel/CD1", 3, 1000, 9, 99)});
  EXPECT_EQ(scratch::failed_children(8, [](int) {
              for (int n = 0; n < 100; ++n)
                if (releases::dirlog_add_bytes("/site/rel/CD1", 1000, false) != 2) return false;
              return true;
            }),
            0);
  const std::vector<DirlogEntry> list = records();
  ASSERT_EQ(list.size(), 4u);
  for (int i : {0, 1}) {
    EXPECT_EQ(list[i].files, 800) << i;
    EXPECT_EQ(list[i].bytes, 800000u) << i;
  }
  EXPECT_EQ(bytes_of({list[2], list[3]}),
            bytes_of({entry("/site/rel2", 0, 1000, 5, 777), entry("/site/rel/CD1", 3, 1000, 9, 99)}));
}

TEST_F(DirlogSite, UpdateRacingAddsLosesNone) {
  const std::string disk = site_.make_dir("site");
  site_.write("site/Old.Release/a.bin", std::string(5000, 'a'));
  write_log({});

  int updates_ok = 0;
  const auto adds = [](int) {
    for (int n = 0; n < 100; ++n)
      if (!releases::dirlog_add("/added/" + std::to_string(n))) return false;
    return true;
  };
  const auto updates = [&] {
    for (int round = 0; round < 30; ++round) updates_ok += releases::dirlog_update(disk, "*").ok ? 1 : 0;
  };
  ASSERT_EQ(scratch::failed_children(1, adds, updates), 0);
  EXPECT_EQ(updates_ok, 30);
  ASSERT_TRUE(releases::dirlog_update(disk, "*").ok);

  std::multiset<std::string> paths;
  for (const DirlogEntry& e : records()) paths.emplace(releases::entry_path(e));
  EXPECT_EQ(paths.size(), 101u);
  for (int n = 0; n < 100; ++n) EXPECT_EQ(paths.count("/added/" + std::to_string(n)), 1u) << n;
  EXPECT_EQ(paths.count(disk + "/Old.Release"), 1u);
  EXPECT_FALSE(stdfs::exists(dirlog() + ".lock"));
}

TEST_F(DirlogSite, UpdateCountsFilesWithoutLinksOrMessagesAndSortsByTime) {
  const std::string disk = site_.make_dir("site");
  site_.write("site/B.Rel/one.bin", std::string(1000, 'x'));
  site_.write("site/B.Rel/.message", "hello");
  site_.write("site/B.Rel/Sample/two.bin", std::string(234, 'y'));
  site_.write("site/B.Rel/Sample/.message", "hi");
  stdfs::create_symlink(disk + "/B.Rel/one.bin", disk + "/B.Rel/link.bin");
  site_.write("site/Elsewhere/big.bin", std::string(9999, 'z'));
  stdfs::create_symlink(disk + "/Elsewhere", disk + "/B.Rel/Linked");
  stdfs::create_symlink(disk + "/Elsewhere", disk + "/B.Link");
  site_.write("site/B.File", "plain file");
  site_.make_dir("site/B.Locked");
  ::chmod((disk + "/B.Locked").c_str(), 0500);
  site_.make_dir("site/Other");
  struct timespec times[2] = {{0, UTIME_OMIT}, {5000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (disk + "/B.Rel").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);

  DirlogEntry stale = entry(disk + "/B.Rel", 1, 9000, 1, 1);
  stale.next_link = 77;
  write_log({entry("/z/late", 0, 8000), stale, entry("/a/early", 0, 100)});
  const struct stat before = [&] {
    struct stat st{};
    ::stat(dirlog().c_str(), &st);
    return st;
  }();

  const releases::UpdateResult result = releases::dirlog_update(disk, "b.*");
  ASSERT_TRUE(result.ok);
  using L = releases::UpdateLine;
  std::vector<std::pair<int, std::string>> lines;
  for (const L& line : result.lines) lines.emplace_back(line.kind, line.text);
  EXPECT_EQ(lines, (std::vector<std::pair<int, std::string>>{{L::kSkipped, disk + "/B.File"},
                                                              {L::kSkipped, disk + "/B.Link"},
                                                              {L::kSkipped, disk + "/B.Locked"},
                                                              {L::kUpdated, disk + "/B.Rel"},
                                                              {L::kNoMatch, "Elsewhere"},
                                                              {L::kNoMatch, "Other"}}));
  EXPECT_EQ(result.replaced, 1);
  EXPECT_EQ(result.added, 0);

  const std::vector<DirlogEntry> list = records();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(releases::entry_path(list[0]), "/a/early");
  EXPECT_EQ(releases::entry_path(list[1]), "/z/late");
  const DirlogEntry& rel = list[2];  // keeps its place after the sort by time
  EXPECT_EQ(releases::entry_path(rel), disk + "/B.Rel");
  EXPECT_EQ(rel.status, 0);
  EXPECT_EQ(rel.time, 5000);
  EXPECT_EQ(rel.files, 2);
  EXPECT_EQ(rel.bytes, 1234u);
  EXPECT_EQ(rel.next_link, 77u);

  struct stat after{};
  ASSERT_EQ(::stat(dirlog().c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
}

TEST_F(DirlogSite, UpdateWithoutADirlogWritesNothing) {
  const std::string disk = site_.make_dir("site/Rel");
  const releases::UpdateResult result = releases::dirlog_update(site_ / "site", "*");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.lines.size(), 1u);
  EXPECT_FALSE(stdfs::exists(dirlog()));
  EXPECT_FALSE(stdfs::exists(dirlog() + ".lock"));
}

TEST_F(DirlogSite, ATornTailIsIgnoredByReadersAndCutByTheNextAppend) {
  write_log({entry("/site/a", 0, 100), entry("/site/b", 0, 200)}, std::string(100, '\x7f'));
  const std::vector<releases::NewEntry> shown = releases::dirlog_newest("/", 10);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].path, "/site/b");
  EXPECT_EQ(releases::cwd_to_newest(1, nullptr).path, "/site/b");

  ASSERT_TRUE(releases::dirlog_add("/site/c"));
  const std::vector<DirlogEntry> list = records();
  EXPECT_EQ(stdfs::file_size(dirlog()), 3 * 284u);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(releases::entry_path(list[2]), "/site/c");
}

TEST_F(DirlogSite, NumberedCwdSkipsNukedAndDeletedAndHiddenEntries) {
  write_log({entry("/site/one"), entry("/site/two", releases::kDirUnnuked), entry("/site/nuked", releases::kDirNuked),
             entry("/private/x"), entry("/site/three"), entry("/site/gone", releases::kDirDeleted)});
  const releases::PathFilter visible = [](std::string_view path) { return core::path_within(path, "/site"); };
  struct Case {
    int n;
    releases::NewestResult::Outcome outcome;
    const char* path;
  } cases[] = {
      {1, releases::NewestResult::kFound, "/site/three"},
      {2, releases::NewestResult::kFound, "/site/two"},
      {3, releases::NewestResult::kFound, "/site/one"},
      {4, releases::NewestResult::kNotFound, ""},
  };
  for (const Case& c : cases) {
    const releases::NewestResult result = releases::cwd_to_newest(c.n, visible);
    EXPECT_EQ(result.outcome, c.outcome) << c.n;
    EXPECT_EQ(result.path, c.path) << c.n;
  }
  stdfs::remove(dirlog());
  EXPECT_EQ(releases::cwd_to_newest(1, visible).outcome, releases::NewestResult::kOpenFailed);
}

TEST_F(DirlogSite, ChangeTouchesOnlyTheNewestExactPath) {
  write_log({entry("/site/rel", 0, 100), entry("/site/rel", 0, 200), entry("/site/rel2", 0, 300)});
  auto renamed = releases::dirlog_change("/site/rel", std::string_view("/site/moved"), 0);
  ASSERT_TRUE(renamed.has_value());
  EXPECT_FALSE(renamed->deldir_due);
  auto list = records();
  EXPECT_EQ(releases::entry_path(list[0]), "/site/rel");
  EXPECT_EQ(releases::entry_path(list[1]), "/site/moved");
  EXPECT_EQ(list[1].time, 200);
  EXPECT_EQ(releases::entry_path(list[2]), "/site/rel2");

  auto deleted = releases::dirlog_change("/site/rel2", std::nullopt, releases::kDirDeleted);
  ASSERT_TRUE(deleted.has_value());
  EXPECT_TRUE(deleted->deldir_due);
  EXPECT_EQ(records()[2].status, releases::kDirDeleted);
  EXPECT_FALSE(releases::dirlog_change("/site/none", std::nullopt, releases::kDirNuked).has_value());
}

TEST_F(DirlogSite, NewListsTheNewestVisibleEntriesUnderTheBase) {
  write_log({entry("/site/rel/a"), entry("/site/rel2/b"), entry("/site/rel/c", releases::kDirNuked),
             entry("/site/rel/d", releases::kDirUnnuked, 1000, 3, 2048000), entry("/site/rel/e"),
             entry("/site/rel/f")});
  struct Case {
    const char* base;
    int count;
    std::vector<std::string> paths;
  } cases[] = {
      {"/site/rel", 10, {"/site/rel/f", "/site/rel/e", "/site/rel/d", "/site/rel/a"}},
      {"/site/rel", 2, {"/site/rel/f", "/site/rel/e"}},
      {"/site/rel/", 0, {"/site/rel/f", "/site/rel/e", "/site/rel/d", "/site/rel/a"}},
      {"/", 3, {"/site/rel/f", "/site/rel/e", "/site/rel/d"}},
      {"/site/rel2", 10, {"/site/rel2/b"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> paths;
    for (const releases::NewEntry& line : releases::dirlog_newest(c.base, c.count)) {
      EXPECT_EQ(line.number, static_cast<int>(paths.size()) + 1);
      paths.push_back(line.path);
    }
    EXPECT_EQ(paths, c.paths) << c.base << " " << c.count;
  }
  const auto lines = releases::dirlog_newest("/site/rel", 3);
  EXPECT_EQ(lines[2].name, "d");
  EXPECT_EQ(lines[2].files_size, "  3F   2.0M");
  EXPECT_EQ(lines[0].files_size, "   =Empty= ");
}

TEST_F(DirlogSite, SearchNeedsEveryWordWithoutCase) {
  write_log({entry("/site/Some.Movie-GRP", 0, 1000, 2, 2048000), entry("/site/Some.Song-GRP", releases::kDirNuked),
             entry("/site/Other.Movie-XYZ"), entry("/hidden/Some.Movie-GRP")});
  const releases::PathFilter visible = [](std::string_view path) { return core::path_within(path, "/site"); };
  const auto hits = releases::dirlog_search("  some grp ", visible);
  ASSERT_TRUE(hits.has_value());
  ASSERT_EQ(hits->size(), 2u);
  EXPECT_EQ((*hits)[0].path, "/site/Some.Movie-GRP");
  EXPECT_EQ((*hits)[0].info.substr(0, 18), "!C(!E2F!C/!E2.0M!C");
  EXPECT_EQ((*hits)[1].path, "/site/Some.Song-GRP");
  EXPECT_EQ((*hits)[1].info, "!f*NUKED*");
  EXPECT_EQ(releases::dirlog_search("movie", visible)->size(), 2u);
  stdfs::remove(dirlog());
  EXPECT_FALSE(releases::dirlog_search("movie", visible).has_value());
}

}  // namespace
