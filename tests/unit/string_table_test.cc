// The default strings source against the table of records the server
// sends: it compiles, loads, holds every record, and the last line of each
// record takes exactly the arguments the server passes.
#include "core/string_table.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/strings.h"
#include "core/strings_codec.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class DefaultStrings : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string source = read_file(std::string(MARLOD_SOURCE_DIR) + "/site/strings.txt");
    ASSERT_FALSE(source.empty());
    std::vector<core::StringRecord> records;
    core::SourceError error;
    ASSERT_TRUE(core::parse_strings_source(source, records, error))
        << "site/strings.txt:" << error.line << ": " << error.message;
    char path[] = "/tmp/marlod-string-table-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string binary = core::encode_strings(records);
    ASSERT_EQ(write(fd, binary.data(), binary.size()), static_cast<ssize_t>(binary.size()));
    close(fd);
    loaded_ = core::load_strings(path);
    std::remove(path);
  }
  static inline int loaded_ = -1;
};

TEST_F(DefaultStrings, LoadsThroughTheServerLoader) { EXPECT_EQ(loaded_, 0); }

TEST_F(DefaultStrings, HoldsEveryRecordTheServerSends) {
  for (const core::StringUse& use : core::string_table())
    EXPECT_NE(core::find_string(use.number), nullptr) << "record " << use.number << ": " << use.note;
}

TEST_F(DefaultStrings, LastLinesTakeTheArgumentsTheServerPasses) {
  for (const core::StringUse& use : core::string_table()) {
    const core::StringRecord* record = core::find_string(use.number);
    if (!record) continue;
    EXPECT_EQ(core::format_argument_kinds(record->lines.back()), use.kinds)
        << "record " << use.number << " (" << use.note << "): " << record->lines.back();
  }
}

TEST_F(DefaultStrings, EarlierLinesHoldNoConversions) {
  // Earlier lines are sent verbatim, so a conversion there would reach the
  // client as written.
  for (const core::StringUse& use : core::string_table()) {
    const core::StringRecord* record = core::find_string(use.number);
    if (!record) continue;
    for (std::size_t i = 0; i + 1 < record->lines.size(); ++i)
      EXPECT_EQ(record->lines[i].find('%'), std::string::npos)
          << "record " << use.number << " line " << i + 1;
  }
}

TEST(StringTable, LookupFindsEveryRowAndNothingElse) {
  for (const core::StringUse& use : core::string_table()) {
    ASSERT_EQ(core::find_string_use(use.number), &use);
    EXPECT_GE(use.number, 1);
    EXPECT_LE(use.number, 20000);
    EXPECT_EQ(std::string(use.kinds).find_first_not_of("sdfc"), std::string::npos) << use.number;
  }
  EXPECT_EQ(core::find_string_use(0), nullptr);
  EXPECT_EQ(core::find_string_use(18), nullptr);
  EXPECT_EQ(core::find_string_use(20001), nullptr);
}

TEST(FormatArgumentKinds, FollowsTheFormatter) {
  EXPECT_EQ(core::format_argument_kinds("plain"), "");
  EXPECT_EQ(core::format_argument_kinds("%s %ld %lu %x %.1f %e %c %%"), "sdddffc");
  EXPECT_EQ(core::format_argument_kinds("%-*.*s %n %y"), "dds");
  EXPECT_EQ(core::format_argument_kinds("cut %-5"), "");
}

}  // namespace
