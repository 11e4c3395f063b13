// The dupe file (records, free slots, case, removal, several writers at
// once), the X-DUPE report, age texts and the dupe log search.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "core/session.h"
#include "releases/age_text.h"
#include "releases/dupe_file.h"
#include "releases/dupe_log.h"
#include "scratch_site.h"

namespace {

using releases::DupefileEntry;
namespace stdfs = std::filesystem;

constexpr time_t kDay = 86400;

class DupeSite : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.make_dir("logs");
    core::Session& s = core::session();
    s = core::Session{};
    std::snprintf(s.data_path, sizeof s.data_path, "%s", site_.path().c_str());
    std::strcpy(s.user.name, "alice");
    configure("dupe_check 7\n");
  }
  void TearDown() override { config::clear_config(); }

  void configure(const std::string& text) { scratch::load_config(site_ / "marlod.conf", text); }

  std::string dupefile() const { return site_ / "logs/dupefile"; }
  std::string dupelog() const { return site_ / "logs/dupelog"; }

  static std::string record(const std::string& name, time_t time, const std::string& uploader = "bob") {
    DupefileEntry entry{};
    std::memcpy(entry.name, name.data(), std::min(name.size(), sizeof entry.name));
    entry.time = static_cast<int32_t>(time);
    std::memcpy(entry.uploader, uploader.data(), std::min(uploader.size(), sizeof entry.uploader));
    return std::string(reinterpret_cast<const char*>(&entry), sizeof entry);
  }

  std::vector<DupefileEntry> records() const { return scratch::read_records<DupefileEntry>(dupefile()); }

  const scratch::ScratchDir site_{"dupe"};
};

TEST_F(DupeSite, AnAddWritesOneRecordOfExactBytes) {
  core::session().tz_offset = 3600;
  scratch::write_file(dupefile(), "");
  const time_t before = core::now();
  ASSERT_TRUE(releases::dupe_add("/site/incoming/Foo.Bar-GRP/foo.zip"));
  const time_t after = core::now();

  const std::string bytes = scratch::read_file(dupefile());
  ASSERT_EQ(bytes.size(), 288u);
  int32_t stamp = 0;
  std::memcpy(&stamp, bytes.data() + 256, 4);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(bytes, record("foo.zip", stamp, "alice"));
}

