// The four matchers, especially where they disagree with each other, and
// the glob expander against a real directory tree.
#include "core/match.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scratch_site.h"

namespace {

using core::any_match;
using core::dir_match;
using core::name_match;
using core::wildcard_match;
using Names = std::vector<std::string>;

// One matcher call per row: W wildcard_match (case-sensitive unless "wi"),
// D dir_match, N name_match (text first, then the pattern), A any_match.
struct MatchRow {
  char matcher;
  bool case_sensitive;
  const char* pattern;
  const char* text;
  bool matches;
};

bool run_matcher(const MatchRow& r) {
  switch (r.matcher) {
    case 'W': return wildcard_match(r.pattern, r.text, r.case_sensitive);
    case 'D': return dir_match(r.pattern, r.text, r.case_sensitive);
    case 'N': return name_match(r.text, r.pattern);
    default: return any_match(r.pattern, r.text);
  }
}

TEST(Matchers, TableOfPatternsAndTexts) {
  const char* none = nullptr;
  for (const MatchRow& r : std::initializer_list<MatchRow>{
           // Hidden names; wildcard_match only refuses the dot under a leading '*'.
           {'W', true, "*.zip", ".zip", false}, {'N', 0, "*.zip", ".zip", false},
           {'N', 0, ".*", ".zip", true}, {'N', 0, "?zip", ".zip", false},
           {'W', true, "?zip", ".zip", true}, {'W', true, "/site/*", "/site/.hidden", true},
           // A leading star takes the first character in wildcard_match only.
           {'W', true, "*abc", "abc", false}, {'W', true, "*abc", "xabc", true},
           {'N', 0, "*abc", "abc", true},
           // No backtracking in wildcard_match; its '*' stops at the first '/'.
           {'W', true, "a*c", "abcbc", false}, {'N', 0, "a*c", "abcbc", true},
           {'W', true, "a*c", "abc", true}, {'W', true, "/site/*/", "/site/x/", true},
           {'W', true, "/site/*/", "/site/x/y/", false},
           // Bracket sets: wildcard_match knows only ranges.
           {'W', true, "[a-c]*", "b1", true}, {'W', true, "[abc]*", "b1", false},
           {'N', 0, "[abc]*", "b1", true}, {'N', 0, "[x-za-c]1", "b1", true},
           {'N', 0, "[x-za-c]1", "d1", false}, {'N', 0, "[abc*", "b1", false},
           {'W', true, "[a-c", "b", false},
           // Case; ranges never fold it.
           {'W', true, "/site/*", "/site/x", true}, {'W', true, "/SITE/*", "/site/x", false},
           {'W', false, "/SITE/*", "/site/x", true}, {'W', false, "/site/*X", "/site/abx", true},
           {'W', true, "/site/*X", "/site/abx", false}, {'W', false, "[A-C]", "b", false},
           // Ends and empty patterns.
           {'W', true, "", "anything", true}, {'W', true, "", "", true}, {'W', true, "*", "", true},
           {'W', true, "/site/*", "/site/", true}, {'W', true, "/site/**", "/site/", false},
           {'W', true, "/site", "/site/x", false}, {'W', true, "/site/x", "/site", false},
           {'W', true, "a?c", "abc", true}, {'W', true, "a?c", "ac", false},
           // What follows a star stops it: "*?" takes exactly one character,
           // "*[0-9]" stops at the first digit, "*.rar" at the first '.'.
           {'W', true, "x*?z", "xaz", true}, {'W', true, "x*?z", "xabz", false},
           {'W', true, "x*[0-9]z", "xab7z", true}, {'W', true, "x*[0-9]z", "xa7b8z", false},
           {'W', true, "*.rar", "a.rar", true}, {'W', true, "*.rar", "a.b.rar", false},
           // High-bit characters.
           {'W', false, "\xe9*", "\xe9t\xe9", true}, {'W', true, "\xe9", "\xc9", false},
           // dir_match adds the missing final slash.
           {'D', true, "/site/*/", "/site/x", true}, {'D', true, "/site/*/", "/site/x/", true},
           {'W', true, "/site/*/", "/site/x", false}, {'D', false, "/SITE/*/", "/site/x", true},
           {'D', true, "/SITE/*/", "/site/x", false},
           // any_match splits at [:and:] and ignores case; a stray separator
           // does not turn into a catch-all.
           {'A', 0, "/mp3/*[:and:]/0DAY/*", "/0day/x", true},
           {'A', 0, "/mp3/*[:and:]/0day/*", "/mp3/x", true},
           {'A', 0, "/mp3/*[:and:]/0day/*", "/games/x", false}, {'A', 0, "*", "/anything", true},
           {'A', 0, "/mp3/*[:and:]", "/games/x", false}, {'A', 0, "[:and:]/mp3/*", "/games/x", false},
           // name_match: stars, question marks and braces; an unbalanced brace is literal.
           {'N', 0, "*.nfo", "file.nfo", true}, {'N', 0, "*", "file.nfo", true},
           {'N', 0, "*.sfv", "file.nfo", false}, {'N', 0, "?", "a", true}, {'N', 0, "?", "", false},
           {'N', 0, "*", "", true}, {'N', 0, "*.{sfv,nfo}", "x.sfv", true},
           {'N', 0, "*.{sfv,nfo}", "x.nfo", true}, {'N', 0, "*.{sfv,nfo}", "x.zip", false},
           {'N', 0, "a{b{c,d},e}", "abd", true}, {'N', 0, "a{b{c,d},d}", "ad", true},
           {'N', 0, "a{b", "a{b", true}, {'N', 0, "x{}", "x{}", true},
           // name_match compares the low seven bits.
           {'N', 0, "a", "\xe1", true}, {'N', 0, "\xe1", "a", true},
           // An absent pattern matches nothing, an absent text is empty.
           {'W', true, none, "/x", false}, {'N', 0, none, "x", false}, {'D', true, none, "/x", false},
           {'A', 0, none, "/x", false}, {'W', true, "*", none, true}, {'N', 0, "*", none, true},
           {'W', true, "", "/x", true},
       })
    EXPECT_EQ(run_matcher(r), r.matches)
        << r.matcher << " " << (r.pattern ? r.pattern : "(null)") << " / " << (r.text ? r.text : "(null)");
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

TEST(ExpandBraces, OrderNestingAndLimit) {
  Names out;
  ASSERT_TRUE(core::expand_braces("x{b,a{1,2},}y", out, 100));
  EXPECT_EQ(out, (Names{"xby", "xa1y", "xa2y", "xy"}));
  out.clear();
  ASSERT_TRUE(core::expand_braces("[{]{p,q}", out, 100));
  EXPECT_EQ(out, (Names{"[{]p", "[{]q"}));
  out.clear();
  EXPECT_FALSE(core::expand_braces("{a,b}{a,b}{a,b}", out, 7));
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
    core::GlobResult result = core::glob_expand(word);
    EXPECT_EQ(result.glob_error, nullptr) << result.glob_error;
    return result.names;
  }

  const scratch::ScratchDir site_{"glob"};
  const std::string dir_ = site_.path();
  std::filesystem::path old_cwd_;
};

TEST_F(GlobTest, ExpandsSortedPerAlternativeAndIntoDirectories) {
  const std::pair<std::string, Names> rows[] = {
      {"*.txt", {"a.txt", "b.txt"}},  // sorted; hidden names skipped
      {".*.txt", {".hidden.txt"}},
      {"?.nfo", {"c.nfo"}},
      {"[ab].txt", {"a.txt", "b.txt"}},
      // Brace alternatives are separate patterns.
      {"{c,a}.*", {"c.nfo", "a.txt"}},
      {"*.{nfo,txt}", {"c.nfo", "a.txt", "b.txt"}},
      {"{", {"{"}},
      {"{}", {"{}"}},
      {"*/*.txt", {"sub/x.txt", "sub2/z.txt"}},
      {"sub*/y.nfo", {"sub/y.nfo"}},  // the fixed tail must exist
      {"*/", {"sub/", "sub2/"}},      // files are no directories
      {dir_ + "/sub/*", {dir_ + "/sub/x.txt", dir_ + "/sub/y.nfo"}},
      // A word without magic comes back unchanged; no match is no error.
      {"does-not-exist", {"does-not-exist"}},
      {"-la", {"-la"}},
      {"{p,q}", {"p", "q"}},
      {"*.zip", {}},
      {"sub/*.zip", {}},
  };
  for (const auto& [word, names] : rows) EXPECT_EQ(glob(word), names) << word;
}

TEST_F(GlobTest, TildeMeansTheRoot) {
  const Names names = glob("~/tm*");
  EXPECT_NE(std::find(names.begin(), names.end(), "/tmp"), names.end());
}

TEST_F(GlobTest, UnreadableDirectoryPartOrOverlongPathIsAnError) {
  for (const auto& [word, error] : {std::pair<std::string, const char*>{"nodir/*", "Bad directory components"},
                                    {"a.txt/*", "Bad directory components"},
                                    {std::string(8200, 'd') + "/*", "Pathname too long"}}) {
    const core::GlobResult result = core::glob_expand(word);
    EXPECT_STREQ(result.glob_error, error) << word.substr(0, 20);
    EXPECT_TRUE(result.names.empty()) << word.substr(0, 20);
  }
}

TEST_F(GlobTest, AWordThatWouldReadDirectoriesWithoutEndIsRefused) {
  // Two links to their own directory: every "*/" level reads it twice as
  // often, though nothing is ever found.
  std::filesystem::create_directory("loop");
  std::filesystem::create_directory_symlink(".", "loop/a");
  std::filesystem::create_directory_symlink(".", "loop/b");
  std::string word = "loop";
  for (int level = 0; level < 13; ++level) word += "/*";
  const core::GlobResult result = core::glob_expand(word + "/none");
  EXPECT_STREQ(result.glob_error, "Arguments too long");
  EXPECT_TRUE(result.names.empty());
  EXPECT_EQ(core::glob_expand("loop/*/*/*/none").glob_error, nullptr);
}

TEST_F(GlobTest, TooManyNamesAreRefused) {
  std::filesystem::create_directory("many");
  for (int i = 0; i < 21844; ++i) std::ofstream touch("many/" + std::to_string(i));
  std::filesystem::current_path("many");
  // Names "0".."21843" stay under the byte limit, so the count decides.
  core::GlobResult result = core::glob_expand("*");
  EXPECT_STREQ(result.glob_error, "Arguments too long");
  EXPECT_TRUE(result.names.empty());
  std::filesystem::remove("0");
  result = core::glob_expand("*");
  EXPECT_EQ(result.glob_error, nullptr);
  EXPECT_EQ(result.names.size(), 21843u);
  std::filesystem::current_path("..");
  // With the directory in front the same names exceed the byte limit.
  result = core::glob_expand("many/*");
  EXPECT_STREQ(result.glob_error, "Arguments too long");
  result = core::glob_expand("many/1????");
  EXPECT_EQ(result.glob_error, nullptr);
  EXPECT_EQ(result.names.size(), 10000u);
}

}  // namespace
