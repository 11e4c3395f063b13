// Text files as multi-line replies: variants, line handling, the include
// and condition directives, list directives that show nothing yet, the
// shipped texts.
#include "text/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/config_store.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/user_record.h"
#include "scratch_site.h"
#include "text/colour.h"
#include "text/cookie_values.h"
#include "text/cookies.h"

namespace {

namespace fsys = std::filesystem;

template <std::size_t N>
void set_field(char (&field)[N], const char* value) {
  std::snprintf(field, N, "%s", value);
}

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"text", "help", "users"}) site_.make_dir(folder);
    core::Session& s = core::session();
    saved_user_ = s.user;
    s.user = core::UserRecord{};
    set_field(s.user.name, "bob");
    set_field(s.user.flags, "3");
    set_field(s.user.groups[0], "Friends");
    set_field(s.user.private_groups[0], "Staff");
    set_field(s.data_path, dir_.c_str());
    set_field(s.cwd, "/");
    s.color_mode = 0;
    s.show_continuations = 1;
    s.tz_offset = 0;
    config::clear_config();
  }
  void TearDown() override {
    core::set_output_filter(nullptr);
    core::session().user = saved_user_;
    core::session().color_mode = 0;
  }

  std::string write(const std::string& relative, const std::string& content) { return site_.write(relative, content); }
  std::string written() { return replies_.text(); }

  const scratch::ScratchDir site_{"textfile"};
  const std::string dir_ = site_.path();
  scratch::ReplyTap replies_;
  core::UserRecord saved_user_;
};

TEST_F(TextFileTest, LinesBecomeContinuationLinesWithCookiesAndMissingFilesShowNothing) {
  EXPECT_EQ(text::show_text_file(230, (dir_ + "/text/none").c_str()), 0);
  EXPECT_EQ(text::show_text_file(230, nullptr), 0);
  EXPECT_EQ(written(), "");
  const std::string path = write("text/welcome", "Hello %[%s]Iu!\n\r\nbefore\rafter\nlast line without end");
  EXPECT_EQ(text::show_text_file(230, path.c_str()), 1);
  EXPECT_EQ(written(), "230- Hello bob!\r\n230-  \r\n230- before\r\n230- last line without end\r\n");
}

TEST_F(TextFileTest, LongLinesArriveInPieces) {
  const std::string path = write("text/long", std::string(1500, 'x') + "\n");
  EXPECT_EQ(text::show_text_file(200, path.c_str()), 1);
  EXPECT_EQ(written(), "200- " + std::string(1023, 'x') + "\r\n200- " + std::string(477, 'x') + "\r\n");
}

TEST_F(TextFileTest, VariantsRotateWithTheClock) {
  const std::string path = write("text/x", "zero\n");
  EXPECT_EQ(text::choose_variant(path, 12345), path);
  write("text/x.2", "two\n");  // without x.1 there are no variants
  EXPECT_EQ(text::choose_variant(path, 12345), path);
  write("text/x.1", "one\n");
  EXPECT_EQ(text::choose_variant(path, 300), path);
  EXPECT_EQ(text::choose_variant(path, 301), path + ".1");
  EXPECT_EQ(text::choose_variant(path, 302), path + ".2");
  EXPECT_EQ(text::choose_variant(path, 303), path);

  const time_t now = core::now();
  const char* expected[] = {"200- zero\r\n", "200- one\r\n", "200- two\r\n"};
  std::string shown;
  text::show_text_file(200, path.c_str());
  shown = written();
  const time_t after = core::now();
  // The second may turn while the file is shown; either variant is right.
  EXPECT_TRUE(shown == expected[now % 3] || shown == expected[after % 3]) << shown;
}

TEST_F(TextFileTest, FlagIncludesNeedOneOfTheFlagsAndAPath) {
  const std::string staff = write("text/staff", "staff only\n");
  const std::string path = write("text/main", "top\n%=12" + staff + "\n%=3" + staff + "\n%=3 nothing here\n%=\nend\n");
  EXPECT_EQ(text::show_text_file(200, path.c_str()), 1);
  EXPECT_EQ(written(), "200- top\r\n200- staff only\r\n200- end\r\n");
}

