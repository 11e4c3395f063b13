// The configuration reader: comments, placeholders, include, the
// client-address conditional, argument limits and hostile file contents.
#include "config/config_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scratch_site.h"

namespace {

std::vector<std::string> g_messages;
void capture(const std::string& message) { g_messages.push_back(message); }

class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config::clear_config();
    config::set_config_log_sink(capture);
    config::set_client_address("127.0.0.1");
    g_messages.clear();
  }
  void TearDown() override {
    config::clear_config();
    config::set_config_log_sink(nullptr);
  }

  std::string write(const std::string& name, const std::string& contents) { return site_.write(name, contents); }

  int read(const std::string& contents) { return config::read_config_file(write("marlod.conf", contents).c_str()); }

  // Every line with `key`, each as its argument words.
  static std::vector<std::vector<std::string>> lines(const char* key) {
    std::vector<std::vector<std::string>> result;
    const config::ConfigEntry* cursor = nullptr;
    while (const config::ConfigEntry* entry = config::next_config(key, cursor)) {
      std::vector<std::string>& words = result.emplace_back();
      for (int n = 1; entry->arg(n); ++n) words.emplace_back(entry->arg(n));
    }
    return result;
  }

  static int count_all() {
    int n = 0;
    const config::ConfigEntry* cursor = nullptr;
    // An empty key walks nothing; count through the keys used below.
    for (const char* key : {"a", "b", "c", "upload", "key", "x"}) {
      cursor = nullptr;
      while (config::next_config(key, cursor)) ++n;
    }
    return n;
  }

  const scratch::ScratchDir site_{"config"};
  const std::string dir_ = site_.path();
};

using Words = std::vector<std::vector<std::string>>;

TEST_F(ConfigStoreTest, CommentsAndBlankLinesOnlySucceedWithNoLines) {
  EXPECT_EQ(read("# a comment\n\n   \n\t# indented comment\n#\n"), 1);
  EXPECT_EQ(count_all(), 0);
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(ConfigStoreTest, EmptyMissingAndDirectoryFilesFailWithTheirMessages) {
  EXPECT_EQ(read(""), 0);
  EXPECT_TRUE(g_messages.empty());
  EXPECT_EQ(config::read_config_file((dir_ + "/missing.conf").c_str()), 0);
  EXPECT_EQ(config::read_config_file(dir_.c_str()), 0);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"cannot open config file: No such file or directory",
                                                  "error reading config file: Is a directory"}));
}

TEST_F(ConfigStoreTest, BackslashBeforeFirstHashKeepsWholeLine) {
  ASSERT_EQ(read("a one\\#two # three\nb #x\n#c whole line\nc x\\\n"), 1);
  // Only the first '#' decides: the later one stays as a word.
  EXPECT_EQ(lines("a"), (Words{{"one\\#two", "#", "three"}}));
  EXPECT_EQ(lines("b"), (Words{{}}));
  EXPECT_EQ(lines("c"), (Words{{"x\\"}}));
}

TEST_F(ConfigStoreTest, RewrittenArgumentKeeps200Characters) {
  const std::string long_word(300, 'x');
  ASSERT_EQ(read("a [:space:]" + long_word + " " + long_word + "\n"), 1);
  const Words got = lines("a");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0][0], " " + std::string(199, 'x'));
  EXPECT_EQ(got[0][1], long_word);  // untouched words are not cut
}

TEST_F(ConfigStoreTest, WordMadeOfPlaceholdersIsRewrittenInOnePass) {
  std::string word;
  for (int i = 0; i < 200000; ++i) word += "[:hash:]";
  ASSERT_EQ(read("a " + word + "\n"), 1);
  EXPECT_EQ(lines("a"), (Words{{std::string(200, '#')}}));
}

TEST_F(ConfigStoreTest, EveryMatchSeesAllLinesFirstMatchOnlyTheFirst) {
  ASSERT_EQ(read("key one\nother x\nkey two 2\nKEY three\n"), 1);
  EXPECT_EQ(lines("key"), (Words{{"one"}, {"two", "2"}}));  // lookups are case-sensitive
  EXPECT_STREQ(config::config_value("key"), "one");
  EXPECT_EQ(config::config_value("missing"), nullptr);
}

