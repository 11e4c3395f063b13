// The strings file: the loader's validity checks and log lines, line
// splitting and CR LF escapes, and how records reach the client as replies;
// plus the source form that mkstrings compiles.
#include "core/strings.h"

#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/reply.h"
#include "core/session.h"
#include "core/strings_codec.h"
#include "scratch_site.h"
#include "text/show_file.h"

namespace {

// One raw record; the header fields are given separately so tests can
// write headers that do not match their text.
std::string raw_record(std::uint32_t number, std::int32_t length, std::int32_t lines,
                       std::string_view text) {
  std::string out;
  for (std::uint32_t value : {number, static_cast<std::uint32_t>(length),
                              static_cast<std::uint32_t>(lines)})
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
  out.append(text);
  return out;
}

std::string record(std::uint32_t number, std::int32_t lines, std::string_view text) {
  return raw_record(number, static_cast<std::int32_t>(text.size()), lines, text);
}

class StringsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::session().show_continuations = 1;
    core::session().color_mode = 0;
  }

  std::string write_file(const std::string& name, const std::string& bytes) { return site_.write(name, bytes); }

  int load(const std::string& bytes) { return core::load_strings(write_file("mrstrings.bin", bytes)); }

  // Loads and also returns what the loader logged through syslog.
  int load_logged(const std::string& bytes, std::string& logged) {
    const std::string path = write_file("mrstrings.bin", bytes);
    std::fflush(stderr);
    const int saved = dup(2);
    const std::string log_path = dir_ + "/syslog.txt";
    std::FILE* log = std::fopen(log_path.c_str(), "w");
    dup2(fileno(log), 2);
    openlog("strings_test", LOG_PERROR, LOG_USER);
    const int result = core::load_strings(path);
    closelog();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(log);
    logged = scratch::read_file(log_path);
    return result;
  }

  // The replies sent since the last call.
  std::string sent() {
    const std::string text = replies_.text();
    replies_.clear();
    return text;
  }

  const scratch::ScratchDir site_{"strings"};
  const std::string dir_ = site_.path();
  scratch::ReplyTap replies_;
};

TEST_F(StringsTest, HeaderLimitsAreEnforced) {
  EXPECT_EQ(load(record(1, 1, "a") + record(20000, 1, "b")), 0);
  EXPECT_EQ(load(record(7, 50, std::string(49, '\n').insert(0, std::string(50, 'x'))) ), 1)
      << "fewer pieces than lines";

  std::string fifty;
  for (int i = 0; i < 50; ++i) fifty += "l\n";
  EXPECT_EQ(load(record(7, 50, fifty)), 0);
  EXPECT_EQ(load(record(7, 1, std::string(20480, 'x'))), 0);

  struct Case { std::string bytes; const char* log; };
  const Case bad[] = {
      {record(0, 1, "a"), "mrstrings record #0 corrupted"},
      {record(20001, 1, "a"), "mrstrings record #20001 corrupted"},
      {record(5, 0, "a"), "mrstrings record #5 corrupted"},
      {record(5, 51, fifty + "x\n"), "mrstrings record #5 corrupted"},
      {raw_record(5, 0, 1, ""), "mrstrings record #5 corrupted"},
      {record(5, 1, std::string(20481, 'x')), "mrstrings record #5 corrupted"},
      {raw_record(5, -1, 1, "a"), "mrstrings record #5 corrupted"},
      {raw_record(6, 10, 1, "short"), "mrstrings record #6 corrupted"},
      {record(8, 3, "one\ntwo\n"), "mrstrings missing text: corrupted record #8"},
      {record(8, 2, "\n\n\n"), "mrstrings missing text: corrupted record #8"},
  };
  for (const Case& c : bad) {
    std::string logged;
    EXPECT_EQ(load_logged(record(1, 1, "fine") + c.bytes, logged), 1) << c.log;
    EXPECT_NE(logged.find(c.log), std::string::npos) << "logged: " << logged;
  }
}

