// The four matchers, especially where they disagree with each other, and
// the glob expander against a real directory tree.
#include "fs/match.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scratch_site.h"

namespace {

using fs::any_match;
using fs::dir_match;
using fs::name_match;
using fs::wildcard_match;
using Names = std::vector<std::string>;

TEST(MatchersDisagree, HiddenNames) {
  EXPECT_FALSE(wildcard_match("*.zip", ".zip", true));
  EXPECT_FALSE(name_match(".zip", "*.zip"));
  EXPECT_TRUE(name_match(".zip", ".*"));
  EXPECT_FALSE(name_match(".zip", "?zip"));
  // wildcard_match only refuses the dot under a leading '*'.
  EXPECT_TRUE(wildcard_match("?zip", ".zip", true));
  EXPECT_TRUE(wildcard_match("/site/*", "/site/.hidden", true));
}

TEST(MatchersDisagree, LeadingStarTakesTheFirstCharacter) {
  EXPECT_FALSE(wildcard_match("*abc", "abc", true));
  EXPECT_TRUE(wildcard_match("*abc", "xabc", true));
  EXPECT_TRUE(name_match("abc", "*abc"));
}

TEST(MatchersDisagree, NoBacktrackingInWildcardMatch) {
  EXPECT_FALSE(wildcard_match("a*c", "abcbc", true));
  EXPECT_TRUE(name_match("abcbc", "a*c"));
  EXPECT_TRUE(wildcard_match("a*c", "abc", true));
  // The '*' stops at the first '/', so it never spans directories.
  EXPECT_TRUE(wildcard_match("/site/*/", "/site/x/", true));
  EXPECT_FALSE(wildcard_match("/site/*/", "/site/x/y/", true));
}

TEST(MatchersDisagree, BracketSets) {
  EXPECT_TRUE(wildcard_match("[a-c]*", "b1", true));
  EXPECT_FALSE(wildcard_match("[abc]*", "b1", true));
  EXPECT_TRUE(name_match("b1", "[abc]*"));
  EXPECT_TRUE(name_match("b1", "[x-za-c]1"));
  EXPECT_FALSE(name_match("d1", "[x-za-c]1"));
  EXPECT_FALSE(name_match("b1", "[abc*"));  // unterminated
  EXPECT_FALSE(wildcard_match("[a-c", "b", true));
}

TEST(WildcardMatch, CaseSensitivity) {
  EXPECT_TRUE(wildcard_match("/site/*", "/site/x", true));
  EXPECT_FALSE(wildcard_match("/SITE/*", "/site/x", true));
  EXPECT_TRUE(wildcard_match("/SITE/*", "/site/x", false));
  EXPECT_TRUE(wildcard_match("/site/*X", "/site/abx", false));
  EXPECT_FALSE(wildcard_match("/site/*X", "/site/abx", true));
  // Ranges never fold case.
  EXPECT_FALSE(wildcard_match("[A-C]", "b", false));
}

TEST(WildcardMatch, EndsAndEmptyPatterns) {
  EXPECT_TRUE(wildcard_match("", "anything", true));
  EXPECT_TRUE(wildcard_match("", "", true));
  EXPECT_TRUE(wildcard_match("*", "", true));
  EXPECT_TRUE(wildcard_match("/site/*", "/site/", true));
  EXPECT_FALSE(wildcard_match("/site/**", "/site/", true));
  EXPECT_FALSE(wildcard_match("/site", "/site/x", true));
  EXPECT_FALSE(wildcard_match("/site/x", "/site", true));
  EXPECT_TRUE(wildcard_match("a?c", "abc", true));
  EXPECT_FALSE(wildcard_match("a?c", "ac", true));
}

TEST(WildcardMatch, WhatMayFollowAStar) {
  // "*?" stops at the very next character: together they take exactly one.
  EXPECT_TRUE(wildcard_match("x*?z", "xaz", true));
  EXPECT_FALSE(wildcard_match("x*?z", "xabz", true));
  EXPECT_TRUE(wildcard_match("x*[0-9]z", "xab7z", true));  // stops at the first digit
  EXPECT_FALSE(wildcard_match("x*[0-9]z", "xa7b8z", true));
  EXPECT_TRUE(wildcard_match("*.rar", "a.rar", true));
  EXPECT_FALSE(wildcard_match("*.rar", "a.b.rar", true));  // stops at the first '.'
}

TEST(WildcardMatch, HighBitCharactersAreSafe) {
  EXPECT_TRUE(wildcard_match("\xe9*", "\xe9t\xe9", false));
  EXPECT_FALSE(wildcard_match("\xe9", "\xc9", true));
}

TEST(DirMatch, AppendsSlashWhenMissing) {
  EXPECT_TRUE(dir_match("/site/*/", "/site/x", true));
  EXPECT_TRUE(dir_match("/site/*/", "/site/x/", true));
  EXPECT_FALSE(wildcard_match("/site/*/", "/site/x", true));
  EXPECT_TRUE(dir_match("/SITE/*/", "/site/x", false));
  EXPECT_FALSE(dir_match("/SITE/*/", "/site/x", true));
}

TEST(AnyMatch, SplitsAtAndAndIgnoresCase) {
  EXPECT_TRUE(any_match("/mp3/*[:and:]/0DAY/*", "/0day/x"));
  EXPECT_TRUE(any_match("/mp3/*[:and:]/0day/*", "/mp3/x"));
  EXPECT_FALSE(any_match("/mp3/*[:and:]/0day/*", "/games/x"));
  EXPECT_TRUE(any_match("*", "/anything"));
  // A stray separator does not turn into a catch-all.
  EXPECT_FALSE(any_match("/mp3/*[:and:]", "/games/x"));
  EXPECT_FALSE(any_match("[:and:]/mp3/*", "/games/x"));
}

TEST(NameMatch, StarsQuestionMarksAndBraces) {
  EXPECT_TRUE(name_match("file.nfo", "*.nfo"));
  EXPECT_TRUE(name_match("file.nfo", "*"));
  EXPECT_FALSE(name_match("file.nfo", "*.sfv"));
  EXPECT_TRUE(name_match("a", "?"));
  EXPECT_FALSE(name_match("", "?"));
  EXPECT_TRUE(name_match("", "*"));
  EXPECT_TRUE(name_match("x.sfv", "*.{sfv,nfo}"));
  EXPECT_TRUE(name_match("x.nfo", "*.{sfv,nfo}"));
  EXPECT_FALSE(name_match("x.zip", "*.{sfv,nfo}"));
  EXPECT_TRUE(name_match("abd", "a{b{c,d},e}"));
  EXPECT_TRUE(name_match("ad", "a{b{c,d},d}"));
  EXPECT_TRUE(name_match("a{b", "a{b"));  // unbalanced brace is literal
  EXPECT_TRUE(name_match("x{}", "x{}"));
}

TEST(NameMatch, ComparesLowSevenBits) {
  EXPECT_TRUE(name_match("\xe1", "a"));
  EXPECT_TRUE(name_match("a", "\xe1"));
}

TEST(NameMatch, HostilePatternsFinishQuickly) {
  // Trying every split of every '*' would take ages here.
  const std::string name(5000, 'a');
  EXPECT_FALSE(name_match(name, "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  std::string braces;
  for (int i = 0; i < 40; ++i) braces += "{a,b}";
  EXPECT_FALSE(name_match("aaaa", braces));  // too many alternatives: no match
  EXPECT_FALSE(name_match("x", std::string(200000, '{')));
  EXPECT_FALSE(name_match("x", std::string(200000, '[') + "{a,b}"));
}

TEST(MissingWords, NullPatternMatchesNothingNullTextIsEmpty) {
  const char* none = nullptr;
  EXPECT_FALSE(wildcard_match(none, "/x", true));
  EXPECT_FALSE(name_match("x", none));
  EXPECT_FALSE(dir_match(none, "/x", true));
  EXPECT_FALSE(any_match(none, "/x"));
  EXPECT_TRUE(wildcard_match("*", none, true));
  EXPECT_TRUE(name_match(none, "*"));
  EXPECT_TRUE(wildcard_match("", "/x", true));  // only an absent pattern is refused
}

TEST(ExpandBraces, OrderNestingAndLimit) {
  Names out;
  ASSERT_TRUE(fs::expand_braces("x{b,a{1,2},}y", out, 100));
  EXPECT_EQ(out, (Names{"xby", "xa1y", "xa2y", "xy"}));
  out.clear();
  ASSERT_TRUE(fs::expand_braces("[{]{p,q}", out, 100));
  EXPECT_EQ(out, (Names{"[{]p", "[{]q"}));
  out.clear();
  EXPECT_FALSE(fs::expand_braces("{a,b}{a,b}{a,b}", out, 7));
}

class GlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(site_.path());
    for (const char* name : {"b.txt", "a.txt", "c.nfo", ".hidden.txt", "sub/x.txt", "sub/y.nfo", "sub2/z.txt"})
      site_.write(name, "x");
  }
  void TearDown() override { std::filesystem::current_path(old_cwd_); }

  static Names glob(const std::string& word) {
    fs::GlobResult result = fs::glob_expand(word);
    EXPECT_EQ(result.glob_error, nullptr) << result.glob_error;
    return result.names;
  }

  const scratch::ScratchDir site_{"glob"};
  const std::string dir_ = site_.path();
  std::filesystem::path old_cwd_;
};

TEST_F(GlobTest, MatchesSortedAndSkipsHiddenNames) {
  EXPECT_EQ(glob("*.txt"), (Names{"a.txt", "b.txt"}));
  EXPECT_EQ(glob(".*.txt"), (Names{".hidden.txt"}));
  EXPECT_EQ(glob("?.nfo"), (Names{"c.nfo"}));
  EXPECT_EQ(glob("[ab].txt"), (Names{"a.txt", "b.txt"}));
}

TEST_F(GlobTest, BraceAlternativesAreSeparatePatterns) {
  EXPECT_EQ(glob("{c,a}.*"), (Names{"c.nfo", "a.txt"}));
  EXPECT_EQ(glob("*.{nfo,txt}"), (Names{"c.nfo", "a.txt", "b.txt"}));
  EXPECT_EQ(glob("{"), (Names{"{"}));
  EXPECT_EQ(glob("{}"), (Names{"{}"}));
}

TEST_F(GlobTest, DescendsIntoMatchedDirectories) {
  EXPECT_EQ(glob("*/*.txt"), (Names{"sub/x.txt", "sub2/z.txt"}));
  EXPECT_EQ(glob("sub*/y.nfo"), (Names{"sub/y.nfo"}));  // fixed tail must exist
  EXPECT_EQ(glob("*/"), (Names{"sub/", "sub2/"}));      // files are no directories
  EXPECT_EQ(glob(dir_ + "/sub/*"), (Names{dir_ + "/sub/x.txt", dir_ + "/sub/y.nfo"}));
}

TEST_F(GlobTest, WordWithoutMagicComesBackUnchanged) {
  EXPECT_EQ(glob("does-not-exist"), (Names{"does-not-exist"}));
  EXPECT_EQ(glob("-la"), (Names{"-la"}));
  EXPECT_EQ(glob("{p,q}"), (Names{"p", "q"}));
}

TEST_F(GlobTest, NoMatchIsEmptyNotAnError) {
  EXPECT_TRUE(glob("*.zip").empty());
  EXPECT_TRUE(glob("sub/*.zip").empty());
}

TEST_F(GlobTest, TildeMeansTheRoot) {
  const Names names = glob("~/tm*");
  EXPECT_NE(std::find(names.begin(), names.end(), "/tmp"), names.end());
}

TEST_F(GlobTest, UnreadableDirectoryPartIsAnError) {
  fs::GlobResult result = fs::glob_expand("nodir/*");
  EXPECT_STREQ(result.glob_error, "Bad directory components");
  result = fs::glob_expand("a.txt/*");
  EXPECT_STREQ(result.glob_error, "Bad directory components");
  EXPECT_TRUE(result.names.empty());
}

TEST_F(GlobTest, OverlongPathIsAnError) {
  const fs::GlobResult result = fs::glob_expand(std::string(8200, 'd') + "/*");
  EXPECT_STREQ(result.glob_error, "Pathname too long");
}

TEST_F(GlobTest, TooManyNamesAreRefused) {
  std::filesystem::create_directory("many");
  for (int i = 0; i < 21844; ++i) std::ofstream touch("many/" + std::to_string(i));
  std::filesystem::current_path("many");
  // Names "0".."21843" stay under the byte limit, so the count decides.
  fs::GlobResult result = fs::glob_expand("*");
  EXPECT_STREQ(result.glob_error, "Arguments too long");
  EXPECT_TRUE(result.names.empty());
  std::filesystem::remove("0");
  result = fs::glob_expand("*");
  EXPECT_EQ(result.glob_error, nullptr);
  EXPECT_EQ(result.names.size(), 21843u);
  std::filesystem::current_path("..");
  // With the directory in front the same names exceed the byte limit.
  result = fs::glob_expand("many/*");
  EXPECT_STREQ(result.glob_error, "Arguments too long");
  result = fs::glob_expand("many/1????");
  EXPECT_EQ(result.glob_error, nullptr);
  EXPECT_EQ(result.names.size(), 10000u);
}

}  // namespace
