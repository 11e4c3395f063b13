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

TEST_F(ConfigStoreTest, CommentAfterRuleKeepsOnlyWordsBeforeHash) {
  ASSERT_EQ(read("upload /site/* * # everybody may upload\n"), 1);
  EXPECT_EQ(lines("upload"), (Words{{"/site/*", "*"}}));
}

TEST_F(ConfigStoreTest, BackslashBeforeFirstHashKeepsWholeLine) {
  ASSERT_EQ(read("a one\\#two # three\nb #x\n#c whole line\nc x\\\n"), 1);
  // Only the first '#' decides: the later one stays as a word.
  EXPECT_EQ(lines("a"), (Words{{"one\\#two", "#", "three"}}));
  EXPECT_EQ(lines("b"), (Words{{}}));
  EXPECT_EQ(lines("c"), (Words{{"x\\"}}));
}

TEST_F(ConfigStoreTest, SpaceAndHashPlaceholdersBecomeOneWord) {
  ASSERT_EQ(read("a Hello[:space:]site[:hash:]1 [:hash:][:space:] plain\n"), 1);
  EXPECT_EQ(lines("a"), (Words{{"Hello site#1", "# ", "plain"}}));
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

constexpr const char* kNetworkBlock =
    "ifip 10.* 192.168.*\n"
    "a inside\n"
    "elseip\n"
    "b outside\n"
    "endifip\n"
    "c always\n";

TEST_F(ConfigStoreTest, IfipKeepsTheIfOrTheElsePartByTheClientAddress) {
  for (const char* address : {"192.168.1.5", "172.16.0.1"}) {
    config::clear_config();
    config::set_client_address(address);
    ASSERT_EQ(read(kNetworkBlock), 1);
    const bool inside = std::string(address) == "192.168.1.5";
    EXPECT_EQ(lines("a"), inside ? (Words{{"inside"}}) : Words{}) << address;
    EXPECT_EQ(lines("b"), inside ? Words{} : (Words{{"outside"}})) << address;
    EXPECT_EQ(lines("c"), (Words{{"always"}})) << address;
  }
}

TEST_F(ConfigStoreTest, IfipMasksUseTheFullGlob) {
  config::set_client_address("10.1.2.3");
  ASSERT_EQ(read("IFIP 192.* {172,10}.[0-9].2.? \na yes\nEndIfIp\n"), 1);
  EXPECT_EQ(lines("a"), (Words{{"yes"}}));
}

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

TEST_F(ConfigStoreTest, IncludeInsideSkippedBlockIsStillRead) {
  config::set_client_address("172.16.0.1");
  const std::string extra = write("extra.conf", "b from-include\n");
  ASSERT_EQ(read("ifip 10.*\ninclude " + extra + "\na skipped\nendifip\n"), 1);
  EXPECT_EQ(lines("b"), (Words{{"from-include"}}));
  EXPECT_TRUE(lines("a").empty());
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

TEST_F(ConfigStoreTest, SelfIncludeStopsInsteadOfRecursingForever) {
  const std::string path = dir_ + "/loop.conf";
  write("loop.conf", "a 1\ninclude " + path + "\n");
  ASSERT_EQ(config::read_config_file(path.c_str()), 1);
  EXPECT_EQ(lines("a").size(), 16u);
  ASSERT_FALSE(g_messages.empty());
  EXPECT_EQ(g_messages[0], "Includes nested too deeply (>16) at config file " + path);
}

TEST_F(ConfigStoreTest, CrLfAndMissingFinalNewline) {
  ASSERT_EQ(read("a one two\r\n\r\nb three\r\nc last"), 1);
  EXPECT_EQ(lines("a"), (Words{{"one", "two"}}));
  EXPECT_EQ(lines("b"), (Words{{"three"}}));
  EXPECT_EQ(lines("c"), (Words{{"last"}}));
}

TEST_F(ConfigStoreTest, ZeroBytesActAsBlanks) {
  ASSERT_EQ(read(std::string("a one\0two\nb x\n", 14)), 1);
  EXPECT_EQ(lines("a"), (Words{{"one", "two"}}));
  EXPECT_EQ(lines("b"), (Words{{"x"}}));
}

TEST_F(ConfigStoreTest, BinaryGarbageAndLongLinesAreSurvived) {
  std::string garbage;
  unsigned state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245u + 12345u;
    garbage.push_back(static_cast<char>(state >> 16));
  }
  garbage += "\na survived\n";
  garbage += "b " + std::string(1 << 20, 'y') + "\n";
  ASSERT_EQ(read(garbage), 1);
  EXPECT_EQ(lines("a"), (Words{{"survived"}}));
  ASSERT_EQ(lines("b").size(), 1u);
  EXPECT_EQ(lines("b")[0][0].size(), 1u << 20);
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
TEST_F(ConfigStoreTest, SampleConfigurationReadsCleanlyAndNamesEveryKey) {
  const std::string path = std::string(MARLOD_SOURCE_DIR) + "/site/marlod.conf";
  ASSERT_EQ(config::read_config_file(path.c_str()), 1);
  EXPECT_TRUE(g_messages.empty());
  // The site tool rewrites exactly one line of each of these.
  EXPECT_EQ(lines("rootpath"), (Words{{"/srv/marlod"}}));
  EXPECT_EQ(lines("datapath"), (Words{{"/ftp-data"}}));
  EXPECT_EQ(lines("ipc_key"), (Words{{"0x0000d00d"}}));
  EXPECT_EQ(lines("stat_section"), (Words{{"DEFAULT", "*", "no"}}));

  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* key :
       {"include", "ifip", "elseip", "endifip", "rootpath", "datapath", "pwd_path", "grp_path", "user_cache",
        "stat_section", "upload", "download", "resume", "overwrite", "makedir", "delete", "deleteown", "rename",
        "renameown", "filemove", "nuke", "nostats", "dirlog", "hideinwho", "privpath", "noretrieve", "path-filter",
        "-adduser", "-change", "-changeflags", "-changehomedir", "-changeratio", "-changesratio", "-chgrp",
        "-chgrp-priv", "-usercomment", "-userextra", "-msg*", "-msg=", "-msg{", "custom-", "hideuser", "privgroup",
        "secure_ip", "secure_pass", "min_homedir", "total_users", "banned_users", "master", "valid_ip",
        "bouncer_ip", "banner", "login_prompt", "sitename_long", "timezone", "pasv_ports", "sim_xfers",
        "mmap_amount", "file_dl_count", "free_space", "lslong", "use_dir_size", "botscript_path", "cscript",
        "color_mode", "welcome_msg", "shutdown", "idle_commands", "site_cmd", "email", "alias", "cdpath",
        "active_addr", "pasv_addr", "allow_fxp", "ascii_downloads", "creditloss", "freefile", "creditcheck",
        "tagline", "calc_crc", "dl_incomplete", "nodupecheck", "post_check", "file_names", "dir_names",
        "pre_dir_check", "hidden_files", "empty_nuke", "multiplier_max", "nukedir_style", "dupe_check",
        "ignore_type", "pre_check", "xdupe", "ipc_key", "max_users", "speed_limit", "show_diz", "show_totals",
        "newsfile", "msgpath", "sitename_short", "goodbye_msg", "max_sitecmd_lines", "requests", "oneliners",
        "lastonline"}) {
    const std::string as_line = std::string("\n") + key;
    const std::string as_example = std::string("\n#") + key;
    EXPECT_TRUE(text.find(as_line) != std::string::npos || text.find(as_example) != std::string::npos) << key;
  }
}

}  // namespace
