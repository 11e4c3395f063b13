// Nukes without a site: the nuke-log record bytes, nuked names, argument
// and marker parsing, and the arithmetic that charges and refunds
// uploaders (64-bit products, counters held between 0 and their maximum).
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ostream>

#include "releases/nuke_settings.h"
#include "releases/nukelog.h"
#include "site/nuke_accounting.h"
#include "site/nuke_arguments.h"

namespace {

TEST(NukelogRecord, FieldsLieWhereOtherProgramsReadThem) {
  const std::string long_reason(60, 'r');
  const releases::NukelogEntry record =
      releases::make_nuke_record("siteop", "a-very-long-uploader", 3, 2.0f, "/site/Rel", long_reason);
  unsigned char bytes[sizeof record];
  std::memcpy(bytes, &record, sizeof record);
  EXPECT_EQ(bytes[0] | bytes[1] << 8, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 8), 6), "siteop");
  EXPECT_EQ(bytes[8 + 6], 0);
  // A name filling its 12 bytes is not terminated.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 32), 12), "a-very-long-");
  EXPECT_EQ(bytes[44] | bytes[45] << 8, 3);
  float amount = 0;
  std::memcpy(&amount, bytes + 48, 4);
  EXPECT_EQ(amount, 2.0f);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 52), 60), long_reason);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 112)), "/site/Rel");
  for (std::size_t at = 367; at < 376; ++at) EXPECT_EQ(bytes[at], 0) << at;
}

TEST(NukedName, TemplateReplacesTheLastComponent) {
  EXPECT_EQ(releases::nuked_name_from("NUKED-%N", "/site/incoming/Some.Rel"), "/site/incoming/NUKED-Some.Rel");
  EXPECT_EQ(releases::nuked_name_from("%N-100%%", "/a/b"), "/a/b-100%");
  EXPECT_EQ(releases::nuked_name_from("x%qy%", "/a/b"), "/a/x%?y%");
}

struct ParseCase {
  const char* text;
  bool with_multiplier;
  const char* directory;
  const char* multiplier;  // nullptr: none
  const char* reason;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class NukeArgumentParsing : public ::testing::TestWithParam<ParseCase> {};

TEST_P(NukeArgumentParsing, SplitsDirectoryMultiplierAndReason) {
  const ParseCase& c = GetParam();
  const site::NukeArguments parsed = site::parse_nuke_arguments(c.text, c.with_multiplier);
  EXPECT_EQ(parsed.directory, c.directory);
  EXPECT_EQ(parsed.multiplier.has_value(), c.multiplier != nullptr);
  if (c.multiplier && parsed.multiplier) {
    EXPECT_EQ(*parsed.multiplier, c.multiplier);
  }
  EXPECT_EQ(parsed.reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, NukeArgumentParsing,
    ::testing::Values(ParseCase{"Rel 3 fake  [re-encode] ", true, "Rel", "3", "fake [re-encode]"},
                      ParseCase{"Rel 3 dupe of {Other}", true, "Rel", "3", "dupe of {Other}"},
                      ParseCase{"{My Rel} 2 bad", true, "My Rel", "2", "bad"},
                      ParseCase{"{My Rel 2 bad", true, "", nullptr, ""},
                      ParseCase{"Rel", true, "Rel", nullptr, ""},
                      ParseCase{"{Old Rel}", false, "Old Rel", nullptr, ""},
                      ParseCase{"Rel oops  sorry", false, "Rel", nullptr, "oops sorry"}));

TEST(NukeMultiplier, OnlyDecimalNumbers) {
  EXPECT_EQ(site::parse_multiplier("3"), 3);
  EXPECT_EQ(site::parse_multiplier("-1"), -1);
  EXPECT_EQ(site::parse_multiplier("70000"), 70000);
  EXPECT_GT(*site::parse_multiplier("99999999999999999999999"), 65535);
  EXPECT_FALSE(site::parse_multiplier("bad"));
  EXPECT_FALSE(site::parse_multiplier("3x"));
  EXPECT_FALSE(site::parse_multiplier("-"));
}

TEST(NukeMarker, NameAndMultiplierRoundTrip) {
  const std::string name = site::marker_name(3, "siteop", "fake [re-encode] a/b;c\x01");
  EXPECT_EQ(name, "NUKED 3x by siteop - fake _re-encode_ a_b_c_");
  EXPECT_EQ(site::marker_multiplier(name), 3);
  EXPECT_FALSE(site::marker_multiplier("NUKED-Sample"));
  EXPECT_FALSE(site::marker_multiplier("NUKED x by siteop - r"));
  EXPECT_FALSE(site::marker_multiplier("Some NUKED 3x by siteop - r"));
}

TEST(NukeCredits, ProductsAre64BitAndFactorsFollowTheMultipliers) {
  EXPECT_EQ(site::credit_factor(3, 3, 3), 5);
  EXPECT_EQ(site::credit_factor(0, 3, 3), 0);
  EXPECT_EQ(site::credit_factor(3, 0, 3), 0);
  EXPECT_EQ(site::credit_factor(3, 3, 0), 0);
  // A 5 GiB file at x3 for a ratio-3 uploader.
  EXPECT_EQ(site::file_credit_kib(5ull << 30, 5), 26214400);
  EXPECT_EQ(site::clamped_product(LLONG_MAX, 2), LLONG_MAX);
  EXPECT_EQ(site::clamped_product(LLONG_MAX, -2), -LLONG_MAX);
}

TEST(NukeStatistics, TakeAndGiveBackStayInRange) {
  const site::PeriodStarts starts{100, 50, 10};
  core::SectionRecord section;
  section.allup = {2, 2048, 10};
  section.dayup = {1, 0, 5};  // no KiB: left alone
  section.wkup = {2, 2048, 10};
  section.monthup = {2, 2048, 10};
  site::take_upload(section, 5ull << 30, 200, starts);
  EXPECT_EQ(section.allup.files, 1);
  EXPECT_EQ(section.allup.amount, 0u);
  EXPECT_EQ(section.allup.time, 5u);
  EXPECT_EQ(section.dayup.files, 1);
  EXPECT_EQ(section.wkup.amount, 0u);

  core::SectionRecord full;
  full.allup = {INT32_MAX, UINT32_MAX - 1, 0};
  site::give_back_upload(full, 5ull << 30, 0, starts);
  EXPECT_EQ(full.allup.files, INT32_MAX);
  EXPECT_EQ(full.allup.amount, UINT32_MAX);
  EXPECT_EQ(full.wkup.files, 0);  // modified before the week began

  core::SectionRecord nuked;
  site::uncount_nuke(nuked, 3 << 20);
  EXPECT_EQ(nuked.times_nuked, 0);
  EXPECT_EQ(nuked.nuked_mb, 0u);
  site::count_nuke(nuked, 1234, 5ull << 30);
  EXPECT_EQ(nuked.times_nuked, 1);
  EXPECT_EQ(nuked.nuked_mb, 5120u);
  EXPECT_EQ(nuked.last_nuked, 1234u);
}

}  // namespace