// Among many keywords (the lookup table grows past its first size) each
// walk meets its lines in file order, and a cursor left by another
// keyword's walk goes on from where it stands.
TEST_F(ConfigStoreTest, ManyKeywordsEachWalkInFileOrder) {
  std::string text;
  for (int round = 0; round < 2; ++round)
    for (int k = 0; k < 300; ++k) text += "key" + std::to_string(k) + " " + std::to_string(round) + "\n";
  ASSERT_EQ(read(text), 1);
  for (int k : {0, 63, 64, 299}) EXPECT_EQ(lines(("key" + std::to_string(k)).c_str()), (Words{{"0"}, {"1"}})) << k;
  const config::ConfigEntry* cursor = nullptr;
  ASSERT_NE(config::next_config("key9", cursor), nullptr);
  const config::ConfigEntry* line = config::next_config("key7", cursor);
  ASSERT_NE(line, nullptr);
  EXPECT_STREQ(line->arg(1), "1");
  EXPECT_EQ(config::next_config("key7", cursor), nullptr);
}

TEST_F(ConfigStoreTest, KeyWithoutArgumentsCountsAsUnconfigured) {
  ASSERT_EQ(read("key\n"), 1);
  EXPECT_EQ(lines("key").size(), 1u);
  EXPECT_EQ(config::config_value("key"), nullptr);
}

TEST_F(ConfigStoreTest, KeywordOfTwentyCharactersNeverMatches) {
  ASSERT_EQ(read("abcdefghijklmnopqrs nineteen\nabcdefghijklmnopqrst twenty\n"), 1);
  EXPECT_EQ(lines("abcdefghijklmnopqrs"), (Words{{"nineteen"}}));
  EXPECT_TRUE(lines("abcdefghijklmnopqrst").empty());
}

TEST_F(ConfigStoreTest, FiftyArgumentsAreKeptAndMoreAreLoggedOnce) {
  std::string line = "key";
  for (int i = 1; i <= 50; ++i) line += " w" + std::to_string(i);
  ASSERT_EQ(read(line + "\n" + line + " w51\nkey after\n"), 1);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0], "Too many args (>49) in config file: key w1 w2 w3 w4 ...");
  const Words got = lines("key");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].size(), 50u);
  ASSERT_EQ(got[1].size(), 50u);
  EXPECT_EQ(got[1][49], "w50");
  EXPECT_EQ(got[2], std::vector<std::string>{"after"});
}

// (The if and else parts by client address, mask globs, includes inside a
// skipped block, comments after values, placeholders, CR LF files and
// binary garbage: the end-to-end tests, which read the greeting back.)

TEST_F(ConfigStoreTest, SecondElseipSkipsTheRestOfTheBlock) {
  config::set_client_address("10.0.0.1");
  ASSERT_EQ(read("ifip 192.*\na 1\nelseip\nb 2\nelseip\nc 3\nendifip\nx 4\n"), 1);
  EXPECT_TRUE(lines("a").empty());
  EXPECT_EQ(lines("b").size(), 1u);
  EXPECT_TRUE(lines("c").empty());
  EXPECT_EQ(lines("x").size(), 1u);
}

TEST_F(ConfigStoreTest, IfipInsideSkippedBlockIsIgnored) {
  config::set_client_address("10.0.0.1");
  // The inner ifip would match, but there is no nesting: its elseip ends the
  // outer if part, and the first endifip ends everything.
  ASSERT_EQ(read("ifip 192.*\nifip 10.*\na 1\nelseip\nb 2\nendifip\nc 3\nendifip\n"), 1);
  EXPECT_TRUE(lines("a").empty());
  EXPECT_EQ(lines("b").size(), 1u);
  EXPECT_EQ(lines("c").size(), 1u);
}

TEST_F(ConfigStoreTest, IncludedLinesArriveInPlace) {
  const std::string extra = write("extra.conf", "key middle\n");
  ASSERT_EQ(read("key first\nInclude " + extra + " ignored-word\nkey last\n"), 1);
  EXPECT_EQ(lines("key"), (Words{{"first"}, {"middle"}, {"last"}}));
}

