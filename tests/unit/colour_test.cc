// The "!" colour codes: translated for colour users, removed for others,
// and the reply layer's lines passing through the filter.
#include "text/colour.h"

#include <gtest/gtest.h>

#include <string>

#include "core/reply.h"
#include "core/session.h"
#include "scratch_site.h"

namespace {

const std::string kEsc(1, '\x1b');

struct CodeRow {
  char code;
  const char* sequence;
};

// Every code with its sequence, written out again here from the site
// documentation so a typo in the table shows up.
const CodeRow kTable[] = {
    {'0', "[0m"},      {'1', "[40m"},     {'2', "[41m"},     {'3', "[42m"},     {'4', "[43m"},
    {'5', "[44m"},     {'6', "[45m"},     {'7', "[46m"},     {'8', "[47m"},     {'A', "[1;30m"},
    {'B', "[1;31m"},   {'C', "[1;32m"},   {'D', "[1;33m"},   {'E', "[1;34m"},   {'F', "[1;35m"},
    {'G', "[1;36m"},   {'H', "[1;37m"},   {'Z', "[1m"},      {'K', "[5;1;30m"}, {'L', "[5;1;31m"},
    {'M', "[5;1;32m"}, {'N', "[5;1;33m"}, {'O', "[5;1;34m"}, {'P', "[5;1;35m"}, {'R', "[5;1;36m"},
    {'S', "[5;1;37m"}, {'a', "[30m"},     {'b', "[31m"},     {'c', "[32m"},     {'d', "[33m"},
    {'e', "[34m"},     {'f', "[35m"},     {'g', "[36m"},     {'h', "[37m"},     {'k', "[5;30m"},
    {'l', "[5;31m"},   {'m', "[5;32m"},   {'n', "[5;33m"},   {'o', "[5;34m"},   {'p', "[5;35m"},
    {'r', "[5;36m"},   {'s', "[5;37m"},
};

TEST(ColourCodes, EveryCodeTranslatesForColourUsersAndVanishesForOthers) {
  for (const CodeRow& row : kTable) {
    const std::string line = std::string("x!") + row.code + "y";
    EXPECT_EQ(text::translate_colours(line, true), "x" + kEsc + row.sequence + "y") << row.code;
    EXPECT_EQ(text::translate_colours(line, false), "xy") << row.code;
  }
}

TEST(ColourCodes, CharactersOutsideTheTableAreNoCodes) {
  int codes = 0;
  for (int c = 1; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    bool listed = false;
    for (const CodeRow& row : kTable) listed = listed || row.code == ch;
    if (listed) {
      ++codes;
      continue;
    }
    if (ch == '!') continue;
    const std::string line = std::string("!") + ch;
    EXPECT_EQ(text::translate_colours(line, true), line) << c;
    EXPECT_EQ(text::translate_colours(line, false), line) << c;
  }
  EXPECT_EQ(codes, 42);
}

TEST(ColourCodes, BangHandling) {
  EXPECT_EQ(text::translate_colours("wow!!", true), "wow!");
  EXPECT_EQ(text::translate_colours("wow!!", false), "wow!");
  EXPECT_EQ(text::translate_colours("!Q and !q", true), "!Q and !q");
  EXPECT_EQ(text::translate_colours("end!", true), "end!");
  EXPECT_EQ(text::translate_colours("!", false), "!");
  // "!!1": the pair gives "!", then "1" is plain text.
  EXPECT_EQ(text::translate_colours("!!1", true), "!1");
  // "!Q!1": the "!" before Q stays, Q is plain, then !1 is a code.
  EXPECT_EQ(text::translate_colours("!Q!1", true), "!Q" + kEsc + "[40m");
  EXPECT_EQ(text::translate_colours("!Q!1", false), "!Q");
  // A "!" before a non-code is kept and the following "!" starts a code.
  EXPECT_EQ(text::translate_colours("!x!!", false), "!x!");
  EXPECT_EQ(text::translate_colours("!1", false), "");
  EXPECT_EQ(text::strip_colours("!e[!G>>!g1.0MB!e]!0"), "[>>1.0MB]");
}

TEST(ColourCodes, LongLinesAreCutWithoutHalfSequences) {
  const std::string plain(9000, 'a');
  EXPECT_EQ(text::translate_colours(plain, false).size(), text::kColourLineLimit);

  // 8188 characters leave room for 3 more: "[0m" plus ESC needs 4, so the
  // sequence is dropped whole while the text after it still fits.
  const std::string nearly(8188, 'a');
  const std::string out = text::translate_colours(nearly + "!0xyz", true);
  EXPECT_EQ(out, nearly + "xyz");
  EXPECT_EQ(text::translate_colours(nearly + "!Hz", true), nearly + "z");
  // A sequence that fits exactly is kept.
  const std::string room(8187, 'a');
  EXPECT_EQ(text::translate_colours(room + "!0", true), room + kEsc + "[0m");
}

class ColourReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    text::install_colour_filter();
    saved_ = core::session().color_mode;
  }
  void TearDown() override {
    core::set_output_filter(nullptr);
    core::session().color_mode = saved_;
    core::session().raw_replies = 0;
  }
  std::string written() { return replies_.text(); }

  scratch::ReplyTap replies_;
  int saved_ = 0;
};

TEST_F(ColourReplyTest, ColourUserGetsEscapesOthersPlainText) {
  core::session().color_mode = 1;
  core::reply_text(200, "!Hbold!0 ok!!");
  core::session().color_mode = 0;
  core::reply_text(200, "!Hbold!0 ok!!");
  EXPECT_EQ(written(), "200 " + kEsc + "[1;37mbold" + kEsc + "[0m ok!\r\n200 bold ok!\r\n");
}

TEST_F(ColourReplyTest, RawRepliesBypassTheFilter) {
  core::session().raw_replies = 1;
  core::reply_text(257, "\"/inc/!1wow!!\"");
  EXPECT_EQ(written(), "257 \"/inc/!1wow!!\"\r\n");
}

}  // namespace