TEST_F(DupeSite, NothingIsAddedWhenCheckingIsOffTheTypeIgnoredOrTheFileMissing) {
  struct Case {
    const char* config;
    bool file_exists;
    const char* path;
  } cases[] = {
      {"dupe_check 0\n", true, "a.zip"},
      {"# no dupe_check\n", true, "a.zip"},
      {"dupe_check 7\nignore_type *.nfo *.sfv\n", true, "/x/a.sfv"},
      {"dupe_check 7\n", false, "a.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    configure(c.config);
    stdfs::remove(dupefile());
    if (c.file_exists) scratch::write_file(dupefile(), "");
    EXPECT_FALSE(releases::dupe_add(c.path));
    EXPECT_EQ(stdfs::exists(dupefile()), c.file_exists);
    if (c.file_exists) {
      EXPECT_EQ(stdfs::file_size(dupefile()), 0u);
    }
  }
}

TEST_F(DupeSite, OnlyYesMakesTheLookupIgnoreCase) {
  struct Case {
    const char* config;
    bool found;
  } cases[] = {{"dupe_check 7 yes\n", true}, {"dupe_check 7\n", false}, {"dupe_check 7 YES\n", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    configure(c.config);
    scratch::write_file(dupefile(), record("foo.zip", core::now() - kDay));
    const releases::DupeCheck check = releases::dupe_check_setting();
    const auto hit = releases::dupe_find("Foo.ZIP", releases::dupe_cutoff(check.days), check.ignore_case);
    EXPECT_EQ(hit.has_value(), c.found);
    if (hit) {
      EXPECT_EQ(hit->name, "foo.zip");
      EXPECT_EQ(hit->uploader, "bob");
    }
  }
}

TEST_F(DupeSite, FreeSlotsAreReusedAndCountingRecordsKept) {
  struct Case {
    const char* what;
    time_t time;  // of the record already there; 0 is a deleted record
    std::size_t size_after;
  } cases[] = {
      {"eight days old", core::now() - 8 * kDay, 288},
      {"deleted", 0, 288},
      {"one day old", core::now() - kDay, 576},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    scratch::write_file(dupefile(), record("old.zip", c.time));
    const releases::DupeClaim claim = releases::dupe_claim("incoming/new.zip", releases::dupe_cutoff(7), false);
    EXPECT_FALSE(claim.hit);
    ASSERT_TRUE(claim.recorded);
    EXPECT_EQ(stdfs::file_size(dupefile()), c.size_after);
    EXPECT_STREQ(records().back().name, "new.zip");
  }
  // An old record no longer counts as a dupe either.
  scratch::write_file(dupefile(), record("old.zip", core::now() - 8 * kDay));
  EXPECT_FALSE(releases::dupe_find("old.zip", releases::dupe_cutoff(7), false));
}

TEST_F(DupeSite, OfEightUploadsOfOneNameAtOnceOneClaimsIt) {
  scratch::write_file(dupefile(), record("old.zip", core::now()));
  // Each child says whether its claim entered the name.
  EXPECT_EQ(scratch::failed_children(8, [](int) {
              return releases::dupe_claim("incoming/same.zip", releases::dupe_cutoff(7), false).recorded;
            }),
            7);
  const std::vector<DupefileEntry> after = records();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_STREQ(after[1].name, "same.zip");
  const releases::DupeClaim again = releases::dupe_claim("same.zip", releases::dupe_cutoff(7), false);
  ASSERT_TRUE(again.hit);
  EXPECT_FALSE(again.recorded);
}

TEST_F(DupeSite, AFileReplacedUnderItsNameBetweenChangesGetsTheNextOne) {
  scratch::write_file(dupefile(), record("a.zip", core::now()));
  ASSERT_TRUE(releases::dupe_claim("incoming/b.zip", releases::dupe_cutoff(7), false).recorded);
  // A tool rewrites the file and renames the new one over the name.
  scratch::write_file(dupefile() + ".new", record("c.zip", core::now()));
  ASSERT_EQ(::rename((dupefile() + ".new").c_str(), dupefile().c_str()), 0);
  ASSERT_TRUE(releases::dupe_claim("incoming/d.zip", releases::dupe_cutoff(7), false).recorded);
  const std::vector<DupefileEntry> after = records();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_STREQ(after[0].name, "c.zip");
  EXPECT_STREQ(after[1].name, "d.zip");
}

TEST_F(DupeSite, APartialRecordAtTheEndIsOverwritten) {
  const time_t recent = core::now() - kDay;
  scratch::write_file(dupefile(), record("a.zip", recent) + record("b.zip", recent) + std::string(100, 'x'));
  ASSERT_EQ(stdfs::file_size(dupefile()), 676u);
  ASSERT_TRUE(releases::dupe_add("c.zip"));
  EXPECT_EQ(stdfs::file_size(dupefile()), 864u);
  EXPECT_STREQ(records()[2].name, "c.zip");
}

TEST_F(DupeSite, NamesCompareOnTheirFirst254BytesAndMayFillTheField) {
  // A foreign writer filled all 256 bytes without a NUL.
  const std::string full(256, 'n');
  scratch::write_file(dupefile(), record(full, core::now()));
  const auto hit = releases::dupe_find(std::string(254, 'n') + "zz", releases::dupe_cutoff(7), false);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->name, full);
  EXPECT_FALSE(releases::dupe_find(std::string(253, 'n'), releases::dupe_cutoff(7), false));
}

TEST_F(DupeSite, EightWritersAtOnceLoseNoName) {
  std::string expired;
  for (int i = 0; i < 1000; ++i) expired += record("gone" + std::to_string(i), core::now() - 30 * kDay);
  scratch::write_file(dupefile(), expired);

  EXPECT_EQ(scratch::failed_children(8, [](int writer) {
              for (int n = 0; n < 100; ++n)
                if (!releases::dupe_add("w" + std::to_string(writer) + "-" + std::to_string(n))) return false;
              return true;
            }),
            0);

  EXPECT_EQ(stdfs::file_size(dupefile()), 288000u);
  std::set<std::string> live;
  for (const DupefileEntry& entry : records())
    if (releases::record_counts(entry, releases::dupe_cutoff(7))) live.insert(entry.name);
  EXPECT_EQ(live.size(), 800u);
}

TEST_F(DupeSite, LiteralRemovalFreesOnlyTheNameAndUndupeTakesPatterns) {
  struct Case {
    const char* path;
    bool literal;
    std::vector<std::string> freed;
  } cases[] = {
      {"/site/incoming/*", true, {"*"}},
      {"/site/incoming/a.zip", true, {"a.zip"}},
      {"*.zip", false, {"a.zip", "b.zip"}},
      {"*", false, {"*", "a.zip", "b.zip"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const time_t recent = core::now() - kDay;
    scratch::write_file(dupefile(), record("*", recent) + record("a.zip", recent) + record("b.zip", recent));
    EXPECT_EQ(releases::dupe_remove(c.path, c.literal), c.freed);
    for (const char* name : {"*", "a.zip", "b.zip"}) {
      const bool freed = std::find(c.freed.begin(), c.freed.end(), name) != c.freed.end();
      EXPECT_EQ(releases::dupe_find(name, releases::dupe_cutoff(7), false).has_value(), !freed) << name;
    }
    EXPECT_EQ(stdfs::file_size(dupefile()), 864u);
  }
}

TEST(XdupeLines, LineLengthsByLevel) {
  struct Case {
    int level;
    int names;
    std::size_t name_length;
    std::vector<std::size_t> lengths;
  } cases[] = {
      {1, 30, 12, {72, 72, 72, 72, 72, 72}},
      {4, 30, 12, {397}},
      {4, 100, 12, {1008}},
      {2, 1, 100, {74}},
      {3, 1, 100, {108}},
      {0, 3, 12, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + ", " + std::to_string(c.names) + " names");
    std::vector<std::string> names;
    for (int i = 0; i < c.names; ++i) {
      std::string name = std::to_string(i) + ".";
      names.push_back(name + std::string(c.name_length - name.size(), 'r'));
    }
    std::vector<std::size_t> lengths;
    int shown = 0;
    for (const std::string& line : releases::xdupe_lines(names, c.level)) {
      lengths.push_back(line.size());
      EXPECT_EQ(line.rfind("X-DUPE: ", 0), 0u) << line;
      for (std::size_t at = 0; (at = line.find(" ", at)) != std::string::npos; ++at) ++shown;
    }
    EXPECT_EQ(lengths, c.lengths);
    if (c.level == 1) {
      EXPECT_EQ(shown, c.names);
    }
  }
}

TEST_F(DupeSite, XdupeReportsOnlyNonEmptyRegularFilesMatchingAPattern) {
  configure("xdupe *.zip *.rar\n");
  const std::string dir = site_.make_dir("release");
  site_.write("release/a.zip", "x");
  site_.write("release/b.rar", "x");
  site_.write("release/empty.zip", "");
  site_.write("release/info.nfo", "x");
  site_.make_dir("release/sub.zip");
  stdfs::create_symlink(dir + "/a.zip", dir + "/link.zip");
  EXPECT_EQ(releases::xdupe_names(dir), (std::vector<std::string>{"a.zip", "b.rar"}));
  EXPECT_FALSE(releases::xdupe_names(dir + "/missing"));
}

TEST(AgeText, TwoLargestUnits) {
  const std::pair<long long, const char*> cases[] = {
      {7500, " 2h  5m"}, {59, " 0m 59s"}, {90061, " 1d  1h"}, {-5, " 0m  0s"}, {400 * kDay, "400d  0h"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(releases::age_text(seconds), text) << seconds;
}

TEST_F(DupeSite, DupeLogSearch) {
  scratch::write_file(dupelog(), "010199 foo.a\n061500 bar.b\n123100 foo.c\n010101 foo.d\n");
  struct Case {
    const char* arguments;
    int error;
    std::string option;
    std::vector<std::string> lines;
    long long matches, lines_read;
  } cases[] = {
      {"-from 010199 -to 123100 foo", 0, "", {"010199 foo.a", "123100 foo.c"}, 2, 4},
      {"-max 1 foo", 0, "", {"010101 foo.d"}, 3, 4},
      {"-MAX 99999999999999999999999999 FOO.", 0, "", {"010199 foo.a", "123100 foo.c", "010101 foo.d"}, 3, 4},
      {"foo -to", 359, "-to", {}, 0, 0},
      {"-from 133199 foo", 360, "-from", {}, 0, 0},
      {"-to 0101 foo", 360, "-to", {}, 0, 0},
      {"-max 1x foo", 361, "", {}, 0, 0},
      {"-max 0 foo", 362, "", {}, 0, 0},
      {"-max 5", 363, "", {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const releases::DupeLogSearch found = releases::search_dupelog(c.arguments);
    EXPECT_EQ(found.error, c.error);
    EXPECT_EQ(found.option, c.option);
    EXPECT_EQ(found.lines, c.lines);
    EXPECT_EQ(found.matches, c.matches);
    EXPECT_EQ(found.lines_read, c.lines_read);
  }
}

TEST_F(DupeSite, DupeLogMissingThenAppended) {
  EXPECT_EQ(releases::search_dupelog("foo").error, 364);
  releases::dupelog_add("/site/mp3/Foo-Bar-2024-GRP");
  const std::string log = scratch::read_file(dupelog());
  ASSERT_EQ(log.size(), 24u);
  EXPECT_EQ(log.substr(6), " Foo-Bar-2024-GRP\n");
  EXPECT_EQ(log.find_first_not_of("0123456789"), 6u);
  const releases::DupeLogSearch found = releases::search_dupelog("-max 1 grp");
  EXPECT_EQ(found.error, 0);
  EXPECT_EQ(found.lines, std::vector<std::string>{log.substr(0, log.size() - 1)});
}

}  // namespace