TEST_F(ConfigStoreTest, ConditionalNeverSpansAnIncludeBoundary) {
  config::set_client_address("172.16.0.1");
  // The included file opens a block it never closes; the including file's
  // lines after the include are unaffected.
  const std::string extra = write("extra.conf", "ifip 10.*\na skipped\n");
  ASSERT_EQ(read("include " + extra + "\nb kept\n"), 1);
  EXPECT_TRUE(lines("a").empty());
  EXPECT_EQ(lines("b").size(), 1u);
}

TEST_F(ConfigStoreTest, MissingIncludeIsLoggedAndSkipped) {
  const std::string missing = dir_ + "/nowhere.conf";
  ASSERT_EQ(read("a 1\ninclude " + missing + "\ninclude\nb 2\n"), 1);
  EXPECT_EQ(g_messages, (std::vector<std::string>{
                            "cannot open config file: No such file or directory",
                            "Error including file " + missing + " in config file",
                            "Missing filename for `include' in config file",
                        }));
  EXPECT_EQ(lines("a").size(), 1u);
  EXPECT_EQ(lines("b").size(), 1u);
}

TEST_F(ConfigStoreTest, EmptyIncludedFileCountsAsFailure) {
  const std::string empty = write("empty.conf", "");
  ASSERT_EQ(read("include " + empty + "\na 1\n"), 1);
  EXPECT_EQ(g_messages, std::vector<std::string>{"Error including file " + empty + " in config file"});
  EXPECT_EQ(lines("a").size(), 1u);
}

// Found by fuzzing: a file that included itself twice was read 2^16 times.
TEST_F(ConfigStoreTest, IncludeLoopIsRefused) {
  const std::string path = dir_ + "/loop.conf";
  write("loop.conf", "a 1\ninclude " + path + "\ninclude " + path + "\n");
  ASSERT_EQ(config::read_config_file(path.c_str()), 1);
  EXPECT_EQ(lines("a").size(), 1u);
  const std::string refused[] = {"Include loop at config file " + path, "Error including file " + path + " in config file"};
  EXPECT_EQ(g_messages, (std::vector<std::string>{refused[0], refused[1], refused[0], refused[1]}));
}

TEST_F(ConfigStoreTest, IncludesNestSixteenDeep) {
  for (int n = 0; n < 20; ++n)
    write("chain" + std::to_string(n) + ".conf", "a 1\ninclude " + dir_ + "/chain" + std::to_string(n + 1) + ".conf\n");
  ASSERT_EQ(config::read_config_file((dir_ + "/chain0.conf").c_str()), 1);
  EXPECT_EQ(lines("a").size(), 16u);
  ASSERT_FALSE(g_messages.empty());
  EXPECT_EQ(g_messages[0], "Includes nested too deeply (>16) at config file " + dir_ + "/chain16.conf");
}

TEST_F(ConfigStoreTest, ZeroBytesActAsBlanks) {
  ASSERT_EQ(read(std::string("a one\0two\nb x\n", 14)), 1);
  EXPECT_EQ(lines("a"), (Words{{"one", "two"}}));
  EXPECT_EQ(lines("b"), (Words{{"x"}}));
}

TEST_F(ConfigStoreTest, SecondFileAppendsAndClearForgets) {
  ASSERT_EQ(read("key one\n"), 1);
  ASSERT_EQ(config::read_config_file(write("second.conf", "key two\n").c_str()), 1);
  EXPECT_EQ(lines("key"), (Words{{"one"}, {"two"}}));
  config::clear_config();
  EXPECT_TRUE(lines("key").empty());
}

}  // namespace

namespace {

// The shipped sample is what every new site starts from.
TEST_F(ConfigStoreTest, SampleConfigurationReadsCleanly) {
  const std::string path = std::string(MARLOD_SOURCE_DIR) + "/site/marlod.conf";
  ASSERT_EQ(config::read_config_file(path.c_str()), 1);
  EXPECT_TRUE(g_messages.empty());
  // The site tool rewrites exactly one line of each of these.
  EXPECT_EQ(lines("rootpath"), (Words{{"/srv/marlod"}}));
  EXPECT_EQ(lines("datapath"), (Words{{"/ftp-data"}}));
  EXPECT_EQ(lines("ipc_key"), (Words{{"0x0000d00d"}}));
  EXPECT_EQ(lines("stat_section"), (Words{{"DEFAULT", "*", "no"}}));

}

}  // namespace