TEST_F(StringsTest, MissingFileFailsAndTrailingBytesEndTheFile) {
  EXPECT_EQ(core::load_strings(dir_ + "/nothing.bin"), 1);
  EXPECT_EQ(load(""), 0);
  // Fewer than twelve bytes after the last record cannot be a header.
  EXPECT_EQ(load(record(3, 1, "three") + "\x01\x02\x03"), 0);
  ASSERT_NE(core::find_string(3), nullptr);
  EXPECT_EQ(core::find_string(3)->lines.at(0), "three");
}

TEST_F(StringsTest, LinesSplitAtRunsOfNewlinesWithCrLfEscapesExpanded) {
  ASSERT_EQ(load(record(1, 3, "\n\nfirst\n\n\nsecond\\r\\nhalf\nthird\\r\\n\nextra")), 0);
  const core::StringRecord* r = core::find_string(1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->lines, (std::vector<std::string>{"first", "second\r\nhalf", "third\r\n"}));
}

TEST_F(StringsTest, FirstOccurrenceOfANumberWins) {
  ASSERT_EQ(load(record(4, 1, "first") + record(4, 1, "second")), 0);
  core::string_reply(200, 4, 0);
  EXPECT_EQ(sent(), "200 first\r\n");
}

TEST_F(StringsTest, OnlyTheLastLineTakesArguments) {
  ASSERT_EQ(load(record(10, 3, "Hello %s\n100%% sure\nBye %s, %d files")), 0);
  core::string_reply(226, 10, 0, "joe", 12);
  EXPECT_EQ(sent(), "226- Hello %s\r\n226- 100%% sure\r\n226 Bye joe, 12 files\r\n");
  core::string_reply(226, 10, 1, "ann", 3);
  EXPECT_EQ(sent(), "226- Hello %s\r\n226- 100%% sure\r\n226- Bye ann, 3 files\r\n");
}

TEST_F(StringsTest, ConversionsThatDoNotFitTheirArgumentsAreSafe) {
  ASSERT_EQ(load(record(11, 1, "%s %d %s %n %x")), 0);
  core::string_reply(200, 11, 0, 42);
  EXPECT_EQ(sent(), "200 42 0  %n 0\r\n");
}

TEST_F(StringsTest, UnknownNumberSaysSo) {
  ASSERT_EQ(load(record(1, 1, "one")), 0);
  core::string_reply(550, 777, 0, "ignored");
  EXPECT_EQ(sent(), "550 No such string (number 777) found!\r\n");
  core::string_reply(550, 778, 1);
  EXPECT_EQ(sent(), "550- No such string (number 778) found!\r\n");
}

TEST_F(StringsTest, FileLinesSendTheFileThroughTheInstalledDisplay) {
  core::set_text_file_shower(text::show_file);
  const std::string motd = write_file("motd", "line one\n\rline two\r\n");
  ASSERT_EQ(load(record(20, 1, "%file:" + motd) + record(21, 2, "%file:" + motd + "\nafter %s") +
                 record(22, 2, "%file:" + dir_ + "/gone\n%file:" + dir_ + "/gone")),
            0);

  core::string_reply(230, 20, 0);
  EXPECT_EQ(sent(), "230- line one\r\n230-  line two\r\n230  \r\n");
  core::string_reply(230, 20, 1);
  EXPECT_EQ(sent(), "230- line one\r\n230-  line two\r\n");

  core::string_reply(250, 21, 0, "x");
  EXPECT_EQ(sent(), "250- line one\r\n250-  line two\r\n250 after x\r\n");

  core::string_reply(200, 22, 0);
  EXPECT_EQ(sent(), "200- Invalid file " + dir_ + "/gone\r\n200 Invalid file " + dir_ + "/gone\r\n");

  core::set_text_file_shower(nullptr);  // no text layer: every file is unreadable
  core::string_reply(230, 20, 0);
  EXPECT_EQ(sent(), "230 Invalid file " + motd + "\r\n");
}

TEST_F(StringsTest, LongResultsAreCut) {
  ASSERT_EQ(load(record(30, 1, "%s")), 0);
  core::string_reply(200, 30, 0, std::string(20000, 'y'));
  EXPECT_EQ(sent(), "200 " + std::string(8191, 'y') + "\r\n");
}