TEST_F(TextFileTest, PlainAndGroupIncludes) {
  const std::string part = write("text/part", "part %[%s]Iu\n");
  const std::string path = write("text/main",
                                 "%! " + part + "\n%@Staff   " + part + "  \n%@Friends " + part +
                                     "\n%@Others " + part + "\n%@Staff\n%! " + dir_ + "/text/none\n");
  EXPECT_EQ(text::show_text_file(200, path.c_str()), 1);
  EXPECT_EQ(written(), "200- part bob\r\n200- part bob\r\n200- part bob\r\n");
}

TEST_F(TextFileTest, IncludesOfDevicesAndPipesShowNothing) {
  const std::string pipe = dir_ + "/text/pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  const std::string path = write("text/main", "top\n%! /dev/zero\n%! " + pipe + "\nend\n");
  EXPECT_EQ(text::show_text_file(200, path.c_str()), 1);
  EXPECT_EQ(written(), "200- top\r\n200- end\r\n");
}

TEST_F(TextFileTest, SelfIncludingFileStops) {
  const std::string path = dir_ + "/text/loop";
  write("text/loop", "again\n%! " + path + "\n");
  EXPECT_EQ(text::show_text_file(200, path.c_str()), 1);
  const std::string out = written();
  std::size_t lines = 0;
  for (std::size_t at = out.find("again"); at != std::string::npos; at = out.find("again", at + 1)) ++lines;
  EXPECT_GT(lines, 1u);
  EXPECT_LT(lines, 20u);
}

// Found by fuzzing: three includes of itself per level made 3^8 files.
TEST_F(TextFileTest, SelfIncludingFileShowsAtMostThirtyTwoFiles) {
  const std::string path = dir_ + "/text/tree";
  write("text/tree", "again\n%! " + path + "\n%=3" + path + "\n%@Friends " + path + "\n");
  EXPECT_EQ(text::show_text_file(200, path.c_str()), 1);
  const std::string out = written();
  std::size_t lines = 0;
  for (std::size_t at = out.find("again"); at != std::string::npos; at = out.find("again", at + 1)) ++lines;
  EXPECT_EQ(lines, 32u);
}

TEST_F(TextFileTest, ExecSendsTheCommandOutputAsItIs) {
  const std::string path = write("text/exec",
                                 "%EXEC   /bin/echo   %[%s]Iu   !!\n"
                                 "%EXEC /bin/sh -c echo\n"
                                 "%EXEC /no/such/program\n"
                                 "%EXEC\n"
                                 "after\n");
  EXPECT_EQ(text::show_text_file(200, path.c_str()), 1);
  // The output is no template: cookies in it stay as written.
  EXPECT_EQ(written(), "200- %[%s]Iu !!\r\n200- \r\n200- after\r\n");
}

TEST_F(TextFileTest, DateCookieGivesTheFileTime) {
  const std::string path = write("text/dated", "%[%s]D\n");
  struct utimbuf times {};
  times.actime = times.modtime = 86400 * 1000;
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  text::show_text_file(200, path.c_str());
  EXPECT_EQ(written(), "200- " + text::ctime_text(86400 * 1000) + "\r\n");
}

TEST_F(TextFileTest, ColourCodesFollowTheSessionColourMode) {
  text::install_colour_filter();
  const std::string path = write("text/colour", "!Hhi!0 there!!\n");
  text::show_text_file(200, path.c_str());
  core::session().color_mode = 1;
  text::show_text_file(200, path.c_str());
  EXPECT_EQ(written(),
            "200- hi there!\r\n"
            "200- \x1b[1;37m\x1b[1;37mhi\x1b[0m there!\x1b[0m\x1b[0;37m\r\n");
}

// The texts a new site starts with: every cookie they use must exist and
// every "!" must be a colour code, or the client sees "%?" and stray marks.
TEST_F(TextFileTest, ShippedTextsUseOnlyKnownCookiesAndCodes) {
  int files = 0;
  for (const auto& entry : fsys::directory_iterator(std::string(MARLOD_SOURCE_DIR) + "/site/text")) {
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      SCOPED_TRACE(entry.path().filename().string() + ": " + line);
      EXPECT_LE(line.size(), 255u);  // a template line holds at most 255 characters
      const text::CookieExpansion expansion = text::expand_cookie_text(line);
      EXPECT_FALSE(expansion.logout);
      EXPECT_EQ(expansion.text.find('%'), std::string::npos);
      EXPECT_EQ(text::strip_colours(expansion.text).find('!'), std::string::npos);
    }
  }
  EXPECT_GE(files, 7);
}

}  // namespace
