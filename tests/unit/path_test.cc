// Path resolution, the home-directory tests and name rewriting.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/config_store.h"
#include "core/session.h"
#include "fs/path.h"
#include "scratch_site.h"

namespace {

namespace stdfs = std::filesystem;

TEST(PathJoin, PutsOneSeparatorAndIgnoresDot) {
  EXPECT_EQ(fs::path_join("/site", "a"), "/site/a");
  EXPECT_EQ(fs::path_join("/site/", "a"), "/site/a");
  EXPECT_EQ(fs::path_join(".", "a"), "a");
  EXPECT_EQ(fs::path_join("", "a"), "a");
  EXPECT_EQ(fs::path_join("/", "a"), "/a");
}

TEST(ResolvePath, StaysBelowHomeWithOneSlashAndNoDots) {
  struct Case {
    const char *home, *cwd, *name, *resolved, *why;
  };
  const Case cases[] = {
      {"/site", "/site/a", "../../etc", "/site/etc", "\"..\" never climbs above home"},
      {"/site", "/site/a", "../../../../x/../y", "/site/y", "\"..\" never climbs above home"},
      {"/site", "/site/a/b", "../c", "/site/a/c", "\"..\" below home"},
      // A trailing ".." at home stays at home instead of naming its parent.
      {"/site", "/site", "..", "/site", "trailing \"..\" at home"},
      {"/site", "/site/a/b", "..", "/site/a", "trailing \"..\" below home"},
      {"/site", "/site", "a/../../..", "/site", "trailing \"..\" at home"},
      {"/site", "/site/a", "/x", "/site/x", "a leading slash means home"},
      {"/site", "/site/a", "///x//", "/site/x", "a leading slash means home"},
      {"/site", "/site/a", "/", "/site", "a leading slash means home"},
      {"/", "/", "a/../x", "/x", "a root home does not double slashes"},
      {"/", "/a", "../../x", "/x", "a root home does not double slashes"},
      {"/", "/", ".", "/", "a root home does not double slashes"},
      {"/", "/", "..", "/", "a root home does not double slashes"},
      {"/site", "/site", "a/./b/", "/site/a/b", "dots and trailing slashes go"},
      {"/site", "/site", "./././a", "/site/a", "dots and trailing slashes go"},
      {"/site", "/site/a", ".", "/site/a", "dots and trailing slashes go"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fs::resolve_path_in(c.home, c.cwd, c.name, false), c.resolved)
        << c.why << ": " << c.name << " from " << c.cwd << " in " << c.home;
}

TEST(InsideHome, EndsAtASlashOrTheEnd) {
  struct Case {
    const char* home;
    std::string path;
    bool inside;
  };
  const Case cases[] = {
      {"/site", "/site", true},
      {"/site", "/site/x", true},
      {"/site", "/site2/x", false},
      {"/site", "/sit", false},
      {"/site/u1", "/site/u10", false},
      {"/site/u1", "/site/u1/in", true},
      {"/site/u1/", "/site/u1", true},
      {"/", "/anything", true},
      {"/site", std::string(fs::kTooManySymlinks), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fs::inside_home_of(c.home, c.path), c.inside) << c.path << " in " << c.home;
}

TEST(VisiblePath, DropsTheHomePrefixOnly) {
  EXPECT_EQ(fs::visible_path_of("/site", "/site/a/b"), "/a/b");
  EXPECT_EQ(fs::visible_path_of("/site", "/site"), "/");
  EXPECT_EQ(fs::visible_path_of("/site", "/site2/x"), "/site2/x");
  EXPECT_EQ(fs::visible_path_of("/site/u1", "/site/u10/a"), "/site/u10/a");
  EXPECT_EQ(fs::visible_path_of("/site/u1/", "/site/u1/a"), "/a");
  EXPECT_EQ(fs::visible_path_of("/", "/a"), "/a");
  EXPECT_EQ(fs::visible_path_of("/site", "/other"), "/other");
}

class LinkTree : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.make_dir("site/archive/new/x");
    site_.make_dir("site/real");
  }
  std::string resolve(const std::string& name, bool follow = true) {
    return fs::resolve_path_in(home_, home_, name, follow);
  }
  const scratch::ScratchDir site_{"path"};
  const std::string home_ = site_ / "site";
};

TEST_F(LinkTree, RelativeLinkIsFollowedLexically) {
  stdfs::create_symlink("../archive/new", home_ + "/new");
  // "/site/new" -> "../archive/new" gives "/site/../archive/new/x", and the
  // ".." stops at home.
  EXPECT_EQ(resolve("new/x"), home_ + "/archive/new/x");
  EXPECT_EQ(resolve("new/x", false), home_ + "/new/x");
}

TEST_F(LinkTree, AbsoluteLinkReplacesThePathSoFar) {
  stdfs::create_symlink(home_ + "/real", home_ + "/abs");
  EXPECT_EQ(resolve("abs/file"), home_ + "/real/file");
}

TEST_F(LinkTree, ChainsOfLinksAreFollowed) {
  stdfs::create_symlink("real", home_ + "/l1");
  stdfs::create_symlink("l1", home_ + "/l2");
  stdfs::create_symlink("l2", home_ + "/l3");
  EXPECT_EQ(resolve("l3/f"), home_ + "/real/f");
}

TEST_F(LinkTree, TwentyLinksResolveButTwentyOneDoNot) {
  stdfs::create_symlink("real", home_ + "/c1");
  for (int n = 2; n <= 21; ++n)
    stdfs::create_symlink("c" + std::to_string(n - 1), home_ + "/c" + std::to_string(n));
  EXPECT_EQ(resolve("c20/f"), home_ + "/real/f");
  EXPECT_EQ(resolve("c21/f"), fs::kTooManySymlinks);
  EXPECT_FALSE(fs::inside_home_of(home_, resolve("c21/f")));
}

TEST_F(LinkTree, LinkLoopsEndInsteadOfHanging) {
  stdfs::create_symlink("loop", home_ + "/loop");
  EXPECT_EQ(resolve("loop"), fs::kTooManySymlinks);
  stdfs::create_symlink(home_ + "/pong", home_ + "/ping");
  stdfs::create_symlink(home_ + "/ping", home_ + "/pong");
  EXPECT_EQ(resolve("ping/x"), fs::kTooManySymlinks);
}

TEST_F(LinkTree, ResolveLinksEndsWithSlashAfterARealComponent) {
  int depth = 0;
  EXPECT_EQ(fs::resolve_links(home_ + "/archive//new/", depth), home_ + "/archive/new/");
  EXPECT_EQ(depth, 0);
}

TEST_F(LinkTree, ALookResolvesAsReadlinkDoes) {
  stdfs::create_symlink("../archive/new", home_ + "/new");
  stdfs::create_symlink(home_ + "/real", home_ + "/abs");
  stdfs::create_symlink("loop", home_ + "/loop");
  for (const char* name : {"new/x", "abs/file", "loop", "real", "archive/../real/f", "missing/f"}) {
    fs::PathLook look;
    EXPECT_EQ(fs::resolve_path_in(home_, home_, name, true, &look), resolve(name)) << name;
  }
}

TEST_F(LinkTree, ALookAnswersForWhatTheResolutionSaw) {
  fs::PathLook look;
  const std::string file = fs::resolve_path_in(home_, home_, "abs2/f", true, &look);
  stdfs::create_symlink(home_ + "/real", home_ + "/abs2");  // after: abs2 was missing then
  EXPECT_EQ(file, home_ + "/abs2/f");
  struct stat status {};
  errno = 0;
  EXPECT_FALSE(look.stat(home_ + "/abs2", status));
  EXPECT_EQ(errno, ENOENT);

  fs::PathLook seen;
  const std::string made = fs::resolve_path_in(home_, home_, "real/f", true, &seen);
  ASSERT_EQ(made, home_ + "/real/f");
  std::ofstream(made) << "x";
  EXPECT_FALSE(seen.stat(made, status)) << "the resolution saw no file";
  ASSERT_TRUE(seen.stat(home_ + "/real", status));
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_TRUE(fs::PathLook().stat(made, status)) << "a fresh look asks the system";
}

class RewriteName : public ::testing::Test {
 protected:
  void TearDown() override { config::clear_config(); }
  void configure(const std::string& text) { scratch::load_config(site_ / "marlod.conf", text); }
  static std::string rewrite(const char* key, std::string name) {
    fs::rewrite_name(key, name);
    return name;
  }

  const scratch::ScratchDir site_{"path-conf"};
};

TEST_F(RewriteName, MapsCaseAndCapitalOnTheLastComponent) {
  configure("file_names 1 lower [:space:]_ &NULL\n");
  EXPECT_EQ(rewrite("file_names", "My File&Co.ZIP"), "My_fileco.zip");
  EXPECT_EQ(rewrite("file_names", "/Some Dir/My File&Co.ZIP"), "/Some Dir/My_fileco.zip");
  EXPECT_EQ(rewrite("file_names", "&&&"), "Invalid_filename");
}

TEST_F(RewriteName, WithoutARuleNothingChanges) {
  configure("dir_names 0 upper\n");
  EXPECT_EQ(rewrite("file_names", "Mixed Case"), "Mixed Case");
  EXPECT_EQ(rewrite("dir_names", "a/Mixed.dir"), "a/MIXED.DIR");
}

TEST_F(RewriteName, FirstMatchingMapWinsAndNullIsCaseInsensitive) {
  configure("dir_names 0 keep ab ac b_ cnull\n");
  EXPECT_EQ(rewrite("dir_names", "abc"), "b_");
  EXPECT_EQ(rewrite("dir_names", "ccc"), "invalid_filename");
}

}  // namespace
