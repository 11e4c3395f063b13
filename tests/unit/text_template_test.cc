// The template store: lines below the data path's text directory, walked
// per file name in file order.
#include "config/text_template.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/session.h"
#include "scratch_site.h"

namespace {

class TextTemplateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.make_dir("text");
    std::strncpy(core::session().data_path, dir_.c_str(), sizeof core::session().data_path - 1);
    config::clear_text_templates();
  }
  void TearDown() override {
    config::clear_text_templates();
    core::session().data_path[0] = '\0';
  }

  void write(const std::string& name, const std::string& contents) { site_.write("text/" + name, contents); }

  static std::vector<std::string> lines(const char* name) {
    std::vector<std::string> result;
    const config::TextLine* cursor = nullptr;
    while (const config::TextLine* line = config::next_text_line(name, cursor)) result.emplace_back(line->line);
    return result;
  }

  const scratch::ScratchDir site_{"template"};
  const std::string dir_ = site_.path();
};

TEST_F(TextTemplateTest, NonEmptyLinesInFileOrder) {
  write("who.body", "first %s\n\n\r\nsecond\r\nlast without newline");
  ASSERT_EQ(config::load_text_template("who.body"), 1);
  EXPECT_EQ(lines("who.body"), (std::vector<std::string>{"first %s", "second", "last without newline"}));
}

TEST_F(TextTemplateTest, TemplatesAreWalkedByName) {
  write("who.body", "w1\nw2\n");
  write("new.body", "n1\n");
  ASSERT_EQ(config::load_text_template("who.body"), 1);
  ASSERT_EQ(config::load_text_template("new.body"), 1);
  EXPECT_EQ(lines("new.body"), std::vector<std::string>{"n1"});
  EXPECT_EQ(lines("who.body"), (std::vector<std::string>{"w1", "w2"}));
  EXPECT_TRUE(lines("who").empty());
  EXPECT_TRUE(config::text_template_loaded("new.body"));
  EXPECT_FALSE(config::text_template_loaded("swho.body"));
}

TEST_F(TextTemplateTest, LoadingTwiceAppendsTwice) {
  write("statline.txt", "line\n");
  ASSERT_EQ(config::load_text_template("statline.txt"), 1);
  ASSERT_EQ(config::load_text_template("statline.txt"), 1);
  EXPECT_EQ(lines("statline.txt").size(), 2u);
}

TEST_F(TextTemplateTest, MissingFileFailsEmptyFileSucceeds) {
  EXPECT_EQ(config::load_text_template("nukes.body"), 0);
  write("unnukes.body", "");
  EXPECT_EQ(config::load_text_template("unnukes.body"), 1);
  EXPECT_TRUE(lines("unnukes.body").empty());
  std::filesystem::create_directory(dir_ + "/text/dir.body");
  EXPECT_EQ(config::load_text_template("dir.body"), 0);
}

TEST_F(TextTemplateTest, LongLinesAndNamesAreCut) {
  write("show_totals.body", std::string(300, 'x') + "\n");
  write("section_longname_monthup.body", "row\n");
  ASSERT_EQ(config::load_text_template("show_totals.body"), 1);
  ASSERT_EQ(config::load_text_template("section_longname_monthup.body"), 1);
  EXPECT_EQ(lines("show_totals.body"), std::vector<std::string>{std::string(255, 'x')});
  // A long name is looked up with the same cut it was stored with.
  EXPECT_EQ(lines("section_longname_monthup.body"), std::vector<std::string>{"row"});
}

TEST_F(TextTemplateTest, ZeroBytesCannotOverrunTheLine) {
  write("who.body", std::string("ab\0cd\n", 6));
  ASSERT_EQ(config::load_text_template("who.body"), 1);
  EXPECT_EQ(lines("who.body"), std::vector<std::string>{"ab"});
}

}  // namespace