TEST_F(StringsTest, ContinuationLinesCanBeSwitchedOff) {
  ASSERT_EQ(load(record(40, 2, "first\nlast %d")), 0);
  core::session().show_continuations = 0;
  core::string_reply(200, 40, 0, 5);
  core::session().show_continuations = 1;
  EXPECT_EQ(sent(), "200 last 5\r\n");
}

// The source form.

core::SourceError parse_error(std::string_view source) {
  std::vector<core::StringRecord> records;
  core::SourceError error;
  EXPECT_FALSE(core::parse_strings_source(source, records, error)) << source;
  return error;
}

TEST(StringsSource, ParsesRecordsNotesAndComments) {
  std::vector<core::StringRecord> records;
  core::SourceError error;
  const std::string source =
      "# header comment\n\n@7 the done line\r\nDone.\n\n\n@12\n# not a comment\n@ not a header"
      "\n  kept blanks  \n\n# between\n@20000\nlast";
  ASSERT_TRUE(core::parse_strings_source(source, records, error)) << error.message;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].number, 7u);
  EXPECT_EQ(records[0].lines, std::vector<std::string>{"Done."});
  EXPECT_EQ(records[1].lines,
            (std::vector<std::string>{"# not a comment", "@ not a header", "  kept blanks  "}));
  EXPECT_EQ(records[2].number, 20000u);
}

TEST(StringsSource, RefusesBadSourcesWithTheirLine) {
  EXPECT_EQ(parse_error("@1\na\n\nstray text\n").line, 4);
  EXPECT_EQ(parse_error("@x\na\n").line, 1);
  EXPECT_EQ(parse_error("@12a\na\n").line, 1);
  EXPECT_EQ(parse_error("\n@0\na\n").line, 2);
  EXPECT_EQ(parse_error("@20001\na\n").line, 1);
  EXPECT_EQ(parse_error("@99999999999999999999999\na\n").line, 1);
  EXPECT_EQ(parse_error("@5\n\n@6\nb\n").line, 1);  // a record without text
  EXPECT_EQ(parse_error("@5\na\n\n@6\nb\n\n@5\nc\n").message, "record @5 is already defined on line 1");

  std::string many = "@3\n";
  for (int i = 0; i < 51; ++i) many += "line\n";
  EXPECT_EQ(parse_error(many).line, 52);

  EXPECT_EQ(parse_error("@4\n" + std::string(20000, 'a') + "\n" + std::string(480, 'b') + "\n").line, 3);
  std::vector<core::StringRecord> records;
  core::SourceError error;
  EXPECT_TRUE(core::parse_strings_source("@4\n" + std::string(20000, 'a') + "\n" +
                                             std::string(479, 'b') + "\n",
                                         records, error));
}

TEST(StringsSource, BinaryAndSourceRoundTrip) {
  const std::vector<core::StringRecord> records = {
      {1, {"one"}}, {300, {"a \\r\\n b", "%s last"}}, {20000, {"@x", "# y"}},
      // A line of its own CR, or ending in one, reads back with it.
      {19999, {"\r", "end\r", "x"}}};
  const std::string binary = core::encode_strings(records);
  EXPECT_EQ(binary.substr(0, 12), std::string("\x01\0\0\0\x03\0\0\0\x01\0\0\0", 12));

  std::vector<core::StringRecord> decoded;
  ASSERT_EQ(core::decode_strings(binary, false, decoded).status, core::DecodeStatus::Ok);
  ASSERT_EQ(decoded.size(), 4u);
  EXPECT_EQ(decoded[1].lines, records[1].lines);

  std::vector<core::StringRecord> reparsed;
  core::SourceError error;
  ASSERT_TRUE(core::parse_strings_source(core::write_strings_source(decoded), reparsed, error))
      << error.line << ": " << error.message;
  EXPECT_EQ(core::encode_strings(reparsed), binary);
}

}  // namespace
